#include "tools/fileiterator/fileiteratorthread.h"

#include <exception>
#include <thread>

#include "tools/fileiterator/fileiterator.h"

namespace ravelin::tools {

TFileIteratorThread::TFileIteratorThread(TFileIterator* iterator, bool createSuspended) : m_iterator(iterator)
{
    if (!createSuspended) {
        m_started = true;
        std::thread(&TFileIteratorThread::run, this).detach();
    }
}

void TFileIteratorThread::Resume()
{
    if (m_started.exchange(true))
        return;
    try {
        std::thread(&TFileIteratorThread::run, this).detach();
    } catch (...) {
        m_started = false;
        throw;
    }
}

void TFileIteratorThread::run()
{
    try {
        if (m_iterator)
            m_iterator->Execute();
    } catch (...) {
        // Nothing to hand the error to: the iterator has raised OnTerminate
        // (or was refused before it began) and is idle.
    }
    delete this;
}

} // namespace ravelin::tools
