// Tevrost: waits a number of seconds, showing a small countdown window, then starts a
// command line as a new process without waiting for it, and logs every step.
#pragma once

#include <windows.h>

#include <string>

// The whole run; 1 after the usage message, else 0.
int RunTevrost(HINSTANCE instance, const std::string& commandLine, int showCommand);
