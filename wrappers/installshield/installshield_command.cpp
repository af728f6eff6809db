#include "installshield_command.h"

#include "text.h"

namespace {

const char kOptionStarts[] = "/-";
const char kSmsOption[] = "SMS";
const char kSilentOption[] = "S";
const char kLogOption[] = "F2";
const char kDefaultLog[] = "setup.log";

std::string TrimRight(const std::string& text)
{
    const std::string::size_type last = text.find_last_not_of(" \t\r\n\v\f");
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

} // namespace

InstallShieldCommand PrepareInstallShieldCommand(const std::string& given)
{
    InstallShieldCommand result;
    result.command = given;
    bool sms = false;
    bool silent = false;
    bool logGiven = false;
    const std::string::size_type first = given.find_first_of(kOptionStarts);
    for (std::string::size_type at = first == std::string::npos ? given.size() + 1 : first + 1; at < given.size();) {
        const std::string::size_type next = given.find_first_of(kOptionStarts, at);
        const std::string raw = given.substr(at, next == std::string::npos ? std::string::npos : next - at);
        const std::string option = TrimRight(raw);
        if (IsSameText(option, kSmsOption)) {
            sms = true;
        } else if (IsSameText(option, kSilentOption)) {
            silent = true;
        } else if (option.size() >= 2 && IsSameText(option.substr(0, 2), kLogOption)) {
            result.logPath = option.substr(2);
            logGiven = true;
        }
        at += raw.size() + 1;
    }
    if (!sms)
        result.command += " /SMS";
    if (!silent)
        result.command += " /S";
    if (!logGiven) {
        const std::string program = result.command.substr(0, result.command.find(' '));
        const std::string::size_type slash = program.rfind('\\');
        result.logPath = (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) + kDefaultLog;
    }
    return result;
}
