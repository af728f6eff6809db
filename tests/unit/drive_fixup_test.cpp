#include "drive_fixup_command_line.h"
#include "drive_variable.h"
#include "jaskel.h"
#include "run_list_fixup_text.h"
#include "time_stamp_text.h"

#include <gtest/gtest.h>

namespace {

// "usage: message" or the parameters and flags, as one text.
std::string Describe(const ParsedCommandLine& parsed)
{
    if (parsed.usage)
        return "usage: " + parsed.message;
    const DriveFixupArguments& a = parsed.arguments;
    return "[" + a.first + "] [" + a.second + "] [" + a.variable + "]" + (a.firstAvailable ? " F" : "") +
           (a.verbose ? " V" : "");
}

} // namespace

TEST(DriveFixupCommandLine, Hobrint)
{
    const char* const rows[][2] = {
        {"", "usage: "},
        {"   /V  ", "usage: "},
        {"C:\\VELK\\RUN.NUV", "usage: Unable to extract drive_path_RUN.NUV (parm1) from command line"},
        {"C:\\VELK\\RUN.NUV NUVMSI.DLL", "usage: Unable to extract line_token (parm2) from command line"},
        {"C:\\VELK\\RUN.NUV NUVMSI.DLL   ", "usage: Unable to extract line_token (parm2) from command line"},
        {"C:\\VELK\\RUN.NUV  NUVMSI.DLL  NUVDEST /V", "[C:\\VELK\\RUN.NUV] [NUVMSI.DLL] [NUVDEST] V"},
        {"'C:\\PROGRAM FILES\\RUN.NUV'  NUVMSI.DLL  NUVDEST /V", "[C:\\PROGRAM FILES\\RUN.NUV] [NUVMSI.DLL] [NUVDEST] V"},
        {"\"C:\\PROGRAM FILES\\RUN.NUV\"  NUVMSI.DLL  NUV DEST", "[C:\\PROGRAM FILES\\RUN.NUV] [NUVMSI.DLL] [NUV DEST]"},
        {"\"C:\\PROGRAM FILES\\RUN.NUV NUVMSI.DLL NUVDEST", "usage: Unable to extract drive_path_RUN.NUV (parm1) from command line"},
        {"C:/APPS/RUN.NUV NUVMSI.DLL NUVDEST", "[C:\\APPS\\RUN.NUV] [NUVMSI.DLL] [NUVDEST]"},
        // The option search comes before the slashes are turned: "/V" of "/VELK" is /V.
        {"C:/VELK/RUN.NUV NUVMSI.DLL NUVDEST", "[C:ELK\\RUN.NUV] [NUVMSI.DLL] [NUVDEST] V"},
        // The options anywhere, once each, /F before /f; slashes turned after the cut.
        {"C:\\RUN.NUV /fTOKEN VAR/v", "[C:\\RUN.NUV] [TOKEN] [VAR] F V"},
        {"C:\\RUN.NUV TOKEN /F /f", "[C:\\RUN.NUV] [TOKEN] [\\f] F"},
        {"C:\\RUN.NUV TOKEN", "usage: Unable to extract line_token (parm2) from command line"},
        {"C:\\RUN.NUV TOKEN  ", "usage: Unable to extract line_token (parm2) from command line"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Describe(ParseHobrintCommandLine(row[0])), row[1]) << row[0];
    // Beyond the limits: the usage report, never a cut text.
    EXPECT_EQ(Describe(ParseHobrintCommandLine("C:\\RUN.NUV TOKEN " + std::string(1100, 'V'))),
              "usage: Command line longer than 1023 characters");
    EXPECT_EQ(ParseHobrintCommandLine("C:\\" + std::string(260, 'R') + " TOKEN VAR").message.find("Parameter longer "
                                                                                                  "than 259"),
              0u);
    EXPECT_FALSE(ParseHobrintCommandLine("C:\\RUN.NUV TOKEN " + std::string(256, 'V')).usage);
    EXPECT_TRUE(ParseHobrintCommandLine("C:\\RUN.NUV TOKEN " + std::string(257, 'V')).usage);
}

TEST(DriveFixupCommandLine, Jaskel)
{
    const char* const rows[][2] = {
        {"", "usage: "},
        {"\\WOW_APP\\INSTALL.EXE  \\WOW_APP\\WOW_APP.INI   NUVDEST /V", "[\\WOW_APP\\INSTALL.EXE] [\\WOW_APP\\WOW_APP.INI] [NUVDEST] V"},
        {"\"\\O2K1\\SETUP1.EXE\"  \"\\O2K1\\SETUP1.INI\"  NUVDEST", "[\\O2K1\\SETUP1.EXE] [\\O2K1\\SETUP1.INI] [NUVDEST]"},
        {"'\\O2K2\\SETUP2.EXE'  'D:\\My Dir\\SETUP2.INI'  NUVDEST", "[\\O2K2\\SETUP2.EXE] [D:\\My Dir\\SETUP2.INI] [NUVDEST]"},
        // A drive prefix is dropped from the tag path, and so is a lone colon.
        {"E:\\APP\\SETUP.EXE C:\\APP.INI VAR", "[\\APP\\SETUP.EXE] [C:\\APP.INI] [VAR]"},
        {":\\APP\\SETUP.EXE C:\\APP.INI VAR", "[\\APP\\SETUP.EXE] [C:\\APP.INI] [VAR]"},
        {"E: C:\\APP.INI VAR", "usage: Unable to extract drive_path_find_tag_file (parm1) from command line"},
        {"\\TAG.EXE", "usage: Unable to extract drive_path_find_tag_file (parm1) from command line"},
        {"\\TAG.EXE C:\\APP.INI", "usage: Unable to extract drive_path_file_2_edit (parm2) from command line"},
        {"\\TAG.EXE 'C:\\APP.INI VAR", "usage: Unable to extract drive_path_file_2_edit (parm2) from command line"},
        {"\\TAG.EXE C:\\APP.INI  ", "usage: Unable to extract drive_path_file_2_edit (parm2) from command line"},
        {"\\TAG.EXE 'C:\\APP.INI'", "usage: Unable to extract drive_var (parm3) from command line"},
        // No /F option: it stays, with its slash turned.
        {"\\TAG.EXE C:\\APP.INI VAR /F", "[\\TAG.EXE] [C:\\APP.INI] [VAR \\F]"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Describe(ParseJaskelCommandLine(row[0])), row[1]) << row[0];
}

TEST(DriveVariable, FoundAndReplacedIgnoringCase)
{
    const std::string pattern = MakeDriveVariablePattern("NUVDEST");
    EXPECT_EQ(pattern, "${NUVDEST}");
    std::string line = "NUVMSI.DLL, ${nuvdest}:\\APPS\\SETUP.EXE, ${NuvDest}:\\APPS";
    ReplaceDriveVariable(line, pattern, 'D');
    EXPECT_EQ(line, "NUVMSI.DLL, D:\\APPS\\SETUP.EXE, D:\\APPS");
    EXPECT_EQ(FindNoCase("abc", ""), 0u);
    EXPECT_EQ(FindNoCase("x${Var}", "${VAR}"), 1u);
    EXPECT_EQ(FindNoCase("x", "${VAR}"), std::string::npos);

    EXPECT_TRUE(IsFixupCandidate("nuvmsi.dll, ${NUVDEST}:\\A.EXE", "NUVMSI.DLL", pattern));
    EXPECT_FALSE(IsFixupCandidate("NUVMSI.DLL, C:\\A.EXE", "NUVMSI.DLL", pattern));
    EXPECT_FALSE(IsFixupCandidate("OSTREL.DLL, ${NUVDEST}:\\A.EXE", "NUVMSI.DLL", pattern));

    const char* const paths[][2] = {
        {"NUVMSI.DLL, ${NUVDEST}:\\APPS\\ONE\\SETUP.EXE /q, C:\\SRC", "\\APPS\\ONE\\SETUP.EXE"},
        {"NUVMSI.DLL ${NUVDEST}:\\APPS\\A.MSI", "\\APPS\\A.MSI"},
        {"NUVMSI.DLL,${NUVDEST}:\\A.EXE,X", "\\A.EXE"},
        {"NUVMSI.DLL", "  Unable to extract command line, looking for first first comma or space"},
        {"NUVMSI.DLL, ${NUVDEST}", "  Unable to extract command line, looking for first \\"},
    };
    for (const auto& row : paths) {
        std::string path;
        std::string missing;
        const bool found = ExtractApplicationPath(row[0], path, missing);
        EXPECT_EQ(found ? path : missing, row[1]) << row[0];
    }
}

TEST(DriveVariable, FileNamesBesideTheFile)
{
    EXPECT_EQ(GetSiblingPath("C:\\VELK\\RUN.NUV", "RUNNUV.TMP"), "C:\\VELK\\RUNNUV.TMP");
    EXPECT_EQ(GetSiblingPath("RUN.NUV", "RUNNUV.TMP"), "RUNNUV.TMP");
    EXPECT_EQ(GetJaskelBackupPath("C:\\APP\\SETUP.INI"), "C:\\APP\\SETUP.BAK");
    EXPECT_EQ(GetJaskelBackupPath("C:\\APP\\SETTINGS"), "C:\\APP\\SETTINGS.BAK");
    EXPECT_EQ(GetJaskelBackupPath("C:\\APP.V2\\SETTINGS"), "C:\\APP.V2\\SETTINGS.BAK");
    EXPECT_EQ(GetJaskelBackupPath("C:\\APP\\X.BAK"), "C:\\APP\\X.BAK.BAK");
    EXPECT_EQ(GetJaskelBackupPath("C:\\APP\\x.bak"), "C:\\APP\\x.bak.BAK");
    LocalTimeValues now;
    now.year = 2026;
    now.month = 12;
    now.day = 8;
    now.hour = 9;
    now.minute = 5;
    now.second = 31;
    EXPECT_EQ(FormatCalendarTime(now), "Tue Dec 08 09:05:31 2026\n");
    now.year = 2000;
    now.month = 2;
    now.day = 29;
    EXPECT_EQ(FormatCalendarTime(now).substr(0, 10), "Tue Feb 29");
}
