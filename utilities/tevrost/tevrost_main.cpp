// Tevrost.exe: its countdown window, then the command.
#include "tevrost.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    return RunTevrost(instance, commandLine ? commandLine : "", showCommand);
}
