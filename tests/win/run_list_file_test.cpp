// The run list on disk: reading line ends, rewriting one entry, surviving interruptions.
#include "engine_test_support.h"

#include "file_rewrite.h"
#include "line_file.h"
#include "pause.h"
#include "run_list_file.h"

namespace {

const char kRunList[] = "C:\\VELK\\RUN.NUV";
const char kRewrite[] = "C:\\VELK\\~RUN.NUV";
const char kAside[] = "C:\\VELK\\~RUN.OLD";
const char kFixupRewrite[] = "C:\\VELK\\RUNNUV.TMP";
const char kFixupAside[] = "C:\\VELK\\~RUN.NUV.OLD";

std::vector<std::string> ReadAllLines(const std::string& path)
{
    CLineFile file;
    std::vector<std::string> lines;
    if (!file.Open(path, CLineFile::modeRead))
        return lines;
    std::string line;
    while (file.ReadLine(line))
        lines.push_back(line);
    return lines;
}

CHolder* g_releaseAtPause = nullptr;
void ReleaseHolder(unsigned long)
{
    if (g_releaseAtPause)
        g_releaseAtPause->Release();
}

// A control manager whose reads of the run list fail after a number of lines.
class CFailingReadManager : public CControlManager
{
public:
    explicit CFailingReadManager(int goodLines) : m_goodLines(goodLines) {}
    BOOL Open(const std::string& path, OpenMode mode) override
    {
        m_read = 0;
        return CControlManager::Open(path, mode);
    }
    BOOL ReadLine(std::string& line) override
    {
        return m_read++ < m_goodLines ? CControlManager::ReadLine(line) : FALSE;
    }
    // Line by line, so that the failure comes where it is set.
    std::size_t ReadLinesAsCrLf(std::size_t count, std::string& out) override
    {
        std::size_t done = 0;
        for (std::string line; done < count && ReadLine(line); ++done)
            out += line + "\r\n";
        return done;
    }

private:
    int m_goodLines;
    int m_read = 0;
};

} // namespace

class LineFileTest : public EngineTest {};

TEST_F(LineFileTest, ReadsLfCrlfAndALastLineWithoutLineEnd)
{
    WriteWholeFile("C:\\VELK\\mixed.txt", "one\r\ntwo\nthree\r\n\r\nlast");
    EXPECT_EQ(ReadAllLines("C:\\VELK\\mixed.txt"), (std::vector<std::string>{"one", "two", "three", "", "last"}));
}

TEST_F(LineFileTest, CutsAnOverlongLineIntoPiecesAndLosesNothing)
{
    const std::string longLine(5000, 'x');
    WriteWholeFile("C:\\VELK\\long.txt", longLine + "\r\nnext\r\n");
    const std::vector<std::string> lines = ReadAllLines("C:\\VELK\\long.txt");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(4095, 'x'));
    EXPECT_EQ(lines[1], std::string(905, 'x'));
    EXPECT_EQ(lines[2], "next");
}

TEST_F(LineFileTest, ReadsAFileLargerThanItsReadAheadBuffer)
{
    // Several 64 KB reads, lines of many lengths, and one CR LF split between two reads.
    const std::size_t chunk = 64 * 1024;
    std::string bytes;
    std::vector<std::string> expected;
    for (int i = 0; bytes.size() < 3 * chunk; ++i) {
        std::string line = "line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 97), 'x');
        if (bytes.size() < chunk && bytes.size() + line.size() + 2 > chunk)
            line.resize(chunk - 1 - bytes.size());
        expected.push_back(line);
        bytes += line + "\r\n";
    }
    ASSERT_EQ(bytes.substr(chunk - 1, 2), "\r\n");
    WriteWholeFile("C:\\VELK\\big.txt", bytes);
    EXPECT_EQ(ReadAllLines("C:\\VELK\\big.txt"), expected);
}

