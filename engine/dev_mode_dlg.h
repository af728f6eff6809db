// The Development Mode window: an engineer pauses, steps and steers the walk and switches
// the clean-ups, the restarts and the log while the progress window is up. Modeless; it
// deletes itself when its window is gone.
#pragma once

#include "dialog.h"

#include <string>

class CDevModeDlg : public CDialog
{
public:
    // record: where the progress window keeps its pointer to the open window; cleared
    // when the window goes. Open the window with Create.
    explicit CDevModeDlg(CDevModeDlg** record);

protected:
    BOOL OnInitDialog() override;
    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDestroy() override;
    void PostNcDestroy() override;

private:
    // The framework's data exchange: TRUE copies the controls into the data.
    void UpdateData(BOOL saveAndValidate);
    void OnCommand(int id);
    void EnableButton(int id, BOOL enable);
    void PlaceInCorner();
    void OpenInNotepad(const char* file);

    CDevModeDlg** m_record;
    BOOL m_skipReboots;
    BOOL m_disableAppCleanup;
    BOOL m_disableEngineCleanup;
    int m_logging;  // 0: enabled, 1: disabled
};
