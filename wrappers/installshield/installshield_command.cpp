#include "installshield_command.h"

#include "text.h"

#include <algorithm>

namespace {

const char kOptionStarts[] = "/-";
const char kSmsOption[] = "SMS";
const char kSilentOption[] = "S";
const char kLogOption[] = "F2";
const char kDefaultLog[] = "setup.log";
const char kBlanks[] = " \t";

std::string TrimRight(const std::string& text)
{
    const std::string::size_type last = text.find_last_not_of(" \t\r\n\v\f");
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

// The set-up program's path as the system starts it: between double quotes when it
// begins with a pair of them, else up to the first space. end: where it ends in the command.
std::string GetProgramPath(const std::string& command, std::string::size_type& end)
{
    const std::string::size_type quote = command.empty() || command[0] != '"' ? std::string::npos : command.find('"', 1);
    if (quote != std::string::npos) {
        end = quote + 1;
        return command.substr(1, quote - 1);
    }
    end = std::min(command.find(' '), command.size());
    return command.substr(0, end);
}

// An option's value as the set-up reads its arguments: up to the first blank outside a
// pair of double quotes, the quotes dropped. end: where the value ends in the command.
std::string ReadOptionValue(const std::string& command, std::string::size_type start, std::string::size_type& end)
{
    std::string value;
    bool quoted = false;
    for (end = start; end < command.size(); ++end) {
        const char c = command[end];
        if (c == '"') {
            // A quote that opens no pair is dropped and quotes nothing.
            if (quoted || command.find('"', end + 1) != std::string::npos)
                quoted = !quoted;
        } else if (!quoted && std::string(kBlanks).find(c) != std::string::npos) {
            break;
        } else {
            value += c;
        }
    }
    return value;
}

} // namespace

InstallShieldCommand PrepareInstallShieldCommand(const std::string& given)
{
    InstallShieldCommand result;
    result.command = given;
    bool sms = false;
    bool silent = false;
    bool logGiven = false;
    // Options follow the program: a "-" or "/" in its own path starts none.
    std::string::size_type programEnd = 0;
    const std::string program = GetProgramPath(given, programEnd);
    const std::string::size_type first = given.find_first_of(kOptionStarts, programEnd);
    for (std::string::size_type at = first == std::string::npos ? given.size() + 1 : first + 1; at < given.size();) {
        const std::string::size_type next = given.find_first_of(kOptionStarts, at);
        const std::string raw = given.substr(at, next == std::string::npos ? std::string::npos : next - at);
        const std::string option = TrimRight(raw);
        if (IsSameText(option, kSmsOption)) {
            sms = true;
        } else if (IsSameText(option, kSilentOption)) {
            silent = true;
        } else if (option.size() >= 2 && IsSameText(option.substr(0, 2), kLogOption)) {
            // The log file is where the set-up writes it: the whole path, "-", "/" and
            // quoted blanks included; the options go on after it.
            std::string::size_type end = 0;
            result.logPath = ReadOptionValue(given, at + 2, end);
            logGiven = true;
            const std::string::size_type after = given.find_first_of(kOptionStarts, end);
            at = after == std::string::npos ? given.size() : after + 1;
            continue;
        }
        at += raw.size() + 1;
    }
    if (!sms)
        result.command += " /SMS";
    if (!silent)
        result.command += " /S";
    if (!logGiven) {
        const std::string::size_type slash = program.rfind('\\');
        result.logPath = (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) + kDefaultLog;
    }
    return result;
}
