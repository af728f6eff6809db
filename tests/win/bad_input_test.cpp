// The engine's files other than the run list handed the inputs that break software, and
// held by another program as scanners hold them: the development-mode settings, the
// marker files, WININIT.INI, the log and the error file. (The run list's rows are with
// the walk, in control_manager_test.cpp; the whole program's in test_bad_input.py.)
// Inputs that do not apply: the settings file is 20 binary bytes, so lines, line ends and
// multibyte text are only more bytes, which the 1 MB row stands for; a marker is only
// tested for existence, so its content is any bytes and a locked one is present; the
// files' folders and drive are fixed (C:\VELK, the Windows folder), and a missing folder
// is a missing file. A read-only file cannot be shown refusing a write here: Wine, run as
// root, writes it all the same.
#include "engine_test_support.h"

#include "file_rewrite.h"
#include "pause.h"

#include <memory>

namespace {

const char kSettings[] = "c:\\velk\\nuv\\devMode.bin";
const char kLog[] = "c:\\velk\\nuv.log";
const char kErr[] = "c:\\velk\\nuv.err";
const std::string kMegabyte(1 << 20, '\x01');
const std::string kNulBytes("MZ\x90\0\3\0\0\0\xff\xfe\x1a\r\0\n", 14);
const std::string kInvalidMultibyte = "\x81\xff\xe0\x80\xc3\x28 \x82";

enum class Hold { None, Scan, Lock };

std::string WininitPath()
{
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\WININIT.INI";
}

// A holder of the path for the rows that ask for one.
std::unique_ptr<CHolder> HoldAsAsked(const std::string& path, Hold hold)
{
    if (hold == Hold::None)
        return nullptr;
    std::unique_ptr<CHolder> holder(new CHolder(path, hold == Hold::Lock));
    EXPECT_TRUE(holder->IsHolding()) << path;
    return holder;
}

} // namespace

class BadInputTest : public EngineTest {};

