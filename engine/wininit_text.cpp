#include "wininit_text.h"

#include "text.h"

#include <cstddef>

namespace
{
const char kRenameSectionHeader[] = "[rename]";
const char kUpperRenameSectionHeader[] = "[RENAME]";
const char kDeleteEntryPrefix[] = "NUL=";
const char kLineEnd[] = "\r\n";

bool IsRenameSectionHeader(const std::string& line)
{
    return MakeUpperText(line).compare(0, sizeof kUpperRenameSectionHeader - 1,
                                       kUpperRenameSectionHeader) == 0;
}
}

std::vector<std::string> AddWininitDeletion(const std::vector<std::string>& lines,
                                            const std::string& shortPath)
{
    std::vector<std::string> result(lines);
    if (shortPath.empty())
        return result;

    std::size_t header = 0;
    while (header < result.size() && !IsRenameSectionHeader(result[header]))
        ++header;
    std::size_t insertAt = header + 1;
    if (header == result.size()) {
        if (!result.empty())
            result.push_back(std::string());
        // A new section keeps an empty line under its header, and the first
        // deletion comes after it.
        result.push_back(kRenameSectionHeader);
        result.push_back(std::string());
        insertAt = result.size();
    }
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(insertAt),
                  kDeleteEntryPrefix + shortPath);
    return result;
}

std::string JoinWininitLines(const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
        bytes += kLineEnd;
    }
    return bytes;
}

std::vector<std::string> SplitWininitBytes(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos)
            end = bytes.size();
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines.push_back(bytes.substr(start, end - start));
        start = next;
    }
    return lines;
}
