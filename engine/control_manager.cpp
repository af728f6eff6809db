#include "control_manager.h"

#include "line_file_text.h"
#include "local_time.h"
#include "nuv_app.h"
#include "os_family.h"
#include "run_list_file.h"
#include "run_list_text.h"
#include "step_marks.h"
#include "text.h"
#include "wrapper_library_name.h"

#include <new>
#include <vector>

namespace {

// One loaded wrapper library; the list lives for one walk.
struct WrapperLibrary
{
    std::string name;
    HMODULE module = nullptr;
    CreateWrapperInstanceProc create = nullptr;
    DestroyWrapperInstanceProc destroy = nullptr;
    WrapperLibrary* next = nullptr;
};

WrapperLibrary* g_libraries = nullptr;

WrapperLibrary* FindLibrary(const std::string& name)
{
    for (WrapperLibrary* library = g_libraries; library; library = library->next)
        if (IsSameText(library->name, name))
            return library;
    return nullptr;
}

void AppendLibrary(WrapperLibrary* record)
{
    WrapperLibrary** tail = &g_libraries;
    while (*tail)
        tail = &(*tail)->next;
    *tail = record;
}

void* FindExport(HMODULE module, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

const char kFailingDownload[] =
    "Failing Download. Install started but did not complete before reboot! :\r\n\t'%s'";
const char kCreateReturnedNull[] = "LoadWrapperAndCreateInstace return NULL unable to proceed with\r\n\t'%s'";
const char kInstallationFailed[] = "Installation Failed\r\n\t'%s'";
const char kCleanupFailed[] = "CleanupInstallationFiles Failed\r\n\t'%s'";
const char kLoadFailed[] = "Failed to load library %s Error Number: %d";
const char kExportMissing[] = "Failed to load '%s' function.  Error Number: %d";
// Progress that cannot be recorded fails the run: the entry would otherwise be
// installed again after a restart, with nothing on disk to say so.
const char kStampNotRecorded[] = "Unable to record the %s stamp in the run list: ";
const char kRunListUnreadable[] = "Unable to read the run list: ";
const char kLineTooLong[] = "the line with its stamps would be longer than 4095 characters";

// Whether the run list's volume keeps a file's last-write time to the 100 ns and its file
// index through renames (NTFS), so that they can prove the list unchanged; FAT's
// two-second times cannot.
bool HasPreciseFileTimes()
{
    static const bool precise = [] {
        const std::string root(kRunListPath, 3);
        char fileSystem[MAX_PATH + 1] = {};
        return GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                     sizeof fileSystem) &&
               IsSameText(fileSystem, "NTFS");
    }();
    return precise;
}

// The development-mode settings as they are now: an operator may open "Dev Mode" and
// change a switch at any moment, also while an entry installs.
CDevMode* GetActiveDevMode(CNUVApp* app)
{
    return app->IsDevModeActive() ? app->GetDevMode() : nullptr;
}


} // namespace

CControlManager::CControlManager() : m_position(0)
{
}

CControlManager::~CControlManager()
{
    UnloadWrappers();
}

void CControlManager::Report(const char* format, const CRunEntry& entry)
{
    CNUVApp* app = GetNUVApp();
    app->WriteErrMsg(FormatMessageText(format, entry.FormatLine()));
    app->SetErrorFlag();
}

BOOL CControlManager::RecordStamp(CRunEntry& entry, Stamp stamp)
{
    MarkStep(WorkStep::Other);
    const LocalTimeValues now = GetLocalTimeValues();
    const char* name = "START";
    if (stamp == Stamp::Start) {
        entry.SetStartTime(now);
    } else if (stamp == Stamp::Stop) {
        entry.SetStopTime(now);
        name = "STOP";
    } else {
        entry.SetCleanTime(now);
        name = "CLEAN";
    }
    const BOOL recorded = UpdateEntry(entry);
    MarkStep(stamp == Stamp::Start ? WorkStep::StartStamped
                                   : stamp == Stamp::Stop ? WorkStep::StopStamped : WorkStep::CleanStamped);
    if (!recorded)
        ReportUnrecorded(name, entry);
    return recorded;
}

