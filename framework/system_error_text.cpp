#include "system_error_text.h"

#include <vector>

std::string GetSystemErrorText(DWORD error, DWORD language, DWORD maxCharacters)
{
    std::vector<char> text(maxCharacters + 1, '\0');
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        language, text.data(), maxCharacters, nullptr);
    std::string message(text.data(), length <= maxCharacters ? length : 0);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}
