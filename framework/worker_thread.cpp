#include "worker_thread.h"

CWorkerThread::CWorkerThread() : m_thread(nullptr)
{
}

CWorkerThread::~CWorkerThread()
{
    if (m_thread)
        CloseHandle(m_thread);
}

BOOL CWorkerThread::Start(LPTHREAD_START_ROUTINE routine, void* parameter)
{
    if (m_thread)
        return FALSE;
    DWORD id = 0;
    m_thread = CreateThread(nullptr, 0, routine, parameter, 0, &id);
    return m_thread != nullptr;
}

BOOL CWorkerThread::Wait(DWORD milliseconds)
{
    return !m_thread || WaitForSingleObject(m_thread, milliseconds) == WAIT_OBJECT_0;
}

void CWorkerThread::Terminate(DWORD exitCode)
{
    if (m_thread)
        TerminateThread(m_thread, exitCode);
}
