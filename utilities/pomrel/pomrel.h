// Pomrel: pauses a sequence of factory steps for a number of seconds, counting them down
// in a small always-on-top dialog.
#pragma once

#include <string>

// The whole run; the exit code is always 0.
int RunPomrel(const std::string& commandLine);
