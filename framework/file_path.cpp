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
    BY_HANDLE_FILE_INFORMATION information;

    // The volume and the index name the file; its size and times too, so that two volumes
    // that happen to bear one serial number (a cloned disk, a system that gives none) do
    // not make two files one.
    bool operator==(const FileIdentity& other) const
    {
        const BY_HANDLE_FILE_INFORMATION& a = information;
        const BY_HANDLE_FILE_INFORMATION& b = other.information;
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
               a.nFileSizeLow == b.nFileSizeLow &&
               CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0 &&
               CompareFileTime(&a.ftCreationTime, &b.ftCreationTime) == 0;
    }
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
    identity.information = {};
    const bool known = GetFileInformationByHandle(file, &identity.information) != FALSE;
    CloseHandle(file);
    // A file system that gives no index tells nothing by it.
    return known && (identity.information.nFileIndexHigh != 0 || identity.information.nFileIndexLow != 0);
}

} // namespace

bool IsSameFile(const std::string& a, const std::string& b)
{
    // One name is one file, whatever its identity says.
    const std::string firstPath = GetComparablePath(a);
    if (!firstPath.empty() && IsSameText(firstPath, GetComparablePath(b)))
        return true;
    FileIdentity first;
    FileIdentity second;
    return !a.empty() && !b.empty() && GetFileIdentity(a, first) && GetFileIdentity(b, second) && first == second;
}

std::string GetFullPath(const std::string& path)
{
    const std::string full = path.empty() ? std::string() : GetFullPathText(path);
    return full.empty() ? path : full;
}
