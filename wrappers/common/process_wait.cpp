#include "process_wait.h"

namespace {
DWORD (*g_hook)(HANDLE, DWORD) = nullptr;
}

DWORD WaitForTask(HANDLE process, DWORD milliseconds)
{
    return g_hook ? g_hook(process, milliseconds) : WaitForSingleObject(process, milliseconds);
}

void SetTaskWaitHook(DWORD (*hook)(HANDLE process, DWORD milliseconds))
{
    g_hook = hook;
}