BOOL CControlManager::RecordStopAndClean(CRunEntry& entry)
{
    const LocalTimeValues now = GetLocalTimeValues();
    CRunEntry stopped = entry;
    stopped.SetStopTime(now);
    CRunEntry finished = stopped;
    finished.SetCleanTime(now);
    // Where only STOP still fits the line, each stamp goes as far as it can on its own.
    if (!IsWithinLineLimit(finished.FormatLine()))
        return RecordStamp(entry, Stamp::Stop) && RecordStamp(entry, Stamp::Clean);
    MarkStep(WorkStep::Other);
    const BOOL recorded = UpdateEntry(finished);
    MarkStep(WorkStep::StopAndCleanStamped);
    // Not recorded, the list stands as before the STOP stamp: that is the one that failed.
    entry = recorded ? finished : stopped;
    if (!recorded)
        ReportUnrecorded("STOP", entry);
    return recorded;
}

void CControlManager::ReportUnrecorded(const char* stampName, const CRunEntry& entry)
{
    CNUVApp* app = GetNUVApp();
    app->WriteErrMsg(FormatMessageText(kStampNotRecorded, stampName) + m_runListFailure + "\r\n\t'" +
                     entry.FormatLine() + "'");
    app->SetErrorFlag();
}

CRunEntry* CControlManager::GetNextEntry()
{
    MarkStep(WorkStep::Other);
    CRunEntry* entry = GetEntry();
    MarkStep(WorkStep::EntryRead);
    // A list that cannot be read is not a finished one.
    if (!entry && !m_runListFailure.empty()) {
        CNUVApp* app = GetNUVApp();
        app->WriteErrMsg(kRunListUnreadable + m_runListFailure);
        app->SetErrorFlag();
    }
    return entry;
}

void CControlManager::SendProgress(UINT message, LPARAM lParam)
{
    MarkStep(WorkStep::Other);
    HWND window = GetNUVApp()->GetMainWindow();
    if (window)
        SendMessageA(window, message, 0, lParam);
    MarkStep(WorkStep::ProgressSent);
}

void CControlManager::InstallApplications()
{
    CNUVApp* app = GetNUVApp();
    app->Log("CControlManager::InstallApplications(...) called");
    DeleteLeftRunListCopies();
    const int count = CountEntries();
    SendProgress(WM_PROGRESS_INIT, MAKELPARAM(0, static_cast<WORD>(count)));

    CRunEntry* entry = GetNextEntry();
    while (entry) {
        app->Log("CControlManager::InstallApplications(...) GetEntry(...) return valid entry");
        if (CDevMode* devMode = GetActiveDevMode(app))
            if (devMode->GetStepMode() == 1)
                devMode->WaitForStep();

        if (entry->GetStartTime().empty()) {
            app->Log("\tSetting start time");
            if (!RecordStamp(*entry, Stamp::Start)) {
                // Not begun: nothing is installed that the run list does not know of.
                delete entry;
                entry = nullptr;
                break;
            }
        } else if (entry->GetCleanTime().empty()) {
            app->Log("\tStart time with no clean time found.");
            Report(kFailingDownload, *entry);
            delete entry;
            entry = nullptr;
            break;
        }

        CWrapper* wrapper = LoadWrapperAndCreateInstance(entry->GetWrapperName());
        MarkStep(WorkStep::LibraryLoaded);
        if (!wrapper) {
            app->Log("\tLoadWrapperAndCreateInstance failed");
            Report(kCreateReturnedNull, *entry);
        } else {
            app->Log("\tLoadWrapperAndCreateInstance(...) was successful");
            // A stamp that could not be recorded ends the entry's pass like a failure.
            BOOL recorded = TRUE;
            // A successful install's STOP waits for the clean-up decision: where there is
            // nothing to clean up, it goes to the disk with CLEAN in one rewrite.
            bool stopPending = false;
            if (entry->GetStopTime().empty()) {
                app->Log("\tNo stop time detected.  Proceeding with installation");
                app->Log("\tCalling pWrapper->PreInstallApplication(...)");
                BOOL ok = wrapper->PreInstallApplication();
                MarkStep(WorkStep::PreInstalled);
                if (ok) {
                    app->Log("\tCalling pWrapper->InstallApplication(...)");
                    std::vector<char> command = MakeWritableCopy(entry->GetInstallCommand());
                    ok = wrapper->InstallApplication(command.data(), entry->GetTimeout());
                    MarkStep(WorkStep::Installed);
                }
                if (ok) {
                    app->Log("\tCalling pWrapper->PostInstallApplication(...)");
                    ok = wrapper->PostInstallApplication();
                    MarkStep(WorkStep::PostInstalled);
                }
                if (ok) {
                    app->Log("\tInstallations successful.  Entering stop time.");
                    stopPending = true;
                } else {
                    app->Log("\tInstallations failed.  Setting error flag.");
                    Report(kInstallationFailed, *entry);
                }
            }

            const bool cleanupPhase = (stopPending || !entry->GetStopTime().empty()) && entry->GetCleanTime().empty();
            if (stopPending && !cleanupPhase)
                recorded = RecordStamp(*entry, Stamp::Stop);
            if (cleanupPhase) {
                CDevMode* devMode = GetActiveDevMode(app);
                const BOOL cleanupSwitch = devMode && devMode->GetDisableAppCleanup() == 1;
                if (entry->GetCleanDirectory().empty() || cleanupSwitch) {
                    app->Log(cleanupSwitch
                                 ? "\tDevelopment mode disabled source cleanup.  Entering clean time as placeholder."
                                 : "\tNo clean directory.  Entering clean time as placeholder.");
                    recorded = stopPending ? RecordStopAndClean(*entry) : RecordStamp(*entry, Stamp::Clean);
                } else if (stopPending && !RecordStamp(*entry, Stamp::Stop)) {
                    // The folder goes only once the STOP stamp is on the disk.
                    recorded = FALSE;
                } else {
                    std::vector<char> directory = MakeWritableCopy(entry->GetCleanDirectory());
                    const BOOL cleaned = wrapper->CleanupInstallationFiles(directory.data());
                    MarkStep(WorkStep::CleanedUp);
                    if (cleaned) {
                        app->Log("\tCleanupInstallationFiles(...) complete.  Entering clean time.");
                        recorded = RecordStamp(*entry, Stamp::Clean);
                    } else {
                        app->Log("\tCleanupInstallationFiles(...) failed.  Setting error flag.");
                        Report(kCleanupFailed, *entry);
                    }
                }

                if (recorded && entry->IsRebootRequested()) {
                    // Again: the clean-up may have taken long enough for a change.
                    devMode = GetActiveDevMode(app);
                    const BOOL skip = devMode ? devMode->GetSkipReboots() : 0;
                    if (skip == 0) {
                        app->Log("\tItem requested an intermediate reboot.  Calling system shutdown...");
                        app->SetSystemShutdown(TRUE, FALSE);
                        ReleaseWrapperInstance(entry->GetWrapperName(), wrapper);
                        delete entry;
                        UnloadWrappers();
                        MarkStep(WorkStep::WalkEnded);
                        return;
                    }
                    app->Log("\tItem requested an intermediate reboot.  Development Mode skip reboot enabled. "
                             "Skipping reboot...");
                }
            }
            ReleaseWrapperInstance(entry->GetWrapperName(), wrapper);
            MarkStep(WorkStep::Released);
        }

        app->Log("\tDeleting entry object...");
        delete entry;
        entry = nullptr;
        SendProgress(WM_PROGRESS_STEP, 0);
        if (app->IsErrorFlagEnabled()) {
            app->Log("CControlManager::InstallApplications(...) error encountered.  Exiting...");
            break;
        }
        entry = GetNextEntry();
    }

    app->Log("CControlManager::InstallApplications(...) UnloadWrappers(...) being called");
    UnloadWrappers();
    MarkStep(WorkStep::WalkEnded);
}

