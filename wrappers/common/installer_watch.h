// The watch for installer processes that a set-up leaves behind (InstallShield's
// IKERNEL.EXE and its helpers): the next installation must not start beside them. The
// MSI and InstallShield wrappers watch before and after each run; what the watch sees
// goes to the diagnostic file on the diskette, never to the error file or a result.
#pragma once

#include <windows.h>

#include <string>

// The executables watched, upper case, searched in this order as parts of a path.
extern const char* const InstallerProcessNames[];
extern const int InstallerProcessNameCount;

// Called once per running process: identifier, 16-bit task (0), executable path (the
// callee may change it), the caller's value. FALSE stops the walk.
typedef BOOL (*ProcessCallback)(DWORD processId, WORD task, char* path, LPARAM context);

// Walks the running processes: PSAPI on the NT family, Toolhelp on the 9x family, both
// bound at run time. FALSE, without any call, when the list cannot be taken.
BOOL EnumerateProcesses(ProcessCallback callback, LPARAM context);

// The watch's callback: notes a watched process, or in the kill pass ends every one.
BOOL CheckInstallerProcess(DWORD processId, WORD task, char* path, LPARAM context);

// Waits in 5-second pauses (at most six) for watched processes to leave memory, then
// ends them. stage: "PRE INST" or "PRE CLEAN"; command: the one run, for the lines.
void WatchInstallerProcesses(const std::string& stage, const std::string& command);

// Appends a line to "a:\LOG"; without a disk in drive A the line is lost, with no box.
void WriteDiagnosticLine(const std::string& text);
