#include "pause.h"

#include <windows.h>

namespace {
void (*g_hook)(unsigned long) = nullptr;
}

void PauseMilliseconds(unsigned long milliseconds)
{
    if (g_hook)
        g_hook(milliseconds);
    else
        Sleep(milliseconds);
}

void SetPauseHook(void (*hook)(unsigned long milliseconds))
{
    g_hook = hook;
}
