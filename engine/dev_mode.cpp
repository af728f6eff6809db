#include "dev_mode.h"

#include "dev_mode_settings.h"
#include "engine_paths.h"
#include "file_rewrite.h"
#include "nuv_app.h"
#include "resource.h"

#include <string>

namespace {

// Consumes a release that came while nobody waited, so the next step really waits.
const DWORD kStaleReleaseWaitMs = 10;

const char kSaveFailed[] = "CDevMode::Save() devMode.bin Error: ";

} // namespace

CDevMode::CDevMode()
    : m_skipReboots(FALSE), m_disableAppCleanup(FALSE), m_disableEngineCleanup(FALSE), m_stepMode(FALSE),
      m_detailedLogging(GetNUVApp() ? GetNUVApp()->IsLoggingEnabled() : FALSE), m_waiting(FALSE),
      m_stepSemaphore(CreateSemaphoreA(nullptr, 1, 1, nullptr)), m_dialog(nullptr)
{
    Load();
}

CDevMode::~CDevMode()
{
    if (m_stepSemaphore)
        CloseHandle(m_stepSemaphore);
}

void CDevMode::Load()
{
    HANDLE file = CreateFileA(kDevModeSettings, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char data[kDevModeSettingsSize] = {};
    DWORD got = 0;
    // A short file gives only the values it holds whole; the others keep their defaults.
    DWORD total = 0;
    while (total < kDevModeSettingsSize &&
           ReadFile(file, data + total, static_cast<DWORD>(kDevModeSettingsSize - total), &got, nullptr) && got > 0)
        total += got;
    CloseHandle(file);
    DevModeSettings settings = {m_disableAppCleanup, m_disableEngineCleanup, m_skipReboots, m_detailedLogging,
                                m_stepMode};
    ReadDevModeSettings(std::string(data, total), settings);
    m_disableAppCleanup = settings.disableAppCleanup;
    m_disableEngineCleanup = settings.disableEngineCleanup;
    m_skipReboots = settings.skipReboots;
    m_detailedLogging = settings.detailedLogging;
    m_stepMode = settings.stepMode;
}

void CDevMode::Save()
{
    const DevModeSettings settings = {m_disableAppCleanup, m_disableEngineCleanup, m_skipReboots, m_detailedLogging,
                                      m_stepMode};
    // Never emptied in place: a settings file cut short would turn the switches off, and
    // with them the sources the engineer asked to keep. A failure leaves the file as it
    // was, and is told: the switches will not be on after the restart.
    const std::string failure = ReplaceWholeFile(kDevModeSettings, FormatDevModeSettings(settings),
                                                 kDevModeSettingsRewrite, kDevModeSettingsAside);
    if (!failure.empty() && GetNUVApp())
        GetNUVApp()->WriteErrMsg(kSaveFailed + failure);
}

void CDevMode::SetDetailedLogging(BOOL value)
{
    m_detailedLogging = value;
    if (GetNUVApp())
        GetNUVApp()->SetLoggingEnabled(value);
}

void CDevMode::EnableStepButtons(BOOL enable)
{
    if (!m_dialog)
        return;
    EnableWindow(GetDlgItem(m_dialog, IDC_DEVMODE_STEP), enable);
    EnableWindow(GetDlgItem(m_dialog, IDC_DEVMODE_RUN), enable);
}

void CDevMode::WaitForStep()
{
    EnableStepButtons(TRUE);
    m_waiting = TRUE;
    WaitForSingleObject(m_stepSemaphore, kStaleReleaseWaitMs);
    WaitForSingleObject(m_stepSemaphore, INFINITE);
    m_waiting = FALSE;
    EnableStepButtons(FALSE);
}

void CDevMode::ReleaseStep()
{
    // At the maximum count of 1 the release fails, which is the intended no-op.
    ReleaseSemaphore(m_stepSemaphore, 1, nullptr);
}