TEST_F(LineFileTest, WritesLineFeedsAsCrLfAndAppends)
{
    CLineFile file;
    ASSERT_TRUE(file.Open("C:\\VELK\\out.txt", CLineFile::modeWrite));
    EXPECT_TRUE(file.WriteLine("a\nb\r\n"));
    file.Close();
    ASSERT_TRUE(file.Open("C:\\VELK\\out.txt", CLineFile::modeAppend));
    file.WriteLine("c\n");
    file.Close();
    EXPECT_EQ(ReadWholeFile("C:\\VELK\\out.txt"), "a\r\nb\r\nc\r\n");
    EXPECT_FALSE(file.WriteLine("closed"));
    EXPECT_TRUE(file.IsEOF());
    EXPECT_FALSE(file.Open("C:\\VELK\\no such folder\\x.txt", CLineFile::modeWrite));
}


TEST_F(LineFileTest, ARewriteOfOneLineIsByteForByteTheLineByLineRewrite)
{
    // Spans are copied only where the bytes already are what the line-by-line rewrite
    // writes; every other form must come out as it does there.
    std::string big;
    for (int i = 0; big.size() < 200 * 1024; ++i)
        big += std::string(i % 97, 'a' + i % 26) + (i % 7 == 0 ? "\n" : "\r\n");
    // The file is read 64 KB at a time: a CR LF cut by the first read, and a line of the
    // longest length across the second.
    const std::string filler = std::string(98, 'f') + "\r\n";
    std::string split;
    for (int i = 0; i < 655; ++i)
        split += filler;
    split += std::string(35, 'c') + "\r\n";
    while (split.size() < 2 * 65536 - 2000)
        split += filler;
    split += std::string(4095, 'l') + "\r\n" + std::string(4095, 'm') + "\nend";
    const std::string contents[] = {
        "",
        "one\r\ntwo\r\nthree\r\n",
        "one\ntwo\r\nthree",
        "cr\r\r\nlone\rcr\r\n\r\n\n",
        std::string("nul\0byte\r\n", 10) + "x\r\n",
        std::string(4095, 'x') + "\r\n" + std::string(4094, 'y') + "\r\r\n" + std::string(4096, 'z') + "\r\nend\r\n",
        std::string(4095, 'x') + "\r" + std::string(3, 'y') + "\r\n" + std::string(10000, 'w') + "\nlast",
        big,
        split,
    };
    const char kFile[] = "C:\\VELK\\lines.txt";
    const char kLineRewrite[] = "C:\\VELK\\~lines.txt";
    const std::string replacement = "OSTREL.DLL, NEW, , , , START 18:25:04";
    for (const std::string& content : contents) {
        WriteWholeFile(kFile, content);
        const int lines = static_cast<int>(ReadAllLines(kFile).size());
        for (const int number : {1, 2, lines / 2 + 1, lines, lines + 1}) {
            if (number < 1)
                continue;
            SCOPED_TRACE(std::to_string(content.size()) + " bytes, line " + std::to_string(number));
            WriteWholeFile(kFile, content);
            CLineFile reader;
            RewriteResult result = WriteRewrite(reader, kFile, kLineRewrite, [&](int n, const std::string& line, bool) {
                return (n == number ? replacement : line) + "\n";
            });
            ASSERT_EQ(result.failedStep, RewriteStep::Done);
            const std::string expected = ReadWholeFile(kLineRewrite);
            LineRewritten rewritten;
            result = WriteRewriteOfLine(reader, kFile, kLineRewrite, number, replacement, rewritten);
            ASSERT_EQ(result.failedStep, RewriteStep::Done);
            EXPECT_EQ(ReadWholeFile(kLineRewrite), expected);
            EXPECT_EQ(rewritten.found, number <= lines);
            if (number <= lines) {
                EXPECT_EQ(expected.substr(rewritten.lineStart, replacement.size() + 2), replacement + "\r\n");
                EXPECT_TRUE(rewritten.identityKnown);
            }
            EXPECT_EQ(ReadWholeFile(kFile), content);
        }
    }
}
class RunListTest : public EngineTest
{
protected:
    CTestApp app;
};

