#include "installer_watch.h"

#include "line_file.h"
#include "pause.h"
#include "text.h"

#include <tlhelp32.h>

#include <vector>

const char* const InstallerProcessNames[] = {"_ISDEL.EXE", "IKERNEL.EXE", "KNLWRAP.EXE"};
const int InstallerProcessNameCount = 3;

namespace {

const DWORD kPauseMs = 5000;
const int kMaxPauses = 6;
const char kDiagnosticFile[] = "a:\\LOG";
const DWORD kFirstListBytes = 1024;
const DWORD kPathCharacters = 260;
const DWORD kProcessQuery = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

const char kNoHandle[] = "NO PROC HANDLE: %s";
const char kKilled[] = "KILL PROC OK: %s";
const char kKillFailed[] = "KILL PROC FAILED: %s";
const char kDelays[] = "INS %s DELAYS %d : %s";
const char kFail[] = "INS %s FAIL: %s";
const char kStillInMemory[] = "INS STILL IN MEM";
const char kNotInMemory[] = "INS NOT IN MEM";

// Shared by the watch and its callback; one watch at a time in a library.
BOOL g_found = FALSE;
BOOL g_killMode = FALSE;

typedef BOOL(WINAPI* EnumProcessesProc)(DWORD*, DWORD, DWORD*);
typedef BOOL(WINAPI* EnumProcessModulesProc)(HANDLE, HMODULE*, DWORD, DWORD*);
typedef DWORD(WINAPI* GetModuleFileNameExAProc)(HANDLE, HMODULE, LPSTR, DWORD);
typedef HANDLE(WINAPI* CreateToolhelp32SnapshotProc)(DWORD, DWORD);
typedef BOOL(WINAPI* Process32Proc)(HANDLE, PROCESSENTRY32*);

template <typename Proc> Proc Bind(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

BOOL EnumerateNtProcesses(ProcessCallback callback, LPARAM context)
{
    HMODULE psapi = LoadLibraryA("PSAPI.DLL");
    if (!psapi)
        return FALSE;
    EnumProcessesProc enumProcesses = Bind<EnumProcessesProc>(psapi, "EnumProcesses");
    EnumProcessModulesProc enumModules = Bind<EnumProcessModulesProc>(psapi, "EnumProcessModules");
    GetModuleFileNameExAProc moduleFileName = Bind<GetModuleFileNameExAProc>(psapi, "GetModuleFileNameExA");
    if (!enumProcesses || !enumModules || !moduleFileName) {
        FreeLibrary(psapi);
        return FALSE;
    }
    HANDLE heap = GetProcessHeap();
    DWORD size = kFirstListBytes;
    DWORD* ids = nullptr;
    DWORD returned = 0;
    for (;;) {
        ids = static_cast<DWORD*>(HeapAlloc(heap, 0, size));
        if (!ids || !enumProcesses(ids, size, &returned)) {
            if (ids)
                HeapFree(heap, 0, ids);
            FreeLibrary(psapi);
            return FALSE;
        }
        // A full buffer may have cut the list: ask again with twice the room.
        if (returned < size || size > 0x7FFFFFFF / 2)
            break;
        HeapFree(heap, 0, ids);
        size *= 2;
    }
    char path[kPathCharacters];
    for (DWORD i = 0; i < returned / sizeof(DWORD); ++i) {
        path[0] = '\0';
        HANDLE process = OpenProcess(kProcessQuery, FALSE, ids[i]);
        if (process) {
            HMODULE first = nullptr;
            DWORD needed = 0;
            if (enumModules(process, &first, sizeof first, &needed) &&
                !moduleFileName(process, first, path, kPathCharacters))
                path[0] = '\0';
            path[kPathCharacters - 1] = '\0';
            CloseHandle(process);
        }
        if (!callback(ids[i], 0, path, context))
            break;
    }
    HeapFree(heap, 0, ids);
    FreeLibrary(psapi);
    return TRUE;
}

BOOL Enumerate9xProcesses(ProcessCallback callback, LPARAM context)
{
    HMODULE kernel = LoadLibraryA("Kernel32.DLL");
    if (!kernel)
        return FALSE;
    CreateToolhelp32SnapshotProc snapshot = Bind<CreateToolhelp32SnapshotProc>(kernel, "CreateToolhelp32Snapshot");
    Process32Proc first = Bind<Process32Proc>(kernel, "Process32First");
    Process32Proc next = Bind<Process32Proc>(kernel, "Process32Next");
    if (!snapshot || !first || !next) {
        FreeLibrary(kernel);
        return FALSE;
    }
    HANDLE list = snapshot(TH32CS_SNAPPROCESS, 0);
    if (list == INVALID_HANDLE_VALUE) {
        FreeLibrary(kernel);
        return FALSE;
    }
    PROCESSENTRY32 entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = first(list, &entry); more; more = next(list, &entry)) {
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        if (!callback(entry.th32ProcessID, 0, entry.szExeFile, context))
            break;
        entry.dwSize = sizeof entry;
    }
    CloseHandle(list);
    FreeLibrary(kernel);
    return TRUE;
}

BOOL RunPass(BOOL killMode)
{
    g_killMode = killMode;
    g_found = TRUE;
    const BOOL listed = EnumerateProcesses(CheckInstallerProcess, 0);
    g_killMode = FALSE;
    return listed;
}

} // namespace

BOOL EnumerateProcesses(ProcessCallback callback, LPARAM context)
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return FALSE;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return EnumerateNtProcesses(callback, context);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return Enumerate9xProcesses(callback, context);
    return FALSE;
}

BOOL CheckInstallerProcess(DWORD processId, WORD, char* path, LPARAM)
{
    const std::string upper = MakeUpperText(path ? path : "");
    bool watched = false;
    for (int i = 0; i < InstallerProcessNameCount && !watched; ++i)
        watched = upper.find(InstallerProcessNames[i]) != std::string::npos;
    if (!watched) {
        g_found = FALSE;
        return TRUE;
    }
    g_found = TRUE;
    if (!g_killMode)
        return FALSE;
    const char* line = kNoHandle;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId)) {
        line = TerminateProcess(process, 0) ? kKilled : kKillFailed;
        CloseHandle(process);
    }
    WriteDiagnosticLine(FormatMessageText(line, upper));
    return TRUE;
}

void WatchInstallerProcesses(const std::string& stage, const std::string& command)
{
    int pauses = 0;
    bool delayed = false;
    while (RunPass(FALSE) && g_found) {
        PauseMilliseconds(kPauseMs);
        ++pauses;
        delayed = true;
        if (pauses >= kMaxPauses)
            break;
    }
    if (!delayed)
        return;
    if (pauses < kMaxPauses) {
        WriteDiagnosticLine(FillMessageText(kDelays, {stage, std::to_string(pauses), command}));
        return;
    }
    WriteDiagnosticLine(FillMessageText(kFail, {stage, command}));
    if (RunPass(TRUE) && RunPass(FALSE))
        WriteDiagnosticLine(g_found ? kStillInMemory : kNotInMemory);
}

void WriteDiagnosticLine(const std::string& text)
{
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    CLineFile file;
    if (file.Open(kDiagnosticFile, CLineFile::modeAppend)) {
        file.WriteLine(text + "\n");
        file.Flush();
    }
    SetErrorMode(previousMode);
    file.Close();
}
