// Morlane.exe: a windowed program without a window; record mode ends with one box.
#include "morlane.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RunMorlane(commandLine ? commandLine : "");
}
