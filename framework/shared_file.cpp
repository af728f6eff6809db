#include "shared_file.h"

#include "pause.h"

#include <windows.h>

namespace {

// A collision with another writer lasts as long as one line's write: a few short
// tries cover it without holding up the install noticeably.
const int kTries = 5;
const unsigned long kRetryPauseMs = 20;

bool IsHeldByAnotherWriter(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

} // namespace

bool AppendToSharedFile(const std::string& path, const std::string& text)
{
    for (int attempt = 1;; ++attempt) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (attempt >= kTries || !IsHeldByAnotherWriter(GetLastError()))
                return false;
            PauseMilliseconds(kRetryPauseMs);
            continue;
        }
        bool written = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
                       GetLastError() == NO_ERROR;
        if (written && !text.empty()) {
            DWORD count = 0;
            written = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &count, nullptr) &&
                      count == text.size();
        }
        CloseHandle(file);
        return written;
    }
}
