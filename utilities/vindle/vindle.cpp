#include "vindle.h"

#include "file_bytes.h"
#include "local_time.h"
#include "pause.h"
#include "registry_view.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const char kErrorFile[] = "c:\\velk\\nuv.err";
const char kErrorCopy[] = "c:\\velk\\korb\\nuv.err";
const char kFailTag[] = "c:\\velk\\KORB\\ZKTFAIL.TAG";
const char kFinishedMark[] = "c:\\VELK\\nuv.dun";
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kEngineValue[] = "Velk NUV";
const char kLogFile[] = "c:\\velk\\nuv\\vindle.log";
const DWORD kPollMs = 5000;
// The engine's value appears when the machine is prepared: looking for it a few times a
// second is soon enough, and leaves the processor to the installs meanwhile.
const DWORD kRegistryRetryMs = 100;

const char kEntered[] = "Vindle: Entered WinMain";
const char kKeyError[] = "Vindle: Error accessing NUV registry key";
const char kFound[] = "Vindle: NUV found in registry";
const char kWaiting[] = "Vindle: Waiting for NUV completion";
const char kCompleted[] = "Vindle: NUV completed";

void Log(const char* message)
{
    HANDLE file = CreateFileA(kLogFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const LocalTimeValues now = GetLocalTimeValues();
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%d/%d/%d - %d:%d:%d ", now.month, now.day, now.year, now.hour, now.minute,
                  now.second);
    const std::string line = std::string(stamp) + message + "\r\n";
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

bool IsEngineValuePresent()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | kRegistryView, &key) != ERROR_SUCCESS) {
        Log(kKeyError);
        return false;
    }
    const bool present = RegQueryValueExA(key, kEngineValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
}

} // namespace

int RunVindle()
{
    if (IsExistingFile(kErrorFile)) {
        // The failure goes to the factory at once; an existing tag stays as it is.
        CopyFileA(kErrorFile, kErrorCopy, FALSE);
        HANDLE tag = CreateFileA(kFailTag, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (tag != INVALID_HANDLE_VALUE)
            CloseHandle(tag);
        return 0;
    }
    Log(kEntered);
    while (!IsEngineValuePresent())
        PauseMilliseconds(kRegistryRetryMs);
    Log(kFound);
    Log(kWaiting);
    while (!IsExistingFile(kFinishedMark))
        PauseMilliseconds(kPollMs);
    Log(kCompleted);
    return 0;
}
