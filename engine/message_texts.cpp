#include "message_texts.h"

#include <cstddef>

namespace
{
const char kDefaultIconTitleText[] = "Complete Velk Setup";
const char kDefaultTitleText[] = "Velk Setup";
const char kDefaultInProgressText[] = "Now completing installation of applications...";
const char kDefaultSuccessText[] =
    "Velk Setup completed successfully.  You must restart your computer before the new "
    "settings will take effect.";
const char kDefaultFailGeneralText[] =
    "Velk Setup did not complete successfully.  Your Velk-installed software may not be "
    "configured properly.  Restart your system and run Velk Setup again.";
const char kDefaultNoPrivilegesText[] =
    "You must log in as Administrator to complete Velk Setup.";
const char kDefaultRestartText[] = "Setup will restart your computer in 10 seconds...";
const char kDefaultRestartButtonText[] = "Restart";

const char kQuote = '"';

struct MessageTextKey
{
    const char* key;
    std::string MessageTexts::*text;
};

// The order decides: "MSG_RESTART_BTN" must be tested before "MSG_RESTART", which it
// contains.
const MessageTextKey kMessageTextKeys[] = {
    {"MSG_ICONTITLE", &MessageTexts::iconTitle},
    {"MSG_TITLE", &MessageTexts::title},
    {"MSG_INPROGRESS", &MessageTexts::inProgress},
    {"MSG_SUCCESS", &MessageTexts::success},
    {"MSG_FAILGENERAL", &MessageTexts::failGeneral},
    {"MSG_NOPRIVS", &MessageTexts::noPrivileges},
    {"MSG_RESTART_BTN", &MessageTexts::restartButton},
    {"MSG_RESTART", &MessageTexts::restart},
};

bool IsEndingInQuote(const std::string& line)
{
    return !line.empty() && line.back() == kQuote;
}

// The setting's line: the line itself, and when its text is still open, the lines
// after it up to one that closes it. next moves past every line taken.
std::string TakeSettingLine(const std::vector<std::string>& lines, std::size_t& next)
{
    std::string line = lines[next++];
    if (line.empty() || IsEndingInQuote(line))
        return line;
    while (next < lines.size()) {
        const std::string& part = lines[next++];
        line += '\n';
        line += part;
        if (IsEndingInQuote(part))
            break;
    }
    return line;
}

const MessageTextKey* FindFirstKey(const std::string& line)
{
    for (const MessageTextKey& key : kMessageTextKeys) {
        if (line.find(key.key) != std::string::npos)
            return &key;
    }
    return nullptr;
}
}

MessageTexts::MessageTexts()
    : iconTitle(kDefaultIconTitleText),
      title(kDefaultTitleText),
      inProgress(kDefaultInProgressText),
      success(kDefaultSuccessText),
      failGeneral(kDefaultFailGeneralText),
      noPrivileges(kDefaultNoPrivilegesText),
      restart(kDefaultRestartText),
      restartButton(kDefaultRestartButtonText)
{
}

void ApplyMessageTextLines(const std::vector<std::string>& lines, MessageTexts& texts)
{
    std::size_t next = 0;
    while (next < lines.size()) {
        const std::string line = TakeSettingLine(lines, next);
        const MessageTextKey* key = FindFirstKey(line);
        if (key == nullptr)
            continue;
        const std::size_t opening = line.find(kQuote);
        if (opening == std::string::npos)
            continue;
        std::size_t end = line.size();
        // The closing quote is the line's last character; a text the file ended
        // before closing loses none of its own characters instead.
        if (IsEndingInQuote(line) && end - 1 > opening)
            --end;
        texts.*(key->text) = line.substr(opening + 1, end - opening - 1);
    }
}
