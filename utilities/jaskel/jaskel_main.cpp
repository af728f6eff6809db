// Jaskel.exe: a windowed program without a window; it shows only message boxes.
#include "jaskel.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RunJaskel(commandLine ? commandLine : "");
}
