#include "source_list_text.h"

#include "text.h"

#include <algorithm>
#include <vector>

namespace {

std::string WithoutTrailingBackslash(const std::string& folder)
{
    if (!folder.empty() && folder[folder.size() - 1] == '\\')
        return folder.substr(0, folder.size() - 1);
    return folder;
}

} // namespace

void ExtractPackageDirectory(std::string& command)
{
    const std::string upper = MakeUpperText(command);
    std::string result;
    std::string::size_type marker = upper.find(".MSI");
    if (marker == std::string::npos)
        marker = upper.find(".EXE");
    if (marker != std::string::npos) {
        const std::string head = upper.substr(0, marker);
        // Inside double quotes the path runs from the opening quote, blanks and all.
        const bool quoted = std::count(head.begin(), head.end(), '"') % 2 != 0;
        const std::string::size_type start = quoted ? head.rfind('"') : head.rfind(' ');
        result = start == std::string::npos ? head : head.substr(start + 1);
    } else {
        const std::string::size_type space = upper.find(' ');
        result = space == std::string::npos ? std::string() : upper.substr(0, space);
    }
    const std::string::size_type slash = result.rfind('\\');
    if (slash != std::string::npos)
        result.erase(slash + 1);
    command = result;
}

std::string JoinKeyPath(const std::string& first, const std::string& second)
{
    const std::string a = TrimWhiteSpace(first);
    const std::string b = TrimWhiteSpace(second);
    const bool separated = (!a.empty() && a[a.size() - 1] == '\\') || (!b.empty() && b[0] == '\\');
    return separated ? a + b : a + "\\" + b;
}

bool IsPackageFolderSource(const std::string& data, const std::string& folder)
{
    const std::string upperData = MakeUpperText(data);
    const std::string base = MakeUpperText(WithoutTrailingBackslash(folder));
    if (base.empty())
        return false;
    // Each source of the list whole, from its start: a longer name, a folder below and
    // a folder of the same name elsewhere are other packages' sources.
    for (std::string::size_type start = 0; start <= upperData.size();) {
        std::string::size_type end = upperData.find(';', start);
        if (end == std::string::npos)
            end = upperData.size();
        const std::string source = upperData.substr(start, end - start);
        if (source == base || source == base + "\\")
            return true;
        start = end + 1;
    }
    return false;
}

std::string NormalizePackageFolder(const std::string& folder)
{
    // What ".." never takes away: the drive, or the server and its share.
    std::string root;
    std::string::size_type restStart = 0;
    if (folder.compare(0, 2, "\\\\") == 0) {
        std::vector<std::string> names;
        std::string::size_type at = 2;
        while (names.size() < 2 && at < folder.size()) {
            const std::string::size_type end = std::min(folder.find('\\', at), folder.size());
            if (end > at)
                names.push_back(folder.substr(at, end - at));
            at = end + 1;
        }
        if (names.size() < 2)
            return folder;
        root = "\\\\" + names[0] + "\\" + names[1];
        restStart = std::min(at - 1, folder.size());
    } else if (folder.size() >= 2 && folder[1] == ':') {
        root = folder.substr(0, 2);
        restStart = 2;
    }
    const std::string rest = folder.substr(restStart);
    const bool fromRoot = !rest.empty() && rest[0] == '\\';
    const bool trailing = !rest.empty() && rest[rest.size() - 1] == '\\';
    std::vector<std::string> parts;
    for (std::string::size_type at = 0; at <= rest.size();) {
        const std::string::size_type end = std::min(rest.find('\\', at), rest.size());
        const std::string part = rest.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && !parts.empty() && parts.back() != "..")
            parts.pop_back();
        else if (part != ".." || !fromRoot)
            parts.push_back(part);
    }
    std::string result = root + (fromRoot ? "\\" : "");
    for (std::size_t i = 0; i < parts.size(); ++i)
        result += (i > 0 ? "\\" : "") + parts[i];
    if (trailing && !parts.empty())
        result += '\\';
    return result;
}

bool IsFullFolder(const std::string& folder)
{
    if (folder.find('"') != std::string::npos)
        return false;
    const char drive = folder.empty() ? '\0' : folder[0];
    const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    const bool local = letter && folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\';
    if (local)
        return true;
    // \\server\share\ at least.
    if (folder.compare(0, 2, "\\\\") != 0)
        return false;
    const std::string::size_type serverEnd = folder.find('\\', 2);
    if (serverEnd == std::string::npos || serverEnd == 2)
        return false;
    const std::string::size_type shareEnd = folder.find('\\', serverEnd + 1);
    return shareEnd != std::string::npos && shareEnd > serverEnd + 1;
}

bool IsRedirectableFolder(const std::string& folder)
{
    const std::string base = WithoutTrailingBackslash(folder);
    const bool driveRoot = base.size() == 2 && base[1] == ':';
    return IsFullFolder(folder) && !driveRoot;
}
