// Hobrint.exe: a windowed program without a window; it shows only message boxes.
#include "hobrint.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RunHobrint(commandLine ? commandLine : "");
}
