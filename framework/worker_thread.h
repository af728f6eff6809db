// Our stand-in for the framework's worker thread: one thread running one function, whose
// object outlives the thread so that its owner can wait for it and, at worst, end it.
#pragma once

#include <windows.h>

class CWorkerThread
{
public:
    CWorkerThread();
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts the thread at normal priority with the default stack; FALSE when it could not.
    BOOL Start(LPTHREAD_START_ROUTINE routine, void* parameter);
    // TRUE when the thread has ended within the time, or was never started.
    BOOL Wait(DWORD milliseconds);
    void Terminate(DWORD exitCode);
    BOOL IsStarted() const { return m_thread != nullptr; }

private:
    HANDLE m_thread;
};
