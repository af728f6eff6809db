// The framework's message box. Every box a program shows goes through here, so that a
// test can see the boxes in place of a person.
#pragma once

#include <windows.h>

#include <string>

// MessageBoxA with the text and caption; the button the person pressed.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

// Replaces the box for tests; nullptr restores the real one.
void SetMessageBoxHook(int (*hook)(HWND owner, const std::string& text, const std::string& caption, UINT type));
