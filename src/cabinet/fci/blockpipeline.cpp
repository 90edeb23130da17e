#include "cabinet/fci/blockpipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ravelin::fci {

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
        static_assert(DeflateEncoder::bound(kBlockSize) + 2 <= kMaxBlockData);
        bool stored = false;
        cbData = 2 + m_deflate.encode(b.dict, b.dictLen, b.in, b.inLen, data + 2, &stored);
        if (stored && b.failIncompressible)
            b.error = kErrMciFail;
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

} // namespace

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
    return std::find_if(m_jobs.begin(), m_jobs.end(),
                        [](const Block* b) { return !b->lzx || !b->lzx->busy; });
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

} // namespace ravelin::fci
