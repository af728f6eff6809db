// The tokenizer of Fendrix and Morlane, Morlane's records and its replacement on any
// text: the tokenizer always moves on and ends, a record read back is whole, and the
// replacement leaves the text unchanged when it reports no letter.
#include "morlane_text.h"
#include "next_parameter.h"

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
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int steps = 0;
    for (int position = 0; position >= 0; ++steps) {
        std::string parameter;
        std::string problem;
        const int next = NextParameter(text, position, parameter, problem);
        Check(parameter.size() <= kMaxUtilityParameter);
        Check(next < 0 || next > position);
        position = next;
    }
    Check(steps <= static_cast<int>(size) + 1);
    ParseMorlaneCommandLine(text);

    // Three lines of a record, the rest the registry data.
    std::string lines[4];
    std::string::size_type at = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string::size_type end = text.find('\n', at);
        lines[i] = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    lines[3] = text.substr(at);
    DriveReference reference;
    if (ParseDriveReferenceRecord(lines[0], lines[1], lines[2], reference))
        Check(!reference.text.empty() && reference.text[0] == 'c' && !reference.valueName.empty());
    std::string replaced = lines[3];
    bool repaired = false;
    if (!ReplaceLateBindText(replaced, lines[2], "f:\\", repaired))
        Check(replaced == lines[3] && !repaired);
    return 0;
}
