#include "cabinet/fci/blockpipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ravelin::fci {

namespace {

// Level 6 with the largest hash memory: the usual speed/size balance; the
// preset dictionary is what gains over writers that restart every block.
constexpr int kLevel = 6;
constexpr int kMemLevel = 9;

struct AllocPair {
    PFNFCIALLOC alloc;
    PFNFCIFREE release;
};

voidpf zAlloc(voidpf opaque, uInt items, uInt size)
{
    const auto* pair = static_cast<const AllocPair*>(opaque);
    const uint64_t bytes = uint64_t(items) * size;
    if (bytes > 0xFFFFFFFFu)
        return Z_NULL;
    return pair->alloc(uint32_t(bytes));
}

void zFree(voidpf opaque, voidpf address)
{
    static_cast<const AllocPair*>(opaque)->release(address);
}

inline void le16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

}  // namespace

MszipEncoder::~MszipEncoder()
{
    if (m_ready)
        deflateEnd(&m_z);
    if (m_z.opaque)
        m_free(m_z.opaque);
}

bool MszipEncoder::init(PFNFCIALLOC alloc, PFNFCIFREE release)
{
    m_alloc = alloc;
    m_free = release;
    m_z.zalloc = zAlloc;
    m_z.zfree = zFree;
    void* pair = alloc(sizeof(AllocPair));
    if (!pair)
        return false;
    m_z.opaque = new (pair) AllocPair{alloc, release};
    m_ready = deflateInit2(&m_z, kLevel, Z_DEFLATED, -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
    return m_ready;
}

void MszipEncoder::encode(Block& b)
{
    using namespace format;
    uint8_t* data = b.out + kDataHeaderSize;
    uint32_t cbData = 0;
    b.error = kErrNone;
    b.records = 0;
    if (b.type == kTypeNone) {
        std::memcpy(data, b.in, b.inLen);
        cbData = b.inLen;
    } else {
        data[0] = 'C';
        data[1] = 'K';
        bool stored = true;
        if (deflateReset(&m_z) != Z_OK) {
            b.error = kErrMciFail;
        } else if (b.dictLen && deflateSetDictionary(&m_z, b.dict, b.dictLen) != Z_OK) {
            b.error = kErrMciFail;
        } else {
            m_z.next_in = b.in;
            m_z.avail_in = b.inLen;
            m_z.next_out = data + 2;
            // One byte less than a stored block: anything that does not fit
            // would not have shrunk.
            m_z.avail_out = b.inLen + 5 - 1;
            const int rc = deflate(&m_z, Z_FINISH);
            if (rc == Z_STREAM_END) {
                stored = false;
                cbData = 2 + uint32_t(m_z.total_out);
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                b.error = kErrMciFail;
            }
        }
        if (stored && b.error == kErrNone) {
            if (b.failIncompressible)
                b.error = kErrMciFail;
            // A stored deflate block: BFINAL=1, BTYPE=00, then LEN and NLEN.
            data[2] = 0x01;
            le16(data + 3, b.inLen);
            le16(data + 5, ~b.inLen & 0xFFFF);
            std::memcpy(data + 7, b.in, b.inLen);
            cbData = b.inLen + kMszipOverhead;
        }
    }
    if (b.error != kErrNone)
        return;
    CFDATA d;
    d.cbData = uint16_t(cbData);
    d.cbUncomp = uint16_t(b.inLen);
    d.csum = blockChecksum(data, d.cbData, d.cbUncomp);
    put(d, b.out);
    b.records = 1;
    b.recordLen[0] = kDataHeaderSize + cbData;
    b.cbData[0] = cbData;
    b.cbUncomp[0] = b.inLen;
}

namespace {

// Compresses an LZX job on its folder's encoder: one record per frame.
void encodeLzx(Block& b)
{
    using namespace format;
    uint8_t* outs[Block::kMaxRecords];
    for (uint32_t k = 0; k < Block::kMaxRecords; ++k)
        outs[k] = b.out + k * Block::kRecordRoom + kDataHeaderSize;
    uint32_t bytes[Block::kMaxRecords];
    b.error = kErrNone;
    b.records = b.lzx->encoder.encode(b.in, b.inLen, outs, bytes);
    for (uint32_t k = 0; k < b.records; ++k) {
        const uint32_t uncompressed = std::min(kBlockSize, b.inLen - k * kBlockSize);
        if (b.failIncompressible && bytes[k] >= uncompressed)
            b.error = kErrMciFail;
        CFDATA d;
        d.cbData = uint16_t(bytes[k]);
        d.cbUncomp = uint16_t(uncompressed);
        d.csum = blockChecksum(outs[k], d.cbData, d.cbUncomp);
        put(d, outs[k] - kDataHeaderSize);
        b.recordLen[k] = kDataHeaderSize + bytes[k];
        b.cbData[k] = bytes[k];
        b.cbUncomp[k] = uncompressed;
    }
}

}  // namespace

void BlockPipeline::run(Block& b, MszipEncoder* mszip)
{
    if (b.lzx)
        encodeLzx(b);
    else
        mszip->encode(b);
}

BlockPipeline::~BlockPipeline()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_jobReady.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    for (MszipEncoder* e : m_encoders) {
        e->~MszipEncoder();
        m_free(e);
    }
    for (LzxStream* l : m_lzx) {
        l->~LzxStream();
        m_free(l);
    }
    for (Block* b : m_slots) {
        b->~Block();
        m_free(b);
    }
}

