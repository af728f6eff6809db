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

typedef BOOL(WINAPI* GetFileAttributesExProc)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);

// Where the system has it (Windows 95 has not), a file's times without a file search: the
// search costs a look through the whole folder.
GetFileAttributesExProc FindGetFileAttributesEx()
{
    static const GetFileAttributesExProc proc = reinterpret_cast<GetFileAttributesExProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileAttributesExA")));
    return proc;
}

// The last-write time as local calendar time, to the whole second.
bool GetLocalWriteTime(const std::string& path, SYSTEMTIME& local)
{
    FILETIME written;
    if (const GetFileAttributesExProc getAttributes = FindGetFileAttributesEx()) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!getAttributes(path.c_str(), GetFileExInfoStandard, &data))
            return false;
        written = data.ftLastWriteTime;
    } else {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        written = found.ftLastWriteTime;
    }
    FILETIME localTime;
    return FileTimeToLocalFileTime(&written, &localTime) && FileTimeToSystemTime(&localTime, &local);
}

// Versions decide where both files have one and they differ; kCompareFailed where equal.
FileComparison CompareVersions(const unsigned short source[4], const unsigned short target[4])
{
    for (int i = 0; i < 4; ++i)
        if (source[i] != target[i])
            return source[i] > target[i] ? kNewerByVersion : kNotNewerByVersion;
    return kCompareFailed;
}

// The attributes that keep a copy from replacing a file.
const DWORD kBlockingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

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
    SYSTEMTIME sourceTime;
    SYSTEMTIME targetTime;
    if (GetLocalWriteTime(source, sourceTime) && GetLocalWriteTime(target, targetTime)) {
        // The times first, as they cost no reading: a version can then only turn the
        // answer against them, and a file without one is read only once.
        if (IsLater(sourceTime, targetTime)) {
            if (!ReadFixedFileVersion(target, targetVersion))
                return kNewerByTime;
            if (!ReadFixedFileVersion(source, sourceVersion))
                return kNotNewerByVersion;
            const FileComparison byVersion = CompareVersions(sourceVersion, targetVersion);
            return byVersion == kCompareFailed ? kNewerByTime : byVersion;
        }
        if (!ReadFixedFileVersion(source, sourceVersion))
            return kNotNewerByTime;
        if (!ReadFixedFileVersion(target, targetVersion))
            return kNewerByVersion;
        const FileComparison byVersion = CompareVersions(sourceVersion, targetVersion);
        return byVersion == kCompareFailed ? kNotNewerByTime : byVersion;
    }
    // A file that cannot be looked up: only versions can still tell.
    const DWORD lookupError = GetLastError();
    const bool sourceVersioned = ReadFixedFileVersion(source, sourceVersion);
    const bool targetVersioned = ReadFixedFileVersion(target, targetVersion);
    if (sourceVersioned != targetVersioned)
        return sourceVersioned ? kNewerByVersion : kNotNewerByVersion;
    const FileComparison byVersion =
        sourceVersioned ? CompareVersions(sourceVersion, targetVersion) : kCompareFailed;
    if (byVersion == kCompareFailed)
        SetLastError(lookupError);
    return byVersion;
}

unsigned long CopyIfNewer(const std::string& source, const std::string& target, bool logErrors, bool move,
                          bool force)
{
    const bool exists = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    // The target is the source under another name (a second drive letter for its folder,
    // a second link): it already stands where it is wanted, and it is the only copy.
    if (exists && IsSameFile(source, target))
        return 0;
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
            // Setting attributes costs a call into the system each: only what is in the
            // copy's way is cleared, and only what the copy changed is put back.
            if ((kept & kBlockingAttributes) != 0 && !SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL)) {
                const DWORD error = GetLastError();
                if (logErrors)
                    Log(FormatMessageText(kSetAttributes, target));
                return error;
            }
        }
        if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
            const DWORD error = GetLastError();
            // The target stays as it was, read-only, hidden or system included.
            if (kept != INVALID_FILE_ATTRIBUTES && (kept & kBlockingAttributes) != 0)
                SetFileAttributesA(target.c_str(), kept);
            // The message's second number is always 0.
            if (logErrors)
                Log(FillMessageText(kCopyFailed, {source, target, std::to_string(static_cast<long>(error)), "0"}));
            return error;
        }
        // The target keeps what it was: read-only or hidden stays so with its new contents.
        if (kept != INVALID_FILE_ATTRIBUTES && GetFileAttributesA(target.c_str()) != kept &&
            !SetFileAttributesA(target.c_str(), kept)) {
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
        // The matches' folder from the full path: "C:/DATA/A.TXT" and "C:A.TXT" have no
        // backslash of their own, and their files are not the current folder's.
        const std::string fullSource = GetFullPath(source);
        const std::string::size_type slash = fullSource.rfind('\\');
        const std::string folder = slash == std::string::npos ? std::string() : fullSource.substr(0, slash + 1);
        // A file that is its own target (moved or copied onto itself) already stands where
        // it is wanted, and it is the only copy: it is neither copied nor deleted. Into a
        // directory, a file is its own target exactly when the directory is its folder:
        // one comparison for all of them, each costing a search of the folder.
        const bool intoOwnFolder = intoDirectory && IsSameFile(folder.empty() ? "." : folder, destination);
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
            if (intoOwnFolder || (!intoDirectory && IsSameFile(from, to)))
                continue;
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
