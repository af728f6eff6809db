#include "jaskel.h"

#include "drive_fixup_command_line.h"
#include "drive_fixup_program.h"
#include "drive_variable.h"
#include "file_rewrite.h"
#include "text.h"

namespace {

const char kUsageText[] =
    "%s\n"
    "\n"
    "Usage: JASKEL  drive_path_find_tag_file  drive_path_file_2_edit  drive_var  [/V]\n"
    "\n"
    "Replaces ${drive_var} in all lines in the file drive_path_file_2_edit with\n"
    "  the drive letter where the drive_path_find_tag_file was found, if found\n"
    "\n"
    "Optional Parameters:\n"
    "[/V] shows error messages in a dialog box, else only in LOG.\n"
    "       NOTE: verbose mode is active on LUMO from TEST, PROTO & SV\n"
    "\n"
    "NOTE: drive_path_find_tag_file and drive_path_file_2_edit can be enclosed\n"
    "  in single or double quotes for paths containing spaces.\n"
    "\n"
    "   Example:\n"
    "        JASKEL  \\WOW_APP\\INSTALL.EXE  \\WOW_APP\\WOW_APP.INI   NUVDEST /V\n"
    "        JASKEL  \"\\O2K1\\SETUP1.EXE\"  \"\\O2K1\\SETUP1.INI\"  NUVDEST\n"
    "        JASKEL  '\\O2K2\\SETUP2.EXE'  '\\O2K2\\SETUP2.INI'  NUVDEST\n"
    "\n"
    "Error messages are logged to a hidden file, %s\n"
    "Slashes are converted to back-slashes on command line\n"
    "  before processing begins";

const DriveFixupTexts kTexts = {
    "JASKEL.EXE - Version A00",
    "C:\\VELK\\JASKEL.LOG",
    "JASKEL - Usage",
    kUsageText,
    "[JASKEL] Verbose Mode Active - Program Error",
    "[JASKEL] Development Mode Active In LUMO @ TEST, PROTO & SV",
    "File successfully created: %s",
    "[Jaskel] Error Messages Have Been Logged\n        Examine %s for issues.",
    "[Jaskel] Unable To Open File: %s",
    "[Jaskel] Unable To Create File: %s",
    "[Jaskel] Unable To Read File: %s",
    "[Jaskel] Unable To Write File: %s",
    "\nJASKEL.EXE - Commencing Operations: %s",
    {"    drive_path_find_tag_file: %s", "      drive_path_file_2_edit: %s", "             drive_var: %s"},
};

const char kTempName[] = "F0E1D2C3.TMP";

const char kTagNotFound[] = "** Tag File Was Not Found **";
const char kNoTagDrive[] = "[Jaskel] Unable To Locate Tag File On Any Drive Letter: %s";

void FixupTaggedFile(CDriveFixupProgram& program, const DriveFixupArguments& arguments)
{
    const char letter = program.FindDriveForFile(arguments.first, false);
    if (!letter) {
        program.LogLine(kTagNotFound);
        program.ReportError(FormatMessageText(kNoTagDrive, arguments.first));
    }
    const std::string pattern = MakeDriveVariablePattern(arguments.variable);
    const std::string& file = arguments.second;
    program.FixupFile(file, GetSiblingPath(file, kTempName), GetAsidePath(file), GetJaskelBackupPath(file),
                      nullptr,
                      [&](std::string& line) {
                          if (FindNoCase(line, pattern) == std::string::npos)
                              return false;
                          program.ReplaceDriveVariable(line, pattern, letter);
                          return true;
                      });
}

} // namespace

int RunJaskel(const std::string& commandLine)
{
    return RunDriveFixup(kTexts, commandLine, ParseJaskelCommandLine, FixupTaggedFile);
}