TEST_F(BadInputTest, TheSettingsFileGivesWhatItHoldsWholeHoweverItIsHeld)
{
    struct Row {
        const char* name;
        std::string content;  // the file's bytes; none: no file
        Hold hold;
        BOOL values[5];       // disable app clean-up, disable engine clean-up, skip reboots, logging, step
    } rows[] = {
        {"empty", "", Hold::None, {0, 0, 0, 0, 0}},
        {"all bits set", std::string(20, '\xff'), Hold::None, {-1, -1, -1, -1, -1}},
        {"1 MB", kMegabyte, Hold::None, {0x01010101, 0x01010101, 0x01010101, 0x01010101, 0x01010101}},
        {"binary", kNulBytes + kNulBytes, Hold::None, {0x00905a4d, 3, 0x0d1afeff, 0x5a4d0a00, 0x00030090}},
        {"held", std::string("\1\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\1\0\0\0", 20), Hold::Scan, {1, 1, 0, 0, 1}},
        // Locked: it cannot be read, so the defaults stay; it is there, so development mode is on.
        {"locked", std::string(20, '\1'), Hold::Lock, {0, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteWholeFile(kSettings, row.content);
        std::unique_ptr<CHolder> holder = HoldAsAsked(kSettings, row.hold);
        CTestApp app;
        app.InitInstance(0, nullptr);
        ASSERT_TRUE(app.IsDevModeActive());
        CDevMode* settings = app.GetDevMode();
        const BOOL values[] = {settings->GetDisableAppCleanup(), settings->GetDisableEngineCleanup(),
                               settings->GetSkipReboots(), settings->GetDetailedLogging(), settings->GetStepMode()};
        EXPECT_EQ(std::vector<BOOL>(values, values + 5), std::vector<BOOL>(row.values, row.values + 5));
        // Saving into a held file changes nothing, and the error file says so: the
        // switches will not be on after the restart.
        if (!holder)
            continue;
        DeleteFileA(kErr);
        settings->SetSkipReboots(TRUE);
        settings->Save();
        holder.reset();
        EXPECT_EQ(ReadWholeFile(kSettings), row.content);
        EXPECT_EQ(ReadWholeFile(kErr).find("CDevMode::Save() devMode.bin Error: "), 0u);
    }
}

TEST_F(BadInputTest, AMarkerCountsWhateverItHoldsAndWhoeverHoldsIt)
{
    CreateDirectoryA("C:\\VELK\\KORB", nullptr);
    struct Marker {
        const char* path;
        bool (*isSeen)(CTestApp& app);
    } markers[] = {
        {"c:\\velk\\nuv\\nuvlog.tag", [](CTestApp& app) { return app.IsLoggingEnabled() != FALSE; }},
        {"c:\\velk\\nuv\\devmode.nuv",
         [](CTestApp& app) { return app.IsDevModeActive() && app.GetDevMode()->GetStepMode(); }},
        {"c:\\velk\\NUV.DUN", [](CTestApp& app) { return app.runModeCalls == 0; }},
        {"C:\\VELK\\KORB\\quorvane.exe", [](CTestApp& app) { return app.IsSilentModeEnabled() != FALSE; }},
    };
    for (const Marker& marker : markers) {
        for (bool locked : {false, true}) {
            SCOPED_TRACE(std::string(marker.path) + (locked ? ", locked" : ", binary 1 MB"));
            const std::string content = locked ? std::string() : kNulBytes + kMegabyte;
            WriteWholeFile(marker.path, content);
            std::unique_ptr<CHolder> holder = HoldAsAsked(marker.path, locked ? Hold::Lock : Hold::None);
            {
                CTestApp app;
                app.InitInstance(0, nullptr);
                EXPECT_TRUE(marker.isSeen(app));
            }
            holder.reset();
            EXPECT_EQ(ReadWholeFile(marker.path), content);
            DeleteFileA(marker.path);
        }
    }
}

TEST_F(BadInputTest, ADeletionAtTheNextStartGoesUnderTheSectionOfAnyWininitOrNowhere)
{
    const std::string wininit = WininitPath();
    const std::string deletion = "NUL=C:\\VELK\\MXGONE\r\n";
    const std::string big(1 << 20, 'x');
    const std::string many = [] {
        std::string lines;
        for (int i = 0; i < 99999; ++i)
            lines += "NUL=C:\\OLD\r\n";
        return lines;
    }();
    struct Row {
        const char* name;
        std::string content;
        Hold hold;
        std::string after;  // every line kept, each ended by CR LF
    } rows[] = {
        {"empty", "", Hold::None, "[rename]\r\n\r\n" + deletion},
        {"binary", kNulBytes, Hold::None, kNulBytes.substr(0, 13) + "\r\n\r\n[rename]\r\n\r\n" + deletion},
        {"one 1 MB line", big + "\r\n[Rename]\r\nNUL=C:\\OLD\r\n", Hold::None,
         big + "\r\n[Rename]\r\n" + deletion + "NUL=C:\\OLD\r\n"},
        {"100 000 lines", "[rename]\r\n" + many, Hold::None, "[rename]\r\n" + deletion + many},
        {"no line end", "[rename]\nNUL=C:\\OLD", Hold::None, "[rename]\r\n" + deletion + "NUL=C:\\OLD\r\n"},
        {"invalid multibyte", kInvalidMultibyte + "\r\n[rename]\r\n", Hold::None,
         kInvalidMultibyte + "\r\n[rename]\r\n" + deletion},
        // Held or locked: nothing can be scheduled, the file stays as it is, and the error
        // file says so.
        {"held", "[rename]\r\nNUL=C:\\OLD\r\n", Hold::Scan, "[rename]\r\nNUL=C:\\OLD\r\n"},
        {"locked", "[rename]\r\nNUL=C:\\OLD\r\n", Hold::Lock, "[rename]\r\nNUL=C:\\OLD\r\n"},
    };
    SetDelayedDeletionAvailable(FALSE);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileA(kErr);
        WriteWholeFile(wininit, row.content);
        std::unique_ptr<CHolder> holder = HoldAsAsked(wininit, row.hold);
        CTestApp app;
        app.RemoveFileAtReboot("C:\\VELK\\MXGONE");
        holder.reset();
        EXPECT_EQ(ReadWholeFile(wininit), row.after);
        const std::string errors = ReadWholeFile(kErr);
        if (row.hold == Hold::None)
            EXPECT_EQ(errors, "<missing>");
        else
            EXPECT_EQ(errors.find("CNUVApp::RemoveFileAtReboot() WININIT.INI Error: "), 0u) << errors;
    }
    SetDelayedDeletionAvailable(TRUE);
    // Left behind, the next start of the test machine would carry it out.
    DeleteFileA(wininit.c_str());
}

TEST_F(BadInputTest, WininitIsReplacedWholeAndWhatACutLeftIsPutBackFirst)
{
    // Another installer's pending line must survive every step of adding ours.
    const std::string wininit = WininitPath();
    const std::string folder = wininit.substr(0, wininit.rfind('\\') + 1);
    const std::string rewrite = folder + "~WININIT.INI";
    const std::string aside = folder + "~WININIT.OLD";
    const std::string theirs = "[rename]\r\nNUL=C:\\THEIRS\r\n";
    const std::string ours = "[rename]\r\nNUL=C:\\VELK\\MXGONE\r\nNUL=C:\\THEIRS\r\n";
    struct Row {
        const char* name;
        bool oneStep;
        const char* file;  // as the run starts; nullptr: missing
        const char* rewrite;
        const char* aside;
        std::string after;
        const char* error;  // the error file's line, or nullptr
    } rows[] = {
        {"one step", true, "theirs", nullptr, nullptr, ours, nullptr},
        {"renamed aside", false, "theirs", nullptr, nullptr, ours, nullptr},
        {"none yet, renamed", false, nullptr, nullptr, nullptr, "[rename]\r\n\r\nNUL=C:\\VELK\\MXGONE\r\n", nullptr},
        // The power went after WININIT.INI stepped aside: its whole rewrite goes back first.
        {"cut between the renames", false, nullptr, "theirs", "theirs", ours, nullptr},
        // The rewrite cannot be made (a folder bears its name): WININIT.INI as it was.
        {"no rewrite", false, "theirs", "folder", nullptr, theirs,
         "CNUVApp::RemoveFileAtReboot() WININIT.INI Error: "},
        // The system carried WININIT.INI out at its start; a copy left aside by a
        // replacement cut off after its renames is stale, and never put back.
        {"a stale copy alone", false, nullptr, nullptr, "theirs", "[rename]\r\n\r\nNUL=C:\\VELK\\MXGONE\r\n", nullptr},
    };
    SetDelayedDeletionAvailable(FALSE);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetAtomicReplaceAvailable(row.oneStep ? 1 : 0);
        DeleteFileA(kErr);
        for (const std::string& path : {wininit, rewrite, aside})
            DeleteFileA(path.c_str());
        RemoveDirectoryA(rewrite.c_str());
        if (row.file)
            WriteWholeFile(wininit, theirs);
        if (row.rewrite && std::string(row.rewrite) == "folder")
            CreateDirectoryA(rewrite.c_str(), nullptr);
        else if (row.rewrite)
            WriteWholeFile(rewrite, "[rename]\r\nNUL=C:\\THEIRS\r\n");
        if (row.aside)
            WriteWholeFile(aside, theirs);
        CTestApp app;
        app.RemoveFileAtReboot("C:\\VELK\\MXGONE");
        EXPECT_EQ(ReadWholeFile(wininit), row.after);
        EXPECT_FALSE(FileExists(aside));
        const std::string errors = ReadWholeFile(kErr);
        if (row.error)
            EXPECT_EQ(errors.find(row.error), 0u) << errors;
        else
            EXPECT_EQ(errors, "<missing>");
    }
    RemoveDirectoryA(rewrite.c_str());
    SetDelayedDeletionAvailable(TRUE);
    SetAtomicReplaceAvailable(-1);
    // Left behind, the next start of the test machine would carry it out.
    DeleteFileA(wininit.c_str());
}

TEST_F(BadInputTest, TheLogAndTheErrorFileHeldByAScannerStillGetEveryLine)
{
    WriteWholeFile(kLog, "earlier\r\n");
    WriteWholeFile(kErr, "earlier\r\n");
    CHolder log(kLog);
    CHolder errors(kErr);
    ASSERT_TRUE(log.IsHolding() && errors.IsHolding());
    CTestApp app;
    app.WriteLog("line");
    app.WriteErrMsg("Installation Failed");
    EXPECT_TRUE(pauseLengths.empty());
    EXPECT_EQ(ReadWholeFile(kLog), "earlier\r\n12/06/2026 - 18:25:04 line\r\n");
    EXPECT_EQ(ReadWholeFile(kErr), "earlier\r\nInstallation Failed\r\n");
}
