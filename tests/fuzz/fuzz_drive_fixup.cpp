// The drive fix-up utilities on any text: Hobrint's and Jaskel's command lines give
// parameters within their limits or the usage report; the variable replacement leaves no
// variable behind and only ever shortens the line; Hobrint fixes only lines that begin
// with the token and hold the variable, and the program path it looks for is a piece of
// the line; Jaskel's backup lies beside the file and is never the file itself; a
// "C:\VELK.SDR" line sets development mode only when it begins with the marker and names
// a site.
#include "development_marker_text.h"
#include "drive_fixup_command_line.h"
#include "drive_variable.h"
#include "fuzz_check.h"
#include "jaskel.h"
#include "run_list_fixup_text.h"
#include "text.h"

#include <cstdint>
#include <string>

namespace
{
void CheckParsed(const ParsedCommandLine& parsed, const std::string& commandLine)
{
    if (parsed.usage)
        return;
    const DriveFixupArguments& arguments = parsed.arguments;
    FUZZ_CHECK(!arguments.first.empty() && !arguments.second.empty() && !arguments.variable.empty());
    FUZZ_CHECK(arguments.first.size() <= kMaxPathParameter && arguments.second.size() <= kMaxPathParameter &&
               arguments.variable.size() <= kMaxVariableName);
    FUZZ_CHECK(TrimWhiteSpace(commandLine).size() <= kMaxCommandLine);
    // Slashes became backslashes before the parameters were taken.
    FUZZ_CHECK((arguments.first + arguments.second + arguments.variable).find('/') == std::string::npos);
}

void CheckReplacement(const std::string& text)
{
    // The first line names the variable, the rest is the line it stands in.
    const std::string::size_type split = text.find('\n');
    const std::string name = text.substr(0, split == std::string::npos ? 0 : split);
    std::string line = split == std::string::npos ? text : text.substr(split + 1);
    const std::string pattern = MakeDriveVariablePattern(name);
    const std::string before = line;
    ReplaceDriveVariable(line, pattern, 'D');
    FUZZ_CHECK(FindNoCase(line, pattern) == std::string::npos);
    FUZZ_CHECK(line.size() <= before.size());
    FUZZ_CHECK(line == before || FindNoCase(before, pattern) != std::string::npos);

    // The same line as a run-list line for Hobrint, with the variable's name as the token.
    if (IsFixupCandidate(before, name, pattern)) {
        FUZZ_CHECK(IsSameText(before.substr(0, name.size()), name));
        FUZZ_CHECK(FindNoCase(before, pattern) != std::string::npos);
    }
    std::string path;
    std::string missing;
    if (ExtractApplicationPath(before, path, missing)) {
        FUZZ_CHECK(!path.empty() && path[0] == '\\' && before.find(path) != std::string::npos);
        FUZZ_CHECK(path.find_first_of(", ") == std::string::npos);
    } else {
        // Nothing to start from, or no backslash after it.
        const std::string::size_type from = before.find(',') != std::string::npos ? before.find(',') : before.find(' ');
        FUZZ_CHECK(!missing.empty());
        FUZZ_CHECK(from == std::string::npos || before.find('\\', from) == std::string::npos);
    }
}

void CheckBackupName(const std::string& path)
{
    const std::string backup = GetJaskelBackupPath(path);
    FUZZ_CHECK(backup.size() >= 3 && backup.compare(backup.size() - 3, 3, "BAK") == 0);
    // In the file's own folder, and never the file itself.
    const std::string::size_type nameStart = path.find_last_of("\\:");
    const std::string::size_type folder = nameStart == std::string::npos ? 0 : nameStart + 1;
    FUZZ_CHECK(backup.compare(0, folder, path, 0, folder) == 0 &&
               backup.find_first_of("\\:", folder) == std::string::npos);
    FUZZ_CHECK(!IsSameText(backup, path));
}

void CheckMarkerLine(const std::string& line)
{
    if (!IsDevelopmentMarkerLine(line))
        return;
    FUZZ_CHECK(IsSameText(line.substr(0, 21), "rem Created On Server"));
    FUZZ_CHECK(FindNoCase(line, " SV") != std::string::npos || FindNoCase(line, " PROTO") != std::string::npos ||
               FindNoCase(line, " TEST") != std::string::npos);
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckParsed(ParseHobrintCommandLine(text), text);
    CheckParsed(ParseJaskelCommandLine(text), text);
    CheckReplacement(text);
    CheckBackupName(text);
    CheckMarkerLine(text);
    return 0;
}
