// The system's own text for an error code, as the messages of the logs quote it.
#pragma once

#include <windows.h>

#include <string>

// FormatMessageA from the system, at most maxCharacters, without its closing line end.
// language 0 lets the system choose; the utilities ask for the user's default language.
std::string GetSystemErrorText(DWORD error, DWORD language = 0, DWORD maxCharacters = 256);

// The user's default language, for GetSystemErrorText.
const DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
