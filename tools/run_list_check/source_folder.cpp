#include "source_folder.h"

#include "text.h"
#include "windows_name.h"

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace
{

bool IsAsciiText(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The entry of folder whose name is part (code page 1252, as the list holds it),
// ignoring letter case; empty when none.
std::string FindEntry(const fs::path& folder, const std::string& part)
{
    std::error_code error;
    // ASCII is the same in both; other bytes as they stand would name a Linux file whose
    // name is no UTF-8.
    if (IsAsciiText(part) && fs::exists(folder / part, error))
        return part;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (IsSameWindowsName(part, it->path().filename().string()))
            return it->path().filename().string();
    return std::string();
}

} // namespace

CSourceFolder::CSourceFolder(const std::string& folder) : m_folder(folder)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == 1 && std::isalpha(static_cast<unsigned char>(name[0])) && it->is_directory(error))
            m_letters += MakeUpperText(name);
    }
}

std::string CSourceFolder::FindHostPath(const std::string& windowsPath) const
{
    if (windowsPath.size() < 2 || windowsPath[1] != ':')
        return std::string();
    fs::path path = m_folder;
    std::string rest = std::string(1, windowsPath[0]) + "\\" + windowsPath.substr(2);
    std::string::size_type start = 0;
    while (start <= rest.size()) {
        std::string::size_type end = rest.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        // A path may not climb out of the sources.
        if (part == "..")
            return std::string();
        const std::string found = FindEntry(path, part);
        if (found.empty())
            return std::string();
        path /= found;
    }
    return path.string();
}

bool CSourceFolder::IsFile(const std::string& windowsPath) const
{
    const std::string path = FindHostPath(windowsPath);
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

bool CSourceFolder::IsFolder(const std::string& windowsPath) const
{
    const std::string path = FindHostPath(windowsPath);
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}
