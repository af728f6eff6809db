#include "control_manager.h"

#include "line_file_text.h"
#include "local_time.h"
#include "nuv_app.h"
#include "run_list_file.h"
#include "run_list_text.h"
#include "wrapper_library_name.h"
#include "text.h"

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

// The wrapper gets its own copy of each text, which it may change.
std::vector<char> MakeArgument(const std::string& text)
{
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
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

} // namespace

CControlManager::CControlManager() : m_position(0)
{
}

CControlManager::~CControlManager()
{
    UnloadWrappers();
}

void CControlManager::Log(const char* text)
{
    CNUVApp* app = GetNUVApp();
    if (app && app->IsLoggingEnabled())
        app->WriteLog(text);
}

void CControlManager::Report(const char* format, const CRunEntry& entry)
{
    CNUVApp* app = GetNUVApp();
    app->WriteErrMsg(FormatMessageText(format, entry.FormatLine()));
    app->SetErrorFlag();
}

void CControlManager::SendProgress(UINT message, LPARAM lParam)
{
    HWND window = GetNUVApp()->GetMainWindow();
    if (window)
        SendMessageA(window, message, 0, lParam);
}

void CControlManager::InstallApplications()
{
    CNUVApp* app = GetNUVApp();
    Log("CControlManager::InstallApplications(...) called");
    const int count = CountEntries();
    SendProgress(WM_PROGRESS_INIT, MAKELPARAM(0, static_cast<WORD>(count)));

    CRunEntry* entry = GetEntry();
    while (entry) {
        Log("CControlManager::InstallApplications(...) GetEntry(...) return valid entry");
        CDevMode* devMode = app->IsDevModeActive() ? app->GetDevMode() : nullptr;
        if (devMode && devMode->GetStepMode() == 1)
            devMode->WaitForStep();

        if (entry->GetStartTime().empty()) {
            Log("\tSetting start time");
            entry->SetStartTime(GetLocalTimeValues());
            UpdateEntry(*entry);
        } else if (entry->GetCleanTime().empty()) {
            Log("\tStart time with no clean time found.");
            Report(kFailingDownload, *entry);
            delete entry;
            entry = nullptr;
            break;
        }

        CWrapper* wrapper = LoadWrapperAndCreateInstance(entry->GetWrapperName());
        if (!wrapper) {
            Log("\tLoadWrapperAndCreateInstance failed");
            Report(kCreateReturnedNull, *entry);
        } else {
            Log("\tLoadWrapperAndCreateInstance(...) was successful");
            if (entry->GetStopTime().empty()) {
                Log("\tNo stop time detected.  Proceeding with installation");
                Log("\tCalling pWrapper->PreInstallApplication(...)");
                BOOL ok = wrapper->PreInstallApplication();
                if (ok) {
                    Log("\tCalling pWrapper->InstallApplication(...)");
                    std::vector<char> command = MakeArgument(entry->GetInstallCommand());
                    ok = wrapper->InstallApplication(command.data(), entry->GetTimeout());
                }
                if (ok) {
                    Log("\tCalling pWrapper->PostInstallApplication(...)");
                    ok = wrapper->PostInstallApplication();
                }
                if (ok) {
                    Log("\tInstallations successful.  Entering stop time.");
                    entry->SetStopTime(GetLocalTimeValues());
                    UpdateEntry(*entry);
                } else {
                    Log("\tInstallations failed.  Setting error flag.");
                    Report(kInstallationFailed, *entry);
                }
            }

            if (!entry->GetStopTime().empty() && entry->GetCleanTime().empty()) {
                const BOOL cleanupSwitch = devMode && devMode->GetDisableAppCleanup() == 1;
                if (entry->GetCleanDirectory().empty() || cleanupSwitch) {
                    Log(cleanupSwitch ? "\tDevelopment mode disabled source cleanup.  Entering clean time as placeholder."
                                      : "\tNo clean directory.  Entering clean time as placeholder.");
                    entry->SetCleanTime(GetLocalTimeValues());
                    UpdateEntry(*entry);
                } else {
                    std::vector<char> directory = MakeArgument(entry->GetCleanDirectory());
                    if (wrapper->CleanupInstallationFiles(directory.data())) {
                        Log("\tCleanupInstallationFiles(...) complete.  Entering clean time.");
                        entry->SetCleanTime(GetLocalTimeValues());
                        UpdateEntry(*entry);
                    } else {
                        Log("\tCleanupInstallationFiles(...) failed.  Setting error flag.");
                        Report(kCleanupFailed, *entry);
                    }
                }

                if (entry->IsRebootRequested()) {
                    const BOOL skip = devMode ? devMode->GetSkipReboots() : 0;
                    if (skip == 0) {
                        Log("\tItem requested an intermediate reboot.  Calling system shutdown...");
                        app->SetSystemShutdown(TRUE, FALSE);
                        ReleaseWrapperInstance(entry->GetWrapperName(), wrapper);
                        delete entry;
                        UnloadWrappers();
                        return;
                    }
                    Log("\tItem requested an intermediate reboot.  Development Mode skip reboot enabled. Skipping reboot...");
                }
            }
            ReleaseWrapperInstance(entry->GetWrapperName(), wrapper);
        }

        Log("\tDeleting entry object...");
        delete entry;
        entry = nullptr;
        SendProgress(WM_PROGRESS_STEP, 0);
        if (app->IsErrorFlagEnabled()) {
            Log("CControlManager::InstallApplications(...) error encountered.  Exiting...");
            break;
        }
        entry = GetEntry();
    }

    Log("CControlManager::InstallApplications(...) UnloadWrappers(...) being called");
    UnloadWrappers();
}

