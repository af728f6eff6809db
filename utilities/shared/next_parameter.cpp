#include "next_parameter.h"

namespace {
const char kInvalid[] = "Invalid Command line param";
const char kTooLong[] = "Individual command line parameter exceeds maximum length";
}

int NextParameter(const std::string& commandLine, int position, std::string& parameter, std::string& problem)
{
    parameter.clear();
    problem.clear();
    std::string::size_type at = position < 0 ? commandLine.size() : static_cast<std::string::size_type>(position);
    if (at >= commandLine.size()) {
        problem = kInvalid;
        return -1;
    }
    const bool quoted = commandLine[at] == '"';
    if (quoted)
        ++at;
    std::string::size_type end = commandLine.find(quoted ? '"' : ' ', at);
    if (end == std::string::npos)
        end = commandLine.size();
    parameter = commandLine.substr(at, end - at);
    if (parameter.size() > kMaxUtilityParameter) {
        problem = kTooLong;
        parameter.resize(kMaxUtilityParameter);
    }
    if (end >= commandLine.size())
        return -1;
    // The space or the closing quote, then every space.
    std::string::size_type next = end + 1;
    while (next < commandLine.size() && commandLine[next] == ' ')
        ++next;
    return next >= commandLine.size() ? -1 : static_cast<int>(next);
}
