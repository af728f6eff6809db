// Fendrix's command line: the source, the destination and the switches /d (move) and
// /f (force), in lower case only; /l is accepted and changes nothing.
#pragma once

#include <string>
#include <vector>

struct FendrixArguments
{
    std::string source;
    std::string destination;  // the last plain parameter after the source
    bool move = false;
    bool force = false;
    std::vector<std::string> messages;  // what the parse logged, in order
};

FendrixArguments ParseFendrixCommandLine(const std::string& commandLine);