CWrapper* CControlManager::LoadWrapperAndCreateInstance(const std::string& wrapperName)
{
    CNUVApp* app = GetNUVApp();
    const std::string name = ApplyLibrarySuffixRule(wrapperName);
    if (WrapperLibrary* cached = FindLibrary(name))
        return cached->create();

    HMODULE module = LoadLibraryA(name.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        app->WriteErrMsg(FormatMessageText(kLoadFailed, name, static_cast<long>(error)));
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

CRunEntry* CControlManager::GetEntry()
{
    RestoreRunList();
    if (!Open(kRunListPath, modeRead))
        return nullptr;
    std::string line;
    for (int skipped = 0; skipped < m_position; ++skipped) {
        if (!ReadLine(line)) {
            Close();
            return nullptr;
        }
    }
    while (true) {
        ++m_position;
        if (!ReadLine(line)) {
            Close();
            return nullptr;
        }
        if (GetRunListLineKind(line) == RunListLineKind::Entry)
            break;
    }
    CRunEntry* entry = new CRunEntry(m_position, TrimWhiteSpace(line));
    Close();
    return entry;
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
    RestoreRunList();
    if (!Open(kRunListPath, modeRead))
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
    // A line over the limit would come back as two lines, the stamps cut off into a
    // false entry: the list is left as it is instead.
    const std::string replacement = entry.FormatLine();
    if (!IsWithinLineLimit(replacement))
        return FALSE;
    RestoreRunList();
    CLineFile rewrite;
    if (!rewrite.Open(kRunListRewritePath, modeWrite))
        return FALSE;
    if (!Open(kRunListPath, modeRead)) {
        rewrite.Close();
        return FALSE;
    }
    std::string line;
    for (int number = 1; ReadLine(line); ++number) {
        rewrite.WriteLine((number == entry.GetLineNumber() ? replacement : line) + "\n");
        if (rewrite.HasWriteFailed()) {
            rewrite.Close();
            Close();
            return FALSE;
        }
    }
    Close();
    // The rewrite must be on the disk before it can take the list's place.
    const BOOL flushed = rewrite.Flush();
    rewrite.Close();
    if (!flushed)
        return FALSE;
    return ReplaceRunList() ? TRUE : FALSE;
}
