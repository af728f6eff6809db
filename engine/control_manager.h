// The engine's driver: walks the run list entry by entry, loads the wrapper library
// each entry names, drives the wrapper object through the install phases and writes
// the START, STOP and CLEAN stamps back into the run list between them.
#pragma once

#include "line_file.h"
#include "run_entry.h"
#include "wrapper.h"

#include <string>

// Progress messages to the main window.
const UINT WM_PROGRESS_INIT = WM_USER + 100;  // lParam high word: number of entries
const UINT WM_PROGRESS_STEP = WM_USER + 101;

class CControlManager : public CLineFile
{
public:
    CControlManager();
    ~CControlManager() override;

    void InstallApplications();

    // The library is loaded once per walk, whatever the letter case of its name.
    CWrapper* LoadWrapperAndCreateInstance(const std::string& name);
    void ReleaseWrapperInstance(const std::string& name, CWrapper* wrapper);
    void UnloadWrappers();

    // The next entry line after the one returned last, or nullptr; owned by the caller.
    CRunEntry* GetEntry();
    BOOL IsLastEntry();
    BOOL UpdateEntry(const CRunEntry& entry);
    int CountEntries();

    // The number of run-list lines consumed so far.
    int GetPosition() const { return m_position; }

private:
    void Log(const char* text);
    void Report(const char* format, const CRunEntry& entry);
    void SendProgress(UINT message, LPARAM lParam);

    int m_position;
};
