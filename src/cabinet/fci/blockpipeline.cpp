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

// Fills the records of an LZX job from its frames' bytes (LzxEncoder's
// frameBytes).
void finishLzx(Block& b, uint8_t* const* outs, const uint32_t* bytes)
{
    using namespace format;
    b.error = kErrNone;
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

// Compresses an LZX job on its folder's encoder, both steps or only the
// search or only the rest: one record per frame.
enum class LzxStep { All, Find, Encode };
void encodeLzx(Block& b, LzxStep step)
{
    using namespace format;
    LzxEncoder& e = b.lzx->encoder;
    if (step == LzxStep::Find) {
        e.findMatches(b.in, b.inLen);
        return;
    }
    uint8_t* outs[Block::kMaxRecords];
    for (uint32_t k = 0; k < Block::kMaxRecords; ++k)
        outs[k] = b.out + k * Block::kRecordRoom + kDataHeaderSize;
    uint32_t bytes[Block::kMaxRecords];
    b.records = step == LzxStep::All ? e.encode(b.in, b.inLen, outs, bytes) : e.encodeFound(outs, bytes);
    finishLzx(b, outs, bytes);
}

} // namespace

void BlockPipeline::run(Block& b, MszipEncoder* mszip)
{
    if (b.lzx)
        encodeLzx(b, LzxStep::All);
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
            l->submitted = l->nextFind = l->nextEncode = 0;
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
    b.order = m_submitted++;
    if (b.lzx)
        b.sequence = b.lzx->submitted++;
    if (m_threads.empty()) {
        run(b, m_encoders.front());
        b.done = true;
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        b.done = false;
        b.searching = false;
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
    // An LZX job's search needs the previous one's search done, a free
    // place for its matches, and, when it moves the window's bytes, no
    // searched job waiting for the parse that reads them. Its parse needs
    // its search and the previous job's parse done.
    return std::find_if(m_jobs.begin(), m_jobs.end(), [](const Block* b) {
        const LzxStream* s = b->lzx;
        if (!s)
            return true;
        if (b->searching)
            return false;
        if (b->sequence == s->nextFind) {
            const uint32_t waiting = s->nextFind - s->nextEncode;
            return !s->finding && waiting < LzxEncoder::kFoundCalls &&
                   (waiting == 0 || !s->encoder.findMovesBytes(b->inLen));
        }
        return b->sequence == s->nextEncode && !s->encoding;
    });
}

// The block that continues the last one this encoder took (the previous
// block of its folder, its history), else the first MSZIP block that does
// not continue the one another encoder took last, else `first`. Which
// encoder compresses a block never changes its bytes (deflateencoder.h).
std::deque<Block*>::iterator BlockPipeline::preferFollower(std::deque<Block*>::iterator first,
                                                           MszipEncoder* encoder)
{
    if (first == m_jobs.end() || (*first)->lzx)
        return first;
    const auto continues = [](const Block* b) {
        return !b->lzx && b->type != format::kTypeNone && b->dictLen != 0;
    };
    // Whether another encoder will want b: it took the block before.
    const auto claimed = [this](const Block* b) {
        return std::any_of(m_encoders.begin(), m_encoders.end(),
                           [b](const MszipEncoder* e) { return e->follower == b->order; });
    };
    auto pick = std::find_if(m_jobs.begin(), m_jobs.end(),
                             [&](const Block* b) { return continues(b) && b->order == encoder->follower; });
    if (pick == m_jobs.end())
        pick = std::find_if(first, m_jobs.end(),
                            [&](const Block* b) { return !b->lzx && !(continues(b) && claimed(b)); });
    if (pick == m_jobs.end())
        pick = first;
    encoder->follower = (*pick)->order + 1;
    return pick;
}

void BlockPipeline::workerLoop(MszipEncoder* encoder)
{
    for (;;) {
        Block* b = nullptr;
        LzxStep step = LzxStep::All;
        {
            std::unique_lock lock(m_mutex);
            m_jobReady.wait(lock, [this] { return m_stop || runnable() != m_jobs.end(); });
            if (m_stop)
                return;
            const auto it = preferFollower(runnable(), encoder);
            b = *it;
            if (LzxStream* s = b->lzx) {
                if (b->sequence == s->nextFind) {
                    step = LzxStep::Find;
                    s->finding = true;
                    b->searching = true;
                } else {
                    step = LzxStep::Encode;
                    s->encoding = true;
                    m_jobs.erase(it);
                }
            } else {
                m_jobs.erase(it);
            }
        }
        // Once done, the slot belongs to the owning thread again.
        const bool lzx = b->lzx != nullptr;
        if (lzx)
            encodeLzx(*b, step);
        else
            encoder->encode(*b);
        bool finished = true;
        {
            std::lock_guard lock(m_mutex);
            if (LzxStream* s = b->lzx) {
                if (step == LzxStep::Find) {
                    s->finding = false;
                    b->searching = false;
                    ++s->nextFind;
                    finished = false;
                } else {
                    s->encoding = false;
                    ++s->nextEncode;
                }
            }
            if (finished)
                b->done = true;
        }
        if (finished)
            m_jobDone.notify_all();
        // The folder's next step may be waiting for this one.
        if (lzx)
            m_jobReady.notify_all();
    }
}

} // namespace ravelin::fci
