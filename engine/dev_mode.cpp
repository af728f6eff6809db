#include "dev_mode.h"

#include "engine_paths.h"
#include "nuv_app.h"
#include "resource.h"

namespace {

const DWORD kSettingsSize = 20;
// Consumes a release that came while nobody waited, so the next step really waits.
const DWORD kStaleReleaseWaitMs = 10;

void PutValue(unsigned char* at, BOOL value)
{
    const unsigned long v = static_cast<unsigned long>(value);
    at[0] = static_cast<unsigned char>(v & 0xff);
    at[1] = static_cast<unsigned char>((v >> 8) & 0xff);
    at[2] = static_cast<unsigned char>((v >> 16) & 0xff);
    at[3] = static_cast<unsigned char>((v >> 24) & 0xff);
}

BOOL GetValue(const unsigned char* at)
{
    const unsigned long v = static_cast<unsigned long>(at[0]) | (static_cast<unsigned long>(at[1]) << 8) |
                            (static_cast<unsigned long>(at[2]) << 16) | (static_cast<unsigned long>(at[3]) << 24);
    return static_cast<BOOL>(v);
}

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
    unsigned char data[kSettingsSize] = {};
    DWORD got = 0;
    // A short file gives only the values it holds whole; the others keep their defaults.
    DWORD total = 0;
    while (total < kSettingsSize && ReadFile(file, data + total, kSettingsSize - total, &got, nullptr) && got > 0)
        total += got;
    CloseHandle(file);
    BOOL* fields[] = {&m_disableAppCleanup, &m_disableEngineCleanup, &m_skipReboots, &m_detailedLogging,
                      &m_stepMode};
    for (DWORD i = 0; i < 5 && (i + 1) * 4 <= total; ++i)
        *fields[i] = GetValue(data + i * 4);
}

void CDevMode::Save()
{
    HANDLE file = CreateFileA(kDevModeSettings, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    unsigned char data[kSettingsSize];
    PutValue(data, m_disableAppCleanup);
    PutValue(data + 4, m_disableEngineCleanup);
    PutValue(data + 8, m_skipReboots);
    PutValue(data + 12, m_detailedLogging);
    PutValue(data + 16, m_stepMode);
    DWORD written = 0;
    WriteFile(file, data, kSettingsSize, &written, nullptr);
    CloseHandle(file);
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