TEST_F(RunListTest, GetEntrySkipsBlankAndCommentLinesAndCountsThemAsLines)
{
    WriteWholeFile(kRunList, "# prepared list\r\n \t \r\nOSTREL.DLL,A.EXE\r\n   # remark\r\nOSTREL.DLL,B.EXE,,,reboot");
    CControlManager& manager = app.GetControlManager();
    EXPECT_EQ(manager.CountEntries(), 5);  // counted as read: only empty lines are not
    std::unique_ptr<CRunEntry> first(manager.GetEntry());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetLineNumber(), 3);
    EXPECT_EQ(first->GetInstallCommand(), "A.EXE");
    std::unique_ptr<CRunEntry> second(manager.GetEntry());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetLineNumber(), 5);
    EXPECT_EQ(second->IsRebootRequested(), 1);
    EXPECT_TRUE(manager.IsLastEntry());
}

TEST_F(RunListTest, MissingOrEmptyListHasNoEntries)
{
    CControlManager& manager = app.GetControlManager();
    EXPECT_EQ(manager.CountEntries(), 0);
    EXPECT_EQ(manager.GetEntry(), nullptr);
    WriteWholeFile(kRunList, "");
    EXPECT_EQ(manager.CountEntries(), 0);
    EXPECT_TRUE(manager.IsLastEntry());
}

TEST_F(RunListTest, UpdateEntryChangesOnlyItsLineAndKeepsOtherProgramsChanges)
{
    WriteWholeFile(kRunList, "# head\r\r\nOSTREL.DLL,A.EXE,C:\\A,600\r\n  keep  this , as it is \r\nOSTREL.DLL,B.EXE\r\n");
    CControlManager& manager = app.GetControlManager();
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    ASSERT_TRUE(entry);
    // Another program rewrites a later line while the entry installs.
    WriteWholeFile(kRunList, "# head\r\r\nOSTREL.DLL,A.EXE,C:\\A,600\r\n  keep  this , as it is \r\nOSTREL.DLL,D:\\B.EXE\r\n");
    entry->SetStartTime(GetFixedTime());
    ASSERT_TRUE(manager.UpdateEntry(*entry));
    // A line that ends in CR CR LF keeps its own CR.
    EXPECT_EQ(ReadWholeFile(kRunList), "# head\r\r\nOSTREL.DLL, A.EXE, C:\\A, 600, , START 18:25:04\r\n"
                                       "  keep  this , as it is \r\nOSTREL.DLL,D:\\B.EXE\r\n");
    EXPECT_FALSE(FileExists(kRewrite));
}

TEST_F(RunListTest, UpdateEntryGivesALastLineItsLineEnd)
{
    WriteWholeFile(kRunList, "OSTREL.DLL,A.EXE\r\nOSTREL.DLL,B.EXE");
    CControlManager& manager = app.GetControlManager();
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    ASSERT_TRUE(entry);
    entry->SetStartTime(GetFixedTime());
    ASSERT_TRUE(manager.UpdateEntry(*entry));
    EXPECT_EQ(ReadWholeFile(kRunList), "OSTREL.DLL, A.EXE, , , , START 18:25:04\r\nOSTREL.DLL,B.EXE\r\n");
}

TEST_F(RunListTest, UpdateEntryByRenamingAsideWhereNoAtomicReplaceExists)
{
    SetAtomicReplaceAvailable(0);
    WriteWholeFile(kRunList, "OSTREL.DLL,A.EXE\r\n");
    CControlManager& manager = app.GetControlManager();
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    entry->SetStopTime(GetFixedTime());
    ASSERT_TRUE(manager.UpdateEntry(*entry));
    EXPECT_EQ(ReadWholeFile(kRunList), "OSTREL.DLL, A.EXE, , , , , STOP 18:25:04\r\n");
    EXPECT_FALSE(FileExists(kRewrite));
    EXPECT_FALSE(FileExists(kAside));
}

