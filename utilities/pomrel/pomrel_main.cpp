// Pomrel.exe: its countdown dialog, then nothing.
#include "pomrel.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RunPomrel(commandLine ? commandLine : "");
}