bool BlockPipeline::start(unsigned threads, PFNFCIALLOC alloc, PFNFCIFREE release)
{
    m_alloc = alloc;
    m_free = release;
    if (threads == 0)
        threads = 1;
    m_threadCount = threads;
    // Enough slots to keep every worker busy while finished blocks wait to
    // be written in order.
    const size_t slots = threads == 1 ? 1 : 2 * threads + 2;
    for (size_t i = 0; i < slots; ++i) {
        void* mem = alloc(sizeof(Block));
        if (!mem)
            return false;
        m_slots.push_back(new (mem) Block);
    }
    for (unsigned i = 0; i < threads; ++i) {
        void* mem = alloc(sizeof(MszipEncoder));
        if (!mem)
            return false;
        auto* e = new (mem) MszipEncoder;
        m_encoders.push_back(e);
        if (!e->init(alloc, release))
            return false;
    }
    if (threads > 1)
        for (MszipEncoder* e : m_encoders)
            m_threads.emplace_back([this, e] { workerLoop(e); });
    return true;
}

bool BlockPipeline::reserveSlots(size_t count)
{
    if (m_count)
        return false;
    m_head = 0;
    while (m_slots.size() < count) {
        void* mem = m_alloc(sizeof(Block));
        if (!mem)
            return false;
        m_slots.push_back(new (mem) Block);
    }
    return true;
}

LzxStream* BlockPipeline::acquireLzx(unsigned windowBits, bool* noMemory)
{
    *noMemory = false;
    LzxStream* idle = nullptr;
    for (LzxStream* l : m_lzx) {
        if (l->inUse)
            continue;
        if (l->encoder.windowBits() == windowBits) {
            l->encoder.reset();
            l->inUse = true;
            return l;
        }
        idle = l;
    }
    if (m_lzx.size() >= m_lzxLimit) {
        if (!idle)
            return nullptr;
        // An idle encoder of another window makes room for this one.
        m_lzx.erase(std::find(m_lzx.begin(), m_lzx.end(), idle));
        idle->~LzxStream();
        m_free(idle);
    }
    void* mem = m_alloc(sizeof(LzxStream));
    if (!mem) {
        *noMemory = true;
        return nullptr;
    }
    auto* l = new (mem) LzxStream;
    m_lzx.push_back(l);
    if (!l->encoder.init(windowBits, m_alloc, m_free)) {
        *noMemory = true;
        return nullptr;
    }
    l->inUse = true;
    return l;
}

void BlockPipeline::submit()
{
    Block& b = filling();
    ++m_count;
    if (m_threads.empty()) {
        run(b, m_encoders.front());
        b.done = true;
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        b.done = false;
        m_jobs.push_back(&b);
    }
    m_jobReady.notify_one();
}

Block* BlockPipeline::oldest(bool wait)
{
    Block* b = m_slots[m_head];
    if (m_threads.empty())
        return b;
    std::unique_lock lock(m_mutex);
    if (wait)
        m_jobDone.wait(lock, [b] { return b->done; });
    return b->done ? b : nullptr;
}

void BlockPipeline::releaseOldest()
{
    m_head = (m_head + 1) % m_slots.size();
    --m_count;
}

std::deque<Block*>::iterator BlockPipeline::runnable()
{
    return std::find_if(m_jobs.begin(), m_jobs.end(), [](const Block* b) { return !b->lzx || !b->lzx->busy; });
}

void BlockPipeline::workerLoop(MszipEncoder* encoder)
{
    for (;;) {
        Block* b = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_jobReady.wait(lock, [this] { return m_stop || runnable() != m_jobs.end(); });
            if (m_stop)
                return;
            const auto it = runnable();
            b = *it;
            m_jobs.erase(it);
            if (b->lzx)
                b->lzx->busy = true;
        }
        run(*b, encoder);
        {
            std::lock_guard lock(m_mutex);
            b->done = true;
            if (b->lzx)
                b->lzx->busy = false;
        }
        m_jobDone.notify_all();
        // The folder's next job may be waiting for this encoder.
        if (b->lzx)
            m_jobReady.notify_one();
    }
}

}  // namespace ravelin::fci
