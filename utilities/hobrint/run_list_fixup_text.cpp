#include "run_list_fixup_text.h"

#include "drive_variable.h"
#include "text.h"

namespace {
const char kNoSeparator[] = "  Unable to extract command line, looking for first first comma or space";
const char kNoBackslash[] = "  Unable to extract command line, looking for first \\";
}

bool IsFixupCandidate(const std::string& line, const std::string& token, const std::string& pattern)
{
    return line.size() >= token.size() && IsSameText(line.substr(0, token.size()), token) &&
           FindNoCase(line, pattern) != std::string::npos;
}

bool ExtractApplicationPath(const std::string& line, std::string& path, std::string& missing)
{
    std::string::size_type from = line.find(',');
    if (from == std::string::npos)
        from = line.find(' ');
    if (from == std::string::npos) {
        missing = kNoSeparator;
        return false;
    }
    const std::string::size_type slash = line.find('\\', from);
    if (slash == std::string::npos) {
        missing = kNoBackslash;
        return false;
    }
    const std::string::size_type end = line.find_first_of(", ", slash);
    path = line.substr(slash, end == std::string::npos ? std::string::npos : end - slash);
    return true;
}
