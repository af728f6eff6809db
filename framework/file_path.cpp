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

std::string GetFullPathText(const std::string& path)
{
    return GetPathText([&](char* buffer, DWORD size) {
        char* name = nullptr;
        return GetFullPathNameA(path.c_str(), size, buffer, &name);
    });
}

std::string GetComparablePath(const std::string& path)
{
    if (path.empty())
        return std::string();
    std::string full = GetFullPathText(path);
    // "C:\X\" and "C:\X" are one folder; "C:\" keeps its backslash.
    while (full.size() > 3 && full[full.size() - 1] == '\\')
        full.erase(full.size() - 1);
    const std::string shortPath =
        GetPathText([&](char* buffer, DWORD size) { return GetShortPathNameA(full.c_str(), buffer, size); });
    return shortPath.empty() ? full : shortPath;
}

struct FileIdentity
{
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// No access is asked for: another program's lock does not stand in the way, and the
// file is not touched. A folder opens only with backup semantics, and not at all on the
// 9x family.
bool GetFileIdentity(const std::string& path, FileIdentity& identity)
{
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool known = GetFileInformationByHandle(file, &information) != FALSE;
    CloseHandle(file);
    identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    // A file system that gives no index tells nothing by it.
    return known && (identity.indexHigh != 0 || identity.indexLow != 0);
}

} // namespace

bool IsSameFile(const std::string& a, const std::string& b)
{
    FileIdentity first;
    FileIdentity second;
    if (!a.empty() && !b.empty() && GetFileIdentity(a, first) && GetFileIdentity(b, second))
        return first.volume == second.volume && first.indexHigh == second.indexHigh &&
               first.indexLow == second.indexLow;
    const std::string firstPath = GetComparablePath(a);
    return !firstPath.empty() && IsSameText(firstPath, GetComparablePath(b));
}

std::string GetFullPath(const std::string& path)
{
    const std::string full = path.empty() ? std::string() : GetFullPathText(path);
    return full.empty() ? path : full;
}