TEST_F(RunListTest, UpdateEntryRefusesALineOverTheLimitAndChangesNothing)
{
    const std::string original = "OSTREL.DLL," + std::string(4080, 'c') + "\r\nOSTREL.DLL,B.EXE\r\n";
    WriteWholeFile(kRunList, original);
    CControlManager& manager = app.GetControlManager();
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    entry->SetStartTime(GetFixedTime());
    EXPECT_FALSE(manager.UpdateEntry(*entry));
    EXPECT_EQ(ReadWholeFile(kRunList), original);
}

TEST_F(RunListTest, UpdateEntryFailsWithoutTouchingTheListWhenTheRewriteCannotBeMade)
{
    WriteWholeFile(kRunList, "OSTREL.DLL,A.EXE\r\n");
    CControlManager& manager = app.GetControlManager();
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    // The rewrite's name is taken by a folder: it cannot be opened for writing.
    ASSERT_TRUE(CreateDirectoryA(kRewrite, nullptr));
    entry->SetStartTime(GetFixedTime());
    EXPECT_FALSE(manager.UpdateEntry(*entry));
    EXPECT_EQ(ReadWholeFile(kRunList), "OSTREL.DLL,A.EXE\r\n");
    RemoveDirectoryA(kRewrite);
}

TEST_F(RunListTest, AReplacementCutOffBetweenItsRenamesLeavesAWholeListToPutBack)
{
    const std::string before = "OSTREL.DLL, A.EXE, , , , START 09:05:31\r\nOSTREL.DLL,B.EXE\r\n";
    const std::string after = "OSTREL.DLL, A.EXE, , , , START 09:05:31, STOP 09:07:02\r\nOSTREL.DLL,B.EXE\r\n";
    struct Row {
        const char* cut;
        const char* list;     // nullptr: missing
        const char* rewrite;
        const char* aside;
        bool rewriteHeld;
        const char* restored;
        // What the run-list drive fix-up utility left, in the same folder.
        const char* fixupRewrite = nullptr;
        const char* fixupAside = nullptr;
    } rows[] = {
        {"after the list stepped aside", nullptr, "after", "before", false, "after"},
        {"with the rewrite held", nullptr, "after", "before", true, "before"},
        {"after the rewrite was gone", nullptr, nullptr, "before", false, "before"},
        // A rewrite alone may have been cut off while it was written: it is no list.
        {"a rewrite alone", nullptr, "after", nullptr, false, nullptr},
        // Hobrint replaces the list by the same rule: the engine puts back what it left,
        // and not a rewrite of its own that was cut off while it was written.
        {"after Hobrint's list stepped aside", nullptr, nullptr, nullptr, false, "after", "after", "before"},
        {"after Hobrint's, beside a cut rewrite", nullptr, "before", nullptr, false, "after", "after", "before"},
        {"before the copy aside was deleted", "after", nullptr, "before", false, "after"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cut);
        auto text = [&](const char* which) { return std::string(which) == "after" ? after : before; };
        for (const char* path : {kRunList, kRewrite, kAside, kFixupRewrite, kFixupAside})
            DeleteFileA(path);
        if (row.fixupRewrite)
            WriteWholeFile(kFixupRewrite, text(row.fixupRewrite));
        if (row.fixupAside)
            WriteWholeFile(kFixupAside, text(row.fixupAside));
        if (row.list)
            WriteWholeFile(kRunList, text(row.list));
        if (row.rewrite)
            WriteWholeFile(kRewrite, text(row.rewrite));
        if (row.aside)
            WriteWholeFile(kAside, text(row.aside));
        std::unique_ptr<CHolder> holder(row.rewriteHeld ? new CHolder(kRewrite) : nullptr);
        CTestApp fresh;
        CControlManager& manager = fresh.GetControlManager();
        if (!row.restored) {
            EXPECT_EQ(manager.CountEntries(), 0);
            EXPECT_FALSE(FileExists(kRunList));
            EXPECT_EQ(ReadWholeFile(kRewrite), text(row.rewrite));
            continue;
        }
        EXPECT_EQ(manager.CountEntries(), 2);
        EXPECT_EQ(ReadWholeFile(kRunList), text(row.restored));
        if (!row.list) {
            EXPECT_FALSE(FileExists(kAside));
            EXPECT_FALSE(FileExists(kFixupAside));
        }
        holder.reset();
        // And the next stamp goes in as ever, a copy set aside from before cleared away.
        SetAtomicReplaceAvailable(0);
        std::unique_ptr<CRunEntry> entry(manager.GetEntry());
        ASSERT_TRUE(entry);
        entry->SetCleanTime(GetFixedTime());
        EXPECT_TRUE(manager.UpdateEntry(*entry));
        EXPECT_NE(ReadWholeFile(kRunList).find("CLEAN 18:25:04"), std::string::npos);
        EXPECT_FALSE(FileExists(kAside));
        SetAtomicReplaceAvailable(-1);
    }
}

