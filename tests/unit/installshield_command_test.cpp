#include "installshield_command.h"

#include <gtest/gtest.h>

TEST(InstallShieldCommand, TheSilentOptionsAndTheLogFile)
{
    struct Row {
        const char* given;
        const char* run;
        const char* log;
    } rows[] = {
        {"C:\\IS\\SETUP.EXE", "C:\\IS\\SETUP.EXE /SMS /S", "C:\\IS\\setup.log"},
        {"C:\\IS\\SETUP.EXE /s /f2C:\\TEMP\\IS.LOG", "C:\\IS\\SETUP.EXE /s /f2C:\\TEMP\\IS.LOG /SMS", "C:\\TEMP\\IS.LOG"},
        {"C:\\IS\\SETUP.EXE -SMS", "C:\\IS\\SETUP.EXE -SMS /S", "C:\\IS\\setup.log"},
        {"C:\\IS\\SETUP.EXE /SMS /S", "C:\\IS\\SETUP.EXE /SMS /S", "C:\\IS\\setup.log"},
        {"SETUP.EXE", "SETUP.EXE /SMS /S", "setup.log"},
        // A longer option that begins with S is no S.
        {"C:\\IS\\SETUP.EXE /SILENT", "C:\\IS\\SETUP.EXE /SILENT /SMS /S", "C:\\IS\\setup.log"},
        // The later F2 option names the log.
        {"C:\\IS\\SETUP.EXE -f2C:\\A.LOG /f2C:\\B.LOG ", "C:\\IS\\SETUP.EXE -f2C:\\A.LOG /f2C:\\B.LOG  /SMS /S",
         "C:\\B.LOG"},
        {"", " /SMS /S", "setup.log"},
        // The log is where the set-up writes it: beside a quoted program with blanks (a
        // "-" in its path starts no option), and the whole path of an F2 option.
        {"\"C:\\My Apps-F2\\SETUP.EXE\" /s", "\"C:\\My Apps-F2\\SETUP.EXE\" /s /SMS", "C:\\My Apps-F2\\setup.log"},
        {"C:\\IS\\SETUP.EXE /f2C:\\LOGS-S\\IS.LOG -sms", "C:\\IS\\SETUP.EXE /f2C:\\LOGS-S\\IS.LOG -sms /S",
         "C:\\LOGS-S\\IS.LOG"},
        {"C:\\IS\\SETUP.EXE /f2\"C:\\My Logs\\IS.LOG\"", "C:\\IS\\SETUP.EXE /f2\"C:\\My Logs\\IS.LOG\" /SMS /S",
         "C:\\My Logs\\IS.LOG"},
    };
    for (const Row& row : rows) {
        const InstallShieldCommand prepared = PrepareInstallShieldCommand(row.given);
        EXPECT_EQ(prepared.command, row.run) << row.given;
        EXPECT_EQ(prepared.logPath, row.log) << row.given;
    }
}
