// Pomrel's command line: a number of seconds, and "/s" anywhere to skip the wait.
#pragma once

#include <string>

struct PomrelCommand
{
    bool usage = false;  // no number, 0, or a negative number
    int seconds = 0;
    bool skip = false;   // "/s" or "/S" anywhere
};

PomrelCommand ParsePomrelCommandLine(const std::string& commandLine);
