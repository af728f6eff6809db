#include "hobrint.h"

#include "drive_fixup_command_line.h"
#include "drive_fixup_program.h"
#include "drive_variable.h"
#include "run_list_file.h"
#include "run_list_fixup_text.h"
#include "text.h"

namespace {

const char kUsageText[] =
    "%s\n"
    "\n"
    "Usage: HOBRINT  drive_path_RUN.NUV  line_token  drive_variable  [/F]  [/V]\n"
    "\n"
    "Replaces ${drive_var} in all lines that start with line_token\n"
    "  in the file drive_path_RUN.NUV. \n"
    "\n"
    "Optional Parameters:\n"
    "[/F] causes program to use first available fixed disk after C:\\\n"
    "       for the installation target drive.\n"
    "[/V] shows error messages in a dialog box, else only in LOG.\n"
    "       NOTE: verbose mode is active on LUMO from TEST, PROTO & SV\n"
    "\n"
    "NOTE: drive_path_RUN.NUV can be enclosed in single or double quotes \n"
    "  for paths containing spaces.\n"
    "\n"
    "   Example:\n"
    "        HOBRINT  C:\\VELK\\RUN.NUV  NUVMSI.DLL  NUVDEST /V\n"
    "        HOBRINT  \"C:\\PROGRAM FILES\\RUN.NUV\"  NUVMSI.DLL  NUVDEST\n"
    "        HOBRINT  'C:\\PROGRAM FILES\\RUN.NUV'  NUVMSI.DLL  NUVDEST\n"
    "\n"
    "Error messages are logged to a hidden file, %s\n"
    "Slashes are converted to back-slashes on command line\n"
    "  before processing begins";

const DriveFixupTexts kTexts = {
    "HOBRINT.EXE - Version A01",
    "C:\\VELK\\HOBRINT.LOG",
    "HOBRINT - Usage",
    kUsageText,
    "Verbose Mode Active - Program Error",
    "Development Mode Active In LUMO @ TEST, PROTO & SV",
    "File successfully created: %s",
    "Error Messages Have Been Logged\nExamine %s for issues.",
    "Unable To Open File: %s",
    "Unable To Create File: %s",
    "Unable To Read File: %s",
    "Unable To Write File: %s",
    "\nHOBRINT.EXE - Commencing Operations: %s",
    {"    drive_path_RUN.NUV: %s", "            line_token: %s", "             drive_var: %s"},
};

const char kBackupName[] = "RUNNUV.BAK";
const char kProcessing[] = "While processing: %s";
const char kNotFound[] = "** Unable To Find Application On Available Drives **";
const char kSearchedPath[] = "  Searched Command Line: %s";
const char kBackupNotDeleted[] = "  Unable to delete file: RUNNUV.BAK";

void FixupRunList(CDriveFixupProgram& program, const DriveFixupArguments& arguments)
{
    const std::string pattern = MakeDriveVariablePattern(arguments.variable);
    const std::string& runList = arguments.first;
    program.FixupFile(runList, GetSiblingPath(runList, kFixupRewriteName), GetAsidePath(runList),
                      GetSiblingPath(runList, kBackupName), kBackupNotDeleted, [&](std::string& line) {
                          if (!IsFixupCandidate(line, arguments.second, pattern))
                              return false;
                          std::string application;
                          std::string missing;
                          if (!ExtractApplicationPath(line, application, missing)) {
                              program.LogLine(FormatMessageText(kProcessing, line));
                              program.ReportError(missing);
                          }
                          const char letter = program.FindDriveForFile(application, arguments.firstAvailable);
                          if (!letter) {
                              program.LogLine(kNotFound);
                              program.LogLine(FormatMessageText(kSearchedPath, application));
                              return false;
                          }
                          program.ReplaceDriveVariable(line, pattern, letter);
                          return true;
                      });
}

} // namespace

int RunHobrint(const std::string& commandLine)
{
    return RunDriveFixup(kTexts, commandLine, ParseHobrintCommandLine, FixupRunList);
}
