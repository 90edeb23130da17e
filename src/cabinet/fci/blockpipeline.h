#pragma once
// Compression of CFDATA blocks, on worker threads or on the calling thread.
//
// Each MSZIP block is deflated on its own with the previous block's
// plaintext as preset dictionary; that dictionary is known when the block is
// handed over, so blocks are independent jobs and the result depends only on
// (dictionary, data, type), never on scheduling. Blocks come back in the
// order they were submitted. Memory is a fixed ring of slots allocated once.
//
// Only the owning thread calls the member functions; workers touch a slot
// only between submit() and the moment it is reported done.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

#include "cabinet/fci/cabformat.h"
#include "cabinet/fci/fci.h"

namespace ravelin::fci {

struct Block {
    uint8_t dict[format::kBlockSize];
    uint32_t dictLen = 0;
    uint8_t in[format::kBlockSize];
    uint32_t inLen = 0;
    uint16_t type = format::kTypeMszip;
    bool failIncompressible = false;
    // The finished CFDATA record, header included.
    uint8_t out[format::kDataHeaderSize + format::kMaxBlockData];
    uint32_t outLen = 0;
    uint32_t cbData = 0;
    int32_t error = kErrNone;  // kErrMciFail when deflate failed
    bool done = false;         // guarded by the pipeline's mutex
};

// One raw-deflate stream, reused for every block it compresses.
class MszipEncoder {
public:
    MszipEncoder() = default;
    ~MszipEncoder();
    MszipEncoder(const MszipEncoder&) = delete;
    MszipEncoder& operator=(const MszipEncoder&) = delete;
    // zlib's memory comes from `alloc`/`release` (called now, on this thread).
    bool init(PFNFCIALLOC alloc, PFNFCIFREE release);
    // Fills b.out, b.outLen, b.cbData and b.error from the rest of b.
    void encode(Block& b);

private:
    z_stream m_z{};
    bool m_ready = false;
    PFNFCIALLOC m_alloc = nullptr;
    PFNFCIFREE m_free = nullptr;
};

class BlockPipeline {
public:
    BlockPipeline() = default;
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // threads: 1 compresses inside submit(). False when memory ran out.
    bool start(unsigned threads, PFNFCIALLOC alloc, PFNFCIFREE release);

    bool full() const { return m_count == m_slots.size(); }
    bool empty() const { return m_count == 0; }
    size_t inFlight() const { return m_count; }
    // The slot to fill next; only when !full().
    Block& filling() { return *m_slots[(m_head + m_count) % m_slots.size()]; }
    // Hands the filled slot over for compression.
    void submit();
    // The oldest submitted block once compressed; nullptr when it is still
    // being compressed and `wait` is false. Only when !empty().
    Block* oldest(bool wait);
    // Frees the oldest slot after its block was written.
    void releaseOldest();

private:
    void workerLoop(MszipEncoder* encoder);

    PFNFCIALLOC m_alloc = nullptr;
    PFNFCIFREE m_free = nullptr;
    std::vector<Block*> m_slots;
    size_t m_head = 0;
    size_t m_count = 0;
    std::vector<MszipEncoder*> m_encoders;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::condition_variable m_jobDone;
    std::deque<Block*> m_jobs;
    bool m_stop = false;
};

}  // namespace ravelin::fci
