#include "message_box.h"

namespace {
int (*g_hook)(HWND, const std::string&, const std::string&, UINT) = nullptr;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    if (g_hook)
        return g_hook(owner, text, caption, type);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

void SetMessageBoxHook(int (*hook)(HWND, const std::string&, const std::string&, UINT))
{
    g_hook = hook;
}