CWrapper* CControlManager::LoadWrapperAndCreateInstance(const std::string& wrapperName)
{
    CNUVApp* app = GetNUVApp();
    const std::string name = ApplyLibrarySuffixRule(wrapperName);
    if (WrapperLibrary* cached = FindLibrary(name))
        return cached->create();

    // A plug-in that lacks a DLL of its own must not stop an unattended run with a box.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    HMODULE module = LoadLibraryA(name.c_str());
    const DWORD loadError = GetLastError();
    SetErrorMode(previousMode);
    if (!module) {
        app->WriteErrMsg(FormatMessageText(kLoadFailed, name, static_cast<long>(loadError)));
        return nullptr;
    }
    WrapperLibrary* record = new (std::nothrow) WrapperLibrary;
    if (!record) {
        app->WriteErrMsg("Failed to create new Wrapper DLL Structure");
        FreeLibrary(module);
        return nullptr;
    }
    record->create = reinterpret_cast<CreateWrapperInstanceProc>(FindExport(module, WRAPPER_CREATE_EXPORT));
    record->destroy = record->create
        ? reinterpret_cast<DestroyWrapperInstanceProc>(FindExport(module, WRAPPER_DESTROY_EXPORT))
        : nullptr;
    if (!record->create || !record->destroy) {
        const DWORD error = GetLastError();
        app->WriteErrMsg(FormatMessageText(kExportMissing, record->create ? WRAPPER_DESTROY_EXPORT : WRAPPER_CREATE_EXPORT,
                                           static_cast<long>(error)));
        delete record;
        FreeLibrary(module);
        return nullptr;
    }
    record->name = name;
    record->module = module;
    record->next = nullptr;
    AppendLibrary(record);
    return record->create();
}

