// Vindle.exe: a windowed program without a window; it reads no command line.
#include "vindle.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunVindle();
}
