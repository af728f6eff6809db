#include "fendrix.h"

#include "fendrix_command_line.h"
#include "file_path.h"
#include "file_version_info.h"
#include "text.h"
#include "utils_log.h"

#include <windows.h>

#include <new>

namespace {

const char kPrefix[] = "FENDRIX: ";
const char kNoDestination[] = "Invalid command line. : %s";
const char kWildCard[] = "No wild cards allowed in destination : %s";
const char kSingleFile[] = "First param %s must be a single file if second param %s is not a directory";
const char kNotFound[] = "First param %s not found";
const char kGetAttributes[] = "Failed getting Target file attributes for : %s";
const char kSetAttributes[] = "Failed Setting Target file attributes for : %s";
const char kCopyFailed[] = "Failed copying %s to %s. System Error Code %d CreateWin32 error %d";
const char kAllFiles[] = "\\*.*";

const int kMissingDestination = 3;
const int kNotADirectory = 2;

void Log(const std::string& message)
{
    WriteUtilsLog(kPrefix, message);
}

bool IsDirectory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool HasWildCard(const std::string& text)
{
    return text.find_first_of("*?") != std::string::npos;
}

// The last-write time as local calendar time, to the whole second. (A file search, not
// GetFileAttributesEx: Windows 95 has no such function.)
bool GetLocalWriteTime(const std::string& path, SYSTEMTIME& local)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    FILETIME localTime;
    return FileTimeToLocalFileTime(&found.ftLastWriteTime, &localTime) && FileTimeToSystemTime(&localTime, &local);
}

bool IsLater(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    const WORD left[] = {a.wYear, a.wMonth, a.wDay, a.wHour, a.wMinute, a.wSecond};
    const WORD right[] = {b.wYear, b.wMonth, b.wDay, b.wHour, b.wMinute, b.wSecond};
    for (int i = 0; i < 6; ++i)
        if (left[i] != right[i])
            return left[i] > right[i];
    return false;
}

} // namespace

FileComparison CompareFiles(const std::string& source, const std::string& target)
{
    unsigned short sourceVersion[4] = {0, 0, 0, 0};
    unsigned short targetVersion[4] = {0, 0, 0, 0};
    const bool sourceVersioned = ReadFixedFileVersion(source, sourceVersion);
    const bool targetVersioned = ReadFixedFileVersion(target, targetVersion);
    if (sourceVersioned && targetVersioned) {
        for (int i = 0; i < 4; ++i)
            if (sourceVersion[i] != targetVersion[i])
                return sourceVersion[i] > targetVersion[i] ? kNewerByVersion : kNotNewerByVersion;
    } else if (sourceVersioned) {
        return kNewerByVersion;
    } else if (targetVersioned) {
        return kNotNewerByVersion;
    }
    SYSTEMTIME sourceTime;
    SYSTEMTIME targetTime;
    if (!GetLocalWriteTime(source, sourceTime) || !GetLocalWriteTime(target, targetTime))
        return kCompareFailed;
    return IsLater(sourceTime, targetTime) ? kNewerByTime : kNotNewerByTime;
}

unsigned long CopyIfNewer(const std::string& source, const std::string& target, bool logErrors, bool move,
                          bool force)
{
    // A file is its own target (moved or copied onto itself): it already stands where it
    // is wanted, and it is the only copy, so it is neither copied nor deleted.
    if (IsSameFile(source, target))
        return 0;
    const bool exists = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool copy = !exists;
    if (!copy) {
        const FileComparison comparison = CompareFiles(source, target);
        if (comparison == kCompareFailed)
            return GetLastError();
        copy = force || comparison == kNewerByVersion || comparison == kNewerByTime;
    }
    if (copy) {
        DWORD kept = INVALID_FILE_ATTRIBUTES;
        if (exists) {
            kept = GetFileAttributesA(target.c_str());
            if (kept == INVALID_FILE_ATTRIBUTES) {
                const DWORD error = GetLastError();
                if (logErrors)
                    Log(FormatMessageText(kGetAttributes, target));
                return error;
            }
            if (!SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL)) {
                const DWORD error = GetLastError();
                if (logErrors)
                    Log(FormatMessageText(kSetAttributes, target));
                return error;
            }
        }
        if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
            const DWORD error = GetLastError();
            // The message's second number is always 0.
            if (logErrors)
                Log(FillMessageText(kCopyFailed, {source, target, std::to_string(static_cast<long>(error)), "0"}));
            return error;
        }
        // The target keeps what it was: read-only or hidden stays so with its new contents.
        if (kept != INVALID_FILE_ATTRIBUTES && !SetFileAttributesA(target.c_str(), kept)) {
            const DWORD error = GetLastError();
            if (logErrors)
                Log(FormatMessageText(kSetAttributes, target));
            return error;
        }
    }
    if (move) {
        SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(source.c_str());
    }
    return 0;
}

int RunFendrix(const std::string& commandLine)
{
    try {
        const FendrixArguments arguments = ParseFendrixCommandLine(commandLine);
        for (const std::string& message : arguments.messages)
            Log(message);
        if (arguments.destination.empty()) {
            Log(FormatMessageText(kNoDestination, commandLine));
            return kMissingDestination;
        }
        std::string source = arguments.source;
        const std::string& destination = arguments.destination;
        const DWORD sourceAttributes = GetFileAttributesA(source.c_str());
        const DWORD destinationAttributes = GetFileAttributesA(destination.c_str());
        if (HasWildCard(destination)) {
            Log(FormatMessageText(kWildCard, destination));
            return kMissingDestination;
        }
        if (IsDirectory(sourceAttributes))
            source += kAllFiles;
        const bool intoDirectory = IsDirectory(destinationAttributes);
        if (!intoDirectory && (sourceAttributes == INVALID_FILE_ATTRIBUTES || IsDirectory(sourceAttributes))) {
            if (HasWildCard(source)) {
                Log(FillMessageText(kSingleFile, {source, destination}));
                return kNotADirectory;
            }
            Log(FormatMessageText(kNotFound, source));
            return kMissingDestination;
        }
        const std::string::size_type slash = source.rfind('\\');
        const std::string folder = slash == std::string::npos ? std::string() : source.substr(0, slash + 1);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(source.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        int result = 0;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            const std::string from = folder + found.cFileName;
            const std::string to = intoDirectory ? destination + "\\" + found.cFileName : destination;
            const unsigned long error = CopyIfNewer(from, to, true, arguments.move, arguments.force);
            if (error != 0)
                result = static_cast<int>(error);
        } while (result == 0 && FindNextFileA(search, &found));
        FindClose(search);
        return result;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
