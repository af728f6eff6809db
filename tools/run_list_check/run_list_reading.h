// The run list as the engine reads it: cut into lines at its line limit, numbered as
// its walk numbers them, each entry line parsed by the engine's own CRunEntry. Tools
// that show a list take it from here, so that they never read it otherwise.
#pragma once

#include "run_entry.h"

#include <string>
#include <vector>

struct RunListReading
{
    int number;          // 1 for the first entry line
    int fileLineNumber;  // the line as an editor counts it (a cut line counts once)
    bool cut;            // one of the parts the engine makes of a line over its limit
    std::string line;    // the part as read, trimmed, as the engine parses it
    CRunEntry entry;     // its line number is the engine's count, cut parts counted apart
};

std::vector<RunListReading> ReadRunListAsEngine(const std::string& bytes);
