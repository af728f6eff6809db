#include "fendrix_command_line.h"

#include "next_parameter.h"

namespace {
const char kInvalidSwitch[] = "Invalid command line switch: ";
}

FendrixArguments ParseFendrixCommandLine(const std::string& commandLine)
{
    FendrixArguments arguments;
    bool haveSource = false;
    for (int position = 0;;) {
        std::string parameter;
        std::string problem;
        const int next = NextParameter(commandLine, position, parameter, problem);
        if (!problem.empty())
            arguments.messages.push_back(problem);
        if (!parameter.empty() && (parameter[0] == '/' || parameter[0] == '-')) {
            const char which = parameter.size() > 1 ? parameter[1] : '\0';
            if (which == 'd')
                arguments.move = true;
            else if (which == 'f')
                arguments.force = true;
            else if (which != 'l')
                arguments.messages.push_back(kInvalidSwitch + parameter);
        } else if (!parameter.empty()) {
            (haveSource ? arguments.destination : arguments.source) = parameter;
            haveSource = true;
        }
        if (next < 0)
            break;
        position = next;
    }
    return arguments;
}
