// The drive fix-up utilities' command lines and the variable replacement on any text:
// parameters within their limits or a usage report, and no variable left after the
// replacement.
#include "drive_fixup_command_line.h"
#include "drive_variable.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckParsed(const ParsedCommandLine& parsed)
{
    if (parsed.usage)
        return;
    Check(!parsed.arguments.first.empty() && !parsed.arguments.second.empty() && !parsed.arguments.variable.empty());
    Check(parsed.arguments.first.size() <= kMaxPathParameter && parsed.arguments.second.size() <= kMaxPathParameter &&
          parsed.arguments.variable.size() <= kMaxVariableName);
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckParsed(ParseHobrintCommandLine(text));
    CheckParsed(ParseJaskelCommandLine(text));
    // The first line names the variable, the rest is the line it stands in.
    const std::string::size_type split = text.find('\n');
    const std::string name = text.substr(0, split == std::string::npos ? 0 : split);
    std::string line = split == std::string::npos ? text : text.substr(split + 1);
    const std::string pattern = MakeDriveVariablePattern(name);
    const std::size_t before = line.size();
    ReplaceDriveVariable(line, pattern, 'D');
    Check(FindNoCase(line, pattern) == std::string::npos || pattern.size() < 2);
    Check(line.size() <= before);
    return 0;
}
