#include "pomrel_text.h"

#include "text.h"

PomrelCommand ParsePomrelCommandLine(const std::string& commandLine)
{
    PomrelCommand result;
    result.seconds = ReadDecimalInteger(commandLine);
    // A negative count would count away from 0 for ever.
    result.usage = result.seconds <= 0;
    result.skip = commandLine.find("/s") != std::string::npos || commandLine.find("/S") != std::string::npos;
    return result;
}
