// The engine's driver: walks the run list entry by entry, loads the wrapper library
// each entry names, drives the wrapper object through the install phases and writes
// the START, STOP and CLEAN stamps back into the run list between them.
#pragma once

#include "file_rewrite.h"
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
    // nullptr with a failure text (GetRunListFailure) when the list is there but cannot
    // be read: that is no end of the list.
    CRunEntry* GetEntry();
    BOOL IsLastEntry();
    // FALSE, with the reason in GetRunListFailure, when the stamp cannot be recorded.
    BOOL UpdateEntry(const CRunEntry& entry);
    int CountEntries();
    // Why the last GetEntry or UpdateEntry failed; empty when it did not.
    const std::string& GetRunListFailure() const { return m_runListFailure; }

private:
    // GetEntry, with a list that cannot be read reported as a failure of the run.
    CRunEntry* GetNextEntry();
    enum class Stamp { Start, Stop, Clean };
    // Sets the stamp to now and writes it; a stamp that cannot be written is reported
    // as a failure of the run.
    BOOL RecordStamp(CRunEntry& entry, Stamp stamp);
    // STOP and CLEAN where nothing is done between them, in one rewrite: the list on the
    // disk goes from START alone to all three stamps, a step two rewrites also make.
    BOOL RecordStopAndClean(CRunEntry& entry);
    void ReportUnrecorded(const char* stampName, const CRunEntry& entry);
    void Report(const char* format, const CRunEntry& entry);
    void SendProgress(UINT message, LPARAM lParam);

    // Where the line stamped last stands in the list as the engine wrote it, so that the
    // next entry is read from there and not from the top.
    struct ResumePoint
    {
        int position = 0;  // its line number
        unsigned long long lineStart = 0;
        std::string line;
        bool identityKnown = false;
        FileIdentity identity;
    };
    // Whether the open list is still as the last stamp wrote it; if so, read up to the end
    // of the stamped line.
    bool ResumeAfterStampedLine();

    int m_position;
    std::string m_runListFailure;
    ResumePoint m_resume;
};