void CControlManager::ReleaseWrapperInstance(const std::string& wrapperName, CWrapper* wrapper)
{
    if (WrapperLibrary* library = FindLibrary(ApplyLibrarySuffixRule(wrapperName)))
        library->destroy(wrapper);
}

void CControlManager::UnloadWrappers()
{
    while (g_libraries) {
        WrapperLibrary* library = g_libraries;
        g_libraries = library->next;
        FreeLibrary(library->module);
        delete library;
    }
}

bool CControlManager::ResumeAfterStampedLine()
{
    // Only where a file's identity and last-write time prove that it is still what the
    // engine wrote: the 9x family's two-second times and unstable file index cannot.
    if (!m_resume.identityKnown || m_resume.position != m_position || GetRunningOSFamily() != OSFamilyNT ||
        !HasPreciseFileTimes())
        return false;
    FileIdentity identity;
    if (!GetFileIdentity(identity) || !(identity == m_resume.identity) || m_resume.lineStart > 0x7fffffffULL)
        return false;
    // The line stamped last, where it was written, and a line's end just before it: the
    // list goes on after it.
    std::string line;
    if (m_resume.lineStart > 0) {
        if (!Seek(static_cast<long>(m_resume.lineStart - 1), FILE_BEGIN) || !ReadLine(line) || !line.empty() ||
            !HadLineEnd())
            return false;
    } else if (!SeekToBegin()) {
        return false;
    }
    return ReadLine(line) && HadLineEnd() && line == m_resume.line;
}

CRunEntry* CControlManager::GetEntry()
{
    m_runListFailure.clear();
    const RunListState state = RestoreRunList(m_runListFailure);
    if (state != RunListState::Present)
        return nullptr;
    if (!OpenSharedLineFile(*this, kRunListPath, modeRead)) {
        m_runListFailure = DescribeOpenFailure(kRunListPath, GetLastError());
        return nullptr;
    }
    std::string line;
    bool found = false;
    int skipped = m_position;
    // The next entry from where the last stamp left it, or else from the top.
    if (!ResumeAfterStampedLine()) {
        skipped = 0;
        if (SeekToBegin())
            while (skipped < m_position && ReadLine(line))
                ++skipped;
    }
    m_resume = ResumePoint();
    if (skipped == m_position) {
        while (!found) {
            ++m_position;
            if (!ReadLine(line))
                break;
            found = GetRunListLineKind(line) == RunListLineKind::Entry;
        }
    }
    // A read that failed is not the end of the list.
    if (!found && (HasReadFailed() || !IsEOF()))
        m_runListFailure = DescribeReadFailure(kRunListPath, GetFailureCode());
    Close();
    return found ? new CRunEntry(m_position, TrimWhiteSpace(line)) : nullptr;
}

BOOL CControlManager::IsLastEntry()
{
    CRunEntry* entry = GetEntry();
    const BOOL last = entry == nullptr;
    delete entry;
    return last;
}

int CControlManager::CountEntries()
{
    std::string failure;
    if (RestoreRunList(failure) != RunListState::Present || !OpenSharedLineFile(*this, kRunListPath, modeRead))
        return 0;
    int count = 0;
    std::string line;
    while (ReadLine(line))
        if (!line.empty())
            ++count;
    Close();
    return count;
}

BOOL CControlManager::UpdateEntry(const CRunEntry& entry)
{
    m_runListFailure.clear();
    // A line over the limit would come back as two lines, the stamps cut off into a
    // false entry: the list is left as it is instead.
    const std::string replacement = entry.FormatLine();
    if (!IsWithinLineLimit(replacement)) {
        m_runListFailure = kLineTooLong;
        return FALSE;
    }
    if (RestoreRunList(m_runListFailure) != RunListState::Present) {
        if (m_runListFailure.empty())
            m_runListFailure = std::string(kRunListPath) + " is missing";
        return FALSE;
    }
    const int lineNumber = entry.GetLineNumber();
    // Every line gets a line end, a last line that had none too.
    LineRewritten rewritten;
    m_runListFailure = RewriteRunList(*this, lineNumber, replacement, rewritten);
    m_resume = ResumePoint();
    if (!m_runListFailure.empty())
        return FALSE;
    m_resume.position = lineNumber;
    m_resume.lineStart = rewritten.lineStart;
    m_resume.line = replacement;
    m_resume.identityKnown = rewritten.identityKnown;
    m_resume.identity = rewritten.identity;
    return TRUE;
}
