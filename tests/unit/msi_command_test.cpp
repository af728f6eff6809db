#include "msi_command.h"
#include "source_list_text.h"

#include <gtest/gtest.h>

namespace {

const CFileVersion kNew(2, 0, 2600, 0);
const CFileVersion kOld(1, 10, 1029, 0);

struct Library {
    const MsiPropertyRow* rows;
    std::size_t count;
};
const Library kQuillan = {kQuillanProperties, kQuillanPropertyCount};
const Library kSorvane = {kSorvaneProperties, kSorvanePropertyCount};

// The command as the wrapper runs it; "refused" when MakeMsiexecCommand refuses it.
std::string CommandRun(const Library& library, const CFileVersion& installed, const std::string& given)
{
    std::string command = given;
    if (!IsMsiPackageCommand(command))
        return command;
    return PrepareMsiCommand(command, library.rows, library.count, installed) ? command : "refused";
}

} // namespace

TEST(MsiCommand, EveryRowOfTheCommandTable)
{
    struct Row {
        const Library* library;
        const CFileVersion* installed;
        const char* given;
        const char* run;
    } rows[] = {
        {&kQuillan, &kNew, "C:\\APPS\\FOO\\FOO.MSI",
         "MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI REBOOT=ReallySuppress FASTOEM=1 ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        {&kQuillan, &kOld, "C:\\APPS\\FOO\\FOO.MSI",
         "MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI REBOOT=ReallySuppress ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        {&kSorvane, &kNew, "C:\\APPS\\FOO\\FOO.MSI", "MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI REBOOT=ReallySuppress /qn"},
        {&kSorvane, &kOld, "C:\\APPS\\FOO\\FOO.MSI", "MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI REBOOT=ReallySuppress /qn"},
        {&kQuillan, &kNew, "msiexec /i c:\\apps\\foo.msi REBOOT=Force ALLUSERS=2",
         "msiexec /i c:\\apps\\foo.msi REBOOT=ReallySuppress ALLUSERS=2 FASTOEM=1 DISABLEROLLBACK=1 /qn"},
        {&kQuillan, &kOld, "MSIEXEC /I C:\\PKG\\A.MSI FASTOEM=1",
         "MSIEXEC /I C:\\PKG\\A.MSI REBOOT=ReallySuppress ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        {&kQuillan, &kNew, "msiexec /qb /i foo.msi",
         "MSIEXEC /I foo.msi REBOOT=ReallySuppress FASTOEM=1 ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        {&kSorvane, &kNew, "\"C:\\My Apps\\Foo.msi\"", "MSIEXEC /I \"C:\\My Apps\\Foo.msi\" REBOOT=ReallySuppress /qn"},
        {&kSorvane, &kOld, "\"C:\\My Apps\\Foo.msi\"", "MSIEXEC /I \"C:\\My Apps\\Foo.msi\" REBOOT=ReallySuppress /qn"},
        // An option between MSIEXEC /I and the package: refused, nothing runs.
        {&kQuillan, &kNew, "MSIEXEC /I /QB FOO.MSI", "refused"},
        {&kSorvane, &kOld, "MSIEXEC /I /QB FOO.MSI", "refused"},
        // A quoted package without its opening quote: refused.
        {&kQuillan, &kNew, "C:\\APPS\\FOO.MSI\"", "refused"},
        // A launcher, or no package: run as given.
        {&kQuillan, &kNew, "C:\\APPS\\SETUP.EXE /S C:\\APPS\\FOO.MSI", "C:\\APPS\\SETUP.EXE /S C:\\APPS\\FOO.MSI"},
        {&kQuillan, &kNew, "C:\\APPS\\TOOL.EXE /q", "C:\\APPS\\TOOL.EXE /q"},
        // Upper-case /QN and a lower-case property name are not recognised.
        {&kQuillan, &kNew, "MSIEXEC /I C:\\A.MSI /QN reboot=force",
         "MSIEXEC /I C:\\A.MSI /QN reboot=force REBOOT=ReallySuppress FASTOEM=1 ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        // Names and options count only as arguments of their own, not inside a path or word.
        {&kQuillan, &kNew, "C:\\APPS\\REBOOTFIX\\FIX.MSI",
         "MSIEXEC /I C:\\APPS\\REBOOTFIX\\FIX.MSI REBOOT=ReallySuppress FASTOEM=1 ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        {&kQuillan, &kOld, "MSIEXEC /I C:\\FASTOEM\\A.MSI FASTOEM=1 MYREBOOT=1 /qnx",
         "MSIEXEC /I C:\\FASTOEM\\A.MSI MYREBOOT=1 /qnx REBOOT=ReallySuppress ALLUSERS=1 DISABLEROLLBACK=1 /qn"},
        {&kSorvane, &kNew, "MSIEXEC /I C:\\A.MSI REBOOT", "MSIEXEC /I C:\\A.MSI REBOOT REBOOT=ReallySuppress /qn"},
        // A property already set as the table wants stays as it is.
        {&kQuillan, &kNew, "MSIEXEC /I C:\\A.MSI DISABLEROLLBACK=1 /qn",
         "MSIEXEC /I C:\\A.MSI DISABLEROLLBACK=1 /qn REBOOT=ReallySuppress FASTOEM=1 ALLUSERS=1"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CommandRun(*row.library, *row.installed, row.given), row.run) << row.given;
}

TEST(MsiCommand, VersionsCompareComponentByComponent)
{
    const CFileVersion required(1, 11, 1314, 0);
    struct Row {
        CFileVersion installed;
        bool atLeast;
    } rows[] = {{kNew, true}, {kOld, false}, {CFileVersion(1, 11, 1314, 0), true}, {CFileVersion(1, 11, 1313, 9), false},
                {CFileVersion(1, 12, 0, 0), true}, {CFileVersion(), false}, {CFileVersion(0xFFFFFFFFu, 0, 0, 0), true}};
    for (const Row& row : rows) {
        EXPECT_EQ(row.installed.IsAtLeast(required), row.atLeast) << row.installed.majorVersion;
        EXPECT_EQ(row.installed.IsBelow(required), !row.atLeast) << row.installed.majorVersion;
    }
}

TEST(SourceListText, PackageFoldersKeyPathsAndWhichSourcesNameTheFolder)
{
    const char* const commands[][2] = {
        {"C:\\APPS\\FOO\\FOO.MSI", "C:\\APPS\\FOO\\"},
        {"MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI /qn", "C:\\APPS\\FOO\\"},
        {"c:\\setup\\setup.exe /s", "C:\\SETUP\\"},
        {"FOO.MSI", "FOO"},
        {"tool arg", "TOOL"},
        {"tool", ""},
        // Quoted, the path keeps its blanks; unquoted, what follows the last blank is left.
        {"\"C:\\VELK\\My Apps\\Viewer.msi\"", "C:\\VELK\\MY APPS\\"},
        {"MSIEXEC /I \"C:\\A B\\FOO.MSI\" /qn", "C:\\A B\\"},
        {"C:\\VELK\\My Apps\\Viewer.msi", "APPS\\"},
    };
    for (const auto& command : commands) {
        std::string folder = command[0];
        ExtractPackageDirectory(folder);
        EXPECT_EQ(folder, command[1]) << command[0];
    }

    EXPECT_EQ(JoinKeyPath(" PRODUCT ", "\\SourceList\\Net"), "PRODUCT\\SourceList\\Net");
    EXPECT_EQ(JoinKeyPath("PRODUCT", "SourceList"), "PRODUCT\\SourceList");
    EXPECT_EQ(JoinKeyPath("PRODUCT\\", "\\SourceList"), "PRODUCT\\\\SourceList");

    const char* const sources[][2] = {
        {"c:\\apps\\foo\\", "yes"}, {"c:\\apps\\foo", "yes"}, {"C:\\APPS\\FOO;D:\\OTHER\\", "yes"},
        {"c:\\apps\\foobar\\", "no"}, {"c:\\apps\\foobar\\;c:\\apps\\foo\\", "yes"}, {"d:\\apps\\foo2", "no"},
        {"", "no"}, {"c:\\apps\\foo\\sub\\", "no"}, {"d:\\x\\c:\\apps\\foo", "no"},
    };
    for (const auto& source : sources)
        EXPECT_EQ(IsPackageFolderSource(source[0], "C:\\APPS\\FOO\\"), std::string(source[1]) == "yes") << source[0];

    for (const char* folder : {"", "C:\\", "c:", "\\", "FOO", "APPS\\", "\\\\SERVER\\", "\"C:\\APPS\\"})
        EXPECT_FALSE(IsRedirectableFolder(folder)) << folder;
    for (const char* folder : {"C:\\APPS\\", "\\\\SERVER\\SHARE\\"})
        EXPECT_TRUE(IsRedirectableFolder(folder)) << folder;

    // A folder is judged as the file system reads it: "msiexec /i C:\\tools.msi" names
    // the root of C:, never a folder whose sources may go.
    const char* const spellings[][2] = {
        {"C:\\\\", "C:\\"},
        {"C:\\APPS\\..\\", "C:\\"},
        {"C:\\..\\..\\", "C:\\"},
        {"C:\\.\\", "C:\\"},
        {"C:\\APPS\\\\FOO\\.\\", "C:\\APPS\\FOO\\"},
        {"C:\\APPS\\OLD\\..\\FOO\\", "C:\\APPS\\FOO\\"},
        {"\\\\SERVER\\\\SHARE\\..\\", "\\\\SERVER\\SHARE\\"},
        {"\\\\SERVER\\SHARE\\\\APPS\\", "\\\\SERVER\\SHARE\\APPS\\"},
        {"\\\\SERVER\\", "\\\\SERVER\\"},
        {"APPS\\..\\..\\", "..\\"},
        {"FOO", "FOO"},
        {"", ""},
    };
    for (const auto& spelling : spellings)
        EXPECT_EQ(NormalizePackageFolder(spelling[0]), spelling[1]) << spelling[0];
    for (const char* command : {"msiexec /i C:\\\\tools.msi", "msiexec /i C:\\APPS\\..\\tools.msi"}) {
        std::string folder = command;
        ExtractPackageDirectory(folder);
        EXPECT_FALSE(IsRedirectableFolder(NormalizePackageFolder(folder))) << command;
    }
}
