#include "file_path.h"

#include "text.h"

#include <windows.h>

#include <vector>

namespace {

// Calls get with a buffer until the result fits; "" when the call fails.
template <typename Get> std::string GetPathText(Get get)
{
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = get(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
    return std::string();
}

std::string GetComparablePath(const std::string& path)
{
    if (path.empty())
        return std::string();
    std::string full = GetPathText([&](char* buffer, DWORD size) {
        char* name = nullptr;
        return GetFullPathNameA(path.c_str(), size, buffer, &name);
    });
    // "C:\X\" and "C:\X" are one folder; "C:\" keeps its backslash.
    while (full.size() > 3 && full[full.size() - 1] == '\\')
        full.erase(full.size() - 1);
    const std::string shortPath =
        GetPathText([&](char* buffer, DWORD size) { return GetShortPathNameA(full.c_str(), buffer, size); });
    return shortPath.empty() ? full : shortPath;
}

} // namespace

bool IsSameFile(const std::string& a, const std::string& b)
{
    const std::string first = GetComparablePath(a);
    return !first.empty() && IsSameText(first, GetComparablePath(b));
}
