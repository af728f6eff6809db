// Fendrix.exe: a windowed program without a window or a dialog; it tells only its log.
#include "fendrix.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RunFendrix(commandLine ? commandLine : "");
}