TEST_F(RunListTest, AStaleRewriteBesideTheListIsIgnoredAndReplaced)
{
    WriteWholeFile(kRunList, "OSTREL.DLL,A.EXE\r\n");
    WriteWholeFile(kRewrite, "half a rewr");
    CControlManager& manager = app.GetControlManager();
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->GetInstallCommand(), "A.EXE");
    entry->SetStartTime(GetFixedTime());
    ASSERT_TRUE(manager.UpdateEntry(*entry));
    EXPECT_EQ(ReadWholeFile(kRunList), "OSTREL.DLL, A.EXE, , , , START 18:25:04\r\n");
}

TEST_F(RunListTest, ARewriteHeldByAnotherProgramNeverCostsTheList)
{
    const std::string original = "# head\r\nOSTREL.DLL,A.EXE\r\nOSTREL.DLL,B.EXE\r\n";
    const std::string updated = "# head\r\nOSTREL.DLL, A.EXE, , , , START 18:25:04\r\nOSTREL.DLL,B.EXE\r\n";
    struct Case {
        bool oneStep;         // MoveFileExA, or the 9x family's renames through the aside name
        bool releasedInTime;  // the holder lets go during the retries
    } cases[] = {{true, false}, {true, true}, {false, false}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oneStep ? "one step" : "renamed aside") +
                     (c.releasedInTime ? ", released" : ", held"));
        SetAtomicReplaceAvailable(c.oneStep ? 1 : 0);
        WriteWholeFile(kRunList, original);
        CTestApp fresh;
        CControlManager& manager = fresh.GetControlManager();
        std::unique_ptr<CRunEntry> entry(manager.GetEntry());
        ASSERT_TRUE(entry);
        entry->SetStartTime(GetFixedTime());
        CHolder holder(kRewrite);
        ASSERT_TRUE(holder.IsHolding());
        pauseLengths.clear();
        g_releaseAtPause = c.releasedInTime ? &holder : nullptr;
        SetPauseHook(c.releasedInTime ? ReleaseHolder : RecordPauseForTest);
        const BOOL done = manager.UpdateEntry(*entry);
        g_releaseAtPause = nullptr;
        if (c.releasedInTime) {
            EXPECT_TRUE(done);
            EXPECT_EQ(ReadWholeFile(kRunList), updated);
            EXPECT_FALSE(FileExists(kRewrite));
            continue;
        }
        EXPECT_FALSE(done);
        EXPECT_EQ(pauseLengths, (std::vector<unsigned long>{250, 250, 250, 250}));
        EXPECT_EQ(manager.GetRunListFailure(),
                  "C:\\VELK\\~RUN.NUV could not take the place of C:\\VELK\\RUN.NUV (Error Number: 32)");
        // Never without its list: on the 9x family the list went back from its aside name.
        EXPECT_EQ(ReadWholeFile(kRunList), original);
        EXPECT_FALSE(FileExists(kAside));
        holder.Release();
        DeleteFileA(kRewrite);
    }
}

