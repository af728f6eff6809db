#include "msi_command.h"

#include "text.h"

const MsiPropertyRow kQuillanProperties[] = {
    {"REBOOT", "ReallySuppress", kReplaceDifferentValue, CFileVersion(0, 0, 0, 0)},
    {"FASTOEM", "1", kKeepExistingValue, CFileVersion(1, 11, 1314, 0)},
    {"ALLUSERS", "1", kKeepExistingValue, CFileVersion(0, 0, 0, 0)},
    {"DISABLEROLLBACK", "1", kReplaceDifferentValue, CFileVersion(0, 0, 0, 0)},
};
const std::size_t kQuillanPropertyCount = sizeof kQuillanProperties / sizeof kQuillanProperties[0];
const MsiPropertyRow kSorvaneProperties[] = {
    {"REBOOT", "ReallySuppress", kReplaceDifferentValue, CFileVersion(0, 0, 0, 0)},
};
const std::size_t kSorvanePropertyCount = sizeof kSorvaneProperties / sizeof kSorvaneProperties[0];
const MsiOptionRow kMsiOptions[] = {
    {"/qn", kReplaceDifferentValue, CFileVersion(0, 0, 0, 0)},
};
const std::size_t kMsiOptionCount = sizeof kMsiOptions / sizeof kMsiOptions[0];

namespace {

const char kPrefix[] = "MSIEXEC /I ";
const char kPackageMarker[] = ".MSI";
const char kQuotedPackageMarker[] = ".MSI\"";
const char kLauncherMarker[] = "SETUP.EXE";

// Drops the text from position to the first space after it, and the space before it.
void RemoveAt(std::string& command, std::string::size_type position)
{
    const std::string::size_type space = command.find(' ', position);
    const std::string rest = space == std::string::npos ? std::string() : command.substr(space);
    command = command.substr(0, position > 0 ? position - 1 : 0) + rest;
}

// Where the package path starts in the upper-cased command: at the last double quote
// before a quoted package's ".MSI", or after the last space before the first ".MSI".
// npos when a quoted package has no opening quote.
std::string::size_type FindPackageStart(const std::string& upper)
{
    const std::string::size_type quoted = upper.find(kQuotedPackageMarker);
    if (quoted != std::string::npos)
        return upper.substr(0, quoted).rfind('"');
    const std::string head = upper.substr(0, upper.find(kPackageMarker));
    const std::string::size_type space = head.rfind(' ');
    return space == std::string::npos ? 0 : space + 1;
}

// The first place where text stands as an argument of its own: at the start or after a
// blank, and followed by "=" (a property) or by the end or a blank (an option). A name
// inside a path or a longer word ("C:\APPS\REBOOTFIX\") is not that argument.
std::string::size_type FindArgument(const std::string& command, const std::string& text, bool property)
{
    for (std::string::size_type at = command.find(text); at != std::string::npos; at = command.find(text, at + 1)) {
        const std::string::size_type after = at + text.size();
        const bool starts = at == 0 || command[at - 1] == ' ' || command[at - 1] == '\t';
        const bool ends = property ? after < command.size() && command[after] == '='
                                   : after == command.size() || command[after] == ' ' || command[after] == '\t';
        if (starts && ends)
            return at;
    }
    return std::string::npos;
}

} // namespace

bool IsMsiPackageCommand(const std::string& command)
{
    const std::string upper = MakeUpperText(command);
    return upper.find(kPackageMarker) != std::string::npos && upper.find(kLauncherMarker) == std::string::npos;
}

std::string GetMsiPackagePath(const std::string& command)
{
    const std::string upper = MakeUpperText(command);
    const std::string::size_type start = FindPackageStart(upper);
    if (start == std::string::npos)
        return std::string();
    if (command[start] == '"') {
        const std::string::size_type end = upper.find(kQuotedPackageMarker, start);
        return command.substr(start + 1, end - start - 1 + std::string(kPackageMarker).size());
    }
    const std::string::size_type end = upper.find(kPackageMarker, start);
    return command.substr(start, end == std::string::npos ? std::string::npos
                                                          : end - start + std::string(kPackageMarker).size());
}

bool MakeMsiexecCommand(std::string& command)
{
    const std::string upper = MakeUpperText(command);
    const std::string::size_type start = FindPackageStart(upper);
    if (start == std::string::npos)
        return false;
    const std::string prefix = kPrefix;
    if (upper.compare(0, prefix.size(), prefix) == 0) {
        // Already a Windows Installer command: only checked. For an unquoted package the
        // prefix ends at the space before it; a quoted one starts right after it.
        return upper.substr(0, start) == prefix;
    }
    command = prefix + command.substr(start);
    return true;
}

void ApplyMsiProperty(std::string& command, const MsiPropertyRow& row, const CFileVersion& installed)
{
    const std::string name = row.name;
    const std::string::size_type at = FindArgument(command, name, true);
    if (at == std::string::npos) {
        if (installed.IsAtLeast(row.minimum))
            command += " " + name + "=" + row.value;
        return;
    }
    if (installed.IsBelow(row.minimum)) {
        RemoveAt(command, at);
        return;
    }
    // The value starts after the "=" that is taken to follow the name.
    const std::string::size_type valueAt = at + name.size() + 1;
    const bool alreadySet = valueAt <= command.size() && command.compare(valueAt, std::string(row.value).size(),
                                                                         row.value) == 0;
    if (alreadySet || row.mode != kReplaceDifferentValue)
        return;
    const std::string::size_type cut = valueAt < command.size() ? valueAt : command.size();
    const std::string::size_type space = command.find(' ', cut);
    command = command.substr(0, cut) + row.value + (space == std::string::npos ? std::string() : command.substr(space));
}

void ApplyMsiOption(std::string& command, const MsiOptionRow& row, const CFileVersion& installed)
{
    const std::string::size_type at = FindArgument(command, row.option, false);
    if (at == std::string::npos && row.mode == kReplaceDifferentValue) {
        if (installed.IsAtLeast(row.minimum))
            command += std::string(" ") + row.option;
    } else if (at != std::string::npos && installed.IsBelow(row.minimum)) {
        RemoveAt(command, at);
    }
}

bool PrepareMsiCommand(std::string& command, const MsiPropertyRow* rows, std::size_t rowCount,
                       const CFileVersion& installed)
{
    if (!MakeMsiexecCommand(command))
        return false;
    for (std::size_t i = 0; i < rowCount; ++i)
        ApplyMsiProperty(command, rows[i], installed);
    for (std::size_t i = 0; i < kMsiOptionCount; ++i)
        ApplyMsiOption(command, kMsiOptions[i], installed);
    return true;
}
