#pragma once
// TFileIteratorThread: runs one TFileIterator's Execute on a thread of its
// own and frees itself when that run ends. Nobody keeps a pointer to it:
//
//     new TFileIteratorThread(iterator, false);   // starts at once
//
// An error that leaves Execute (a handler threw, or the iterator was not
// idle) ends the run quietly: by then the iterator has already raised
// OnTerminate (or never began) and is idle again.
//
// Threads: the constructor and Resume() may be called from any thread. The
// iterator must outlive the run: its owner waits for Available() before
// deleting it.
#include <atomic>

namespace ravelin::tools {

class TFileIterator;

class TFileIteratorThread {
public:
    // `iterator` may be null (the run then does nothing). With
    // `createSuspended` false the thread starts before the constructor
    // returns; otherwise Resume() starts it. Throws std::system_error when
    // no thread can be made (nothing is left running then).
    TFileIteratorThread(TFileIterator* iterator, bool createSuspended);

    // Starts a thread created suspended; later calls do nothing. After the
    // first call the object may already be gone: do not touch it again.
    void Resume();

    TFileIteratorThread(const TFileIteratorThread&) = delete;
    TFileIteratorThread& operator=(const TFileIteratorThread&) = delete;

private:
    ~TFileIteratorThread() = default; // only the run itself frees the object
    void run();

    TFileIterator* m_iterator;
    std::atomic<bool> m_started{false};
};

} // namespace ravelin::tools