TEST_F(RunListTest, WithTheListMissingAndItsRewriteHeldNothingChangesEitherFile)
{
    // A replacement cut off between its renames, both files beside the list held.
    const std::string rewrite = "OSTREL.DLL, A.EXE, , , , START 09:05:31\r\nOSTREL.DLL,B.EXE\r\n";
    const std::string aside = "OSTREL.DLL,A.EXE\r\nOSTREL.DLL,B.EXE\r\n";
    WriteWholeFile(kRewrite, rewrite);
    WriteWholeFile(kAside, aside);
    CHolder holder(kRewrite);
    CHolder asideHolder(kAside);
    ASSERT_TRUE(holder.IsHolding() && asideHolder.IsHolding());
    CTestApp app;
    CControlManager& manager = app.GetControlManager();
    EXPECT_EQ(manager.GetEntry(), nullptr);
    EXPECT_EQ(manager.GetRunListFailure(),
              "C:\\VELK\\RUN.NUV is missing and its rewrite could not take its place (Error Number: 32)");
    EXPECT_EQ(manager.CountEntries(), 0);
    EXPECT_TRUE(manager.IsLastEntry());
    CRunEntry entry(1, "OSTREL.DLL, A.EXE, , , , START 09:05:31");
    entry.SetStopTime(GetFixedTime());
    EXPECT_FALSE(manager.UpdateEntry(entry));
    app.AppendRunEntriesToErrorFile();
    EXPECT_FALSE(FileExists(kRunList));
    EXPECT_EQ(ReadWholeFile(kRewrite), rewrite);

    // A list that cannot be read is no finished list: the walk reports it.
    manager.InstallApplications();
    EXPECT_EQ(ReadWholeFile("c:\\velk\\nuv.err"),
              "Unable to read the run list: C:\\VELK\\RUN.NUV is missing and its rewrite could not take its place "
              "(Error Number: 32)\r\n");
    EXPECT_TRUE(app.IsErrorFlagEnabled());
    EXPECT_EQ(ReadWholeFile(kRewrite), rewrite);

    EXPECT_EQ(ReadWholeFile(kAside), aside);

    // Once the other program lets go, the rewrite is the list again.
    holder.Release();
    asideHolder.Release();
    EXPECT_EQ(manager.CountEntries(), 2);
    EXPECT_EQ(ReadWholeFile(kRunList), rewrite);
    EXPECT_FALSE(FileExists(kAside));
}

TEST_F(RunListTest, AReadFailureMidwayIsNoEndOfTheList)
{
    const std::string original = "OSTREL.DLL,A.EXE\r\n# note\r\nOSTREL.DLL,B.EXE\r\nOSTREL.DLL,C.EXE\r\n";
    WriteWholeFile(kRunList, original);
    CTestApp app;
    CFailingReadManager manager(2);
    std::unique_ptr<CRunEntry> entry(manager.GetEntry());
    ASSERT_TRUE(entry);
    entry->SetStartTime(GetFixedTime());
    // The rewrite has read only part of the list: it is abandoned, the list kept.
    EXPECT_FALSE(manager.UpdateEntry(*entry));
    EXPECT_EQ(manager.GetRunListFailure(), "C:\\VELK\\RUN.NUV could not be read to its end (Error Number: 0)");
    EXPECT_EQ(ReadWholeFile(kRunList), original);
    EXPECT_FALSE(FileExists(kRewrite));
    // The next entry lies beyond the failure: none is found, and that is a failure.
    EXPECT_EQ(manager.GetEntry(), nullptr);
    EXPECT_EQ(manager.GetRunListFailure(), "C:\\VELK\\RUN.NUV could not be read to its end (Error Number: 0)");
}
