#pragma once
// Compression of CFDATA blocks, on worker threads or on the calling thread.
//
// A slot carries the data of one job and receives its finished CFDATA
// records. An MSZIP (or stored) job is one block, deflated on its own with
// the previous block's plaintext as its history (deflateencoder.h); that dictionary is
// known when the block is handed over, so such jobs are independent. A
// worker still prefers the block that follows its own last one, whose
// history its encoder already holds (it slides its tables instead of
// rebuilding them), and leaves the block that follows another worker's to
// that worker; on 21 MB of binaries and text this took the CPU time of
// MSZIP on two threads from 0.53 to 0.51 s. An LZX
// job is up to lzx::kGroupFrames frames of one folder, run on the folder's
// own encoder (its window and state) in two steps: the match search, then
// the parse and output (LzxEncoder::findMatches and encodeFound). Each step
// takes the folder's jobs in order, and one job's search may run beside
// the previous job's parse on another thread, so that a folder alone still
// keeps two threads busy (on 21 MB of binaries and text at lzx:21, in three
// folders, this took the wall time on two cores from 3.9 to 3.3 s). A
// worker takes the oldest step it may run, so the jobs of different folders
// run at once too. In every case the result
// depends only on the data, never on scheduling. Jobs come back in the
// order they were submitted. Memory is a ring of slots and a pool of LZX
// encoders, all from the client's allocator.
//
// Only the owning thread calls the member functions; workers touch a slot
// only between submit() and the moment it is reported done, and an encoder
// only while running one of its steps.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cabinet/fci/cabformat.h"
#include "cabinet/fci/deflateencoder.h"
#include "cabinet/fci/fci.h"
#include "cabinet/fci/lzxencoder.h"

namespace ravelin::fci {

// An LZX encoder and its place in the pool.
struct LzxStream {
    LzxEncoder encoder;
    bool inUse = false;     // a folder owns it (owning thread only)
    uint32_t submitted = 0; // the folder's jobs so far (owning thread only)
    // Under the pipeline's mutex: the next job of each step, whether a
    // worker is running that step, and the jobs searched and not encoded.
    uint32_t nextFind = 0;
    uint32_t nextEncode = 0;
    bool finding = false;
    bool encoding = false;
};

struct Block {
    // One CFDATA record: header and data, at most this large.
    static constexpr uint32_t kRecordRoom = format::kDataHeaderSize + format::kMaxLzxBlockData;
    static_assert(format::kMaxLzxBlockData >= format::kMaxBlockData);
    static constexpr uint32_t kMaxRecords = lzx::kGroupFrames;

    uint8_t dict[format::kBlockSize];
    uint32_t dictLen = 0;
    uint8_t in[kMaxRecords * format::kBlockSize];
    uint32_t inLen = 0;
    uint16_t type = format::kTypeMszip;
    bool failIncompressible = false;
    LzxStream* lzx = nullptr; // the folder's encoder, for LZX jobs
    uint32_t sequence = 0;    // an LZX job's place in its folder
    bool searching = false;   // an LZX job's search is running (under the pipeline's mutex)
    uint32_t folder = 0;      // the client's tag for the folder
    uint64_t order = 0;       // its place among all jobs submitted
    // The finished records: record k at out + k * kRecordRoom.
    uint8_t out[kMaxRecords * kRecordRoom];
    uint32_t records = 0;
    uint32_t recordLen[kMaxRecords] = {}; // header included
    uint32_t cbData[kMaxRecords] = {};
    uint32_t cbUncomp[kMaxRecords] = {};
    int32_t error = kErrNone; // kErrMciFail when compression failed
    bool done = false;        // guarded by the pipeline's mutex

    // CFDATA records this job's data makes.
    uint32_t frames() const { return inLen ? (inLen + format::kBlockSize - 1) / format::kBlockSize : 0; }
};

// One deflate encoder, reused for every block it compresses.
class MszipEncoder {
public:
    // The tables come from `alloc`/`release` (called now, on this thread).
    bool init(PFNFCIALLOC alloc, PFNFCIFREE release) { return m_deflate.init(alloc, release); }
    // Fills the records and the error of b (one record) from the rest of b.
    void encode(Block& b);

    // The order of the block that follows the last one this encoder took
    // (under the pipeline's mutex).
    uint64_t follower = ~uint64_t(0);

private:
    DeflateEncoder m_deflate;
};

class BlockPipeline {
public:
    BlockPipeline() = default;
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // threads: 1 compresses inside submit(). False when memory ran out.
    bool start(unsigned threads, PFNFCIALLOC alloc, PFNFCIFREE release);
    unsigned threads() const { return m_threadCount; }

    // Grows the ring to `count` slots (never shrinks it); only when empty().
    // False when memory ran out.
    bool reserveSlots(size_t count);
    size_t slots() const { return m_slots.size(); }
    // At most `count` LZX encoders exist at once (at least 1).
    void setLzxLimit(unsigned count) { m_lzxLimit = count ? count : 1; }
    // An encoder for a new LZX folder with a window of 2^windowBits, reset;
    // nullptr when every allowed encoder belongs to a folder (write out
    // finished folders and release theirs, then ask again). Sets *noMemory
    // and returns nullptr when a new encoder could not be allocated.
    LzxStream* acquireLzx(unsigned windowBits, bool* noMemory);
    // Gives an encoder back once every job of its folder is done.
    void releaseLzx(LzxStream* stream) { stream->inUse = false; }

    bool full() const { return m_count == m_slots.size(); }
    bool empty() const { return m_count == 0; }
    size_t inFlight() const { return m_count; }
    // The slot to fill next; only when !full().
    Block& filling() { return *m_slots[(m_head + m_count) % m_slots.size()]; }
    // Hands the filled slot over for compression.
    void submit();
    // The oldest submitted job once compressed; nullptr when it is still
    // being compressed and `wait` is false. Only when !empty().
    Block* oldest(bool wait);
    // Frees the oldest slot after its records were written.
    void releaseOldest();

private:
    void workerLoop(MszipEncoder* encoder);
    void run(Block& b, MszipEncoder* mszip);
    // The first queued job with a step a worker may start. Under the mutex.
    std::deque<Block*>::iterator runnable();
    // The job `encoder`'s worker takes instead of `first` (runnable()), to
    // keep an MSZIP encoder on consecutive blocks. Under the mutex.
    std::deque<Block*>::iterator preferFollower(std::deque<Block*>::iterator first, MszipEncoder* encoder);

    PFNFCIALLOC m_alloc = nullptr;
    PFNFCIFREE m_free = nullptr;
    unsigned m_threadCount = 1;
    std::vector<Block*> m_slots;
    size_t m_head = 0;
    size_t m_count = 0;
    std::vector<MszipEncoder*> m_encoders;
    std::vector<LzxStream*> m_lzx;
    unsigned m_lzxLimit = 1;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::condition_variable m_jobDone;
    std::deque<Block*> m_jobs;
    uint64_t m_submitted = 0; // jobs so far
    bool m_stop = false;
};

} // namespace ravelin::fci
