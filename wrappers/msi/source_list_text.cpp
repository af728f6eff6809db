#include "source_list_text.h"

#include "text.h"

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
        const std::string::size_type space = head.rfind(' ');
        result = space == std::string::npos ? head : head.substr(space + 1);
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
    for (std::string::size_type at = upperData.find(base); at != std::string::npos;
         at = upperData.find(base, at + 1)) {
        const std::string::size_type after = at + base.size();
        if (after == upperData.size() || upperData[after] == '\\' || upperData[after] == ';')
            return true;
    }
    return false;
}

bool IsRedirectableFolder(const std::string& folder)
{
    const std::string base = WithoutTrailingBackslash(folder);
    const bool driveRoot = base.size() == 2 && base[1] == ':';
    return !base.empty() && !driveRoot;
}
