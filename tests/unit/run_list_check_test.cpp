#include "run_list_check.h"
#include "run_list_json.h"

#include "text.h"
#include "windows_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace
{

// Sources as a set of upper-cased paths; a folder is any proper prefix of a file's path.
class CFakeSources : public CSourceTree
{
public:
    explicit CFakeSources(std::vector<std::string> files)
    {
        for (const std::string& file : files) {
            const std::string upper = MakeUpperText(file);
            m_files.insert(upper);
            for (std::string::size_type at = upper.find('\\'); at != std::string::npos; at = upper.find('\\', at + 1))
                m_folders.insert(upper.substr(0, at));
            m_letters += m_letters.find(upper[0]) == std::string::npos ? upper.substr(0, 1) : "";
        }
    }
    bool IsFile(const std::string& path) const override { return m_files.count(Normal(path)) != 0; }
    bool IsFolder(const std::string& path) const override { return m_folders.count(Normal(path)) != 0; }
    std::string GetDriveLetters() const override { return m_letters; }

private:
    static std::string Normal(const std::string& path)
    {
        std::string upper = MakeUpperText(path);
        while (!upper.empty() && upper.back() == '\\')
            upper.pop_back();
        return upper;
    }
    std::set<std::string> m_files;
    std::set<std::string> m_folders;
    std::string m_letters;
};

// Findings as "line:E|W:text" for comparison.
std::vector<std::string> Check(const std::string& list, const CSourceTree* sources)
{
    std::vector<std::string> lines;
    for (const RunListFinding& f : CheckRunList(list, sources))
        lines.push_back(std::to_string(f.lineNumber) + (f.level == FindingLevel::Error ? ":E:" : ":W:") + f.text);
    return lines;
}

struct CheckRow
{
    const char* list;
    bool withSources;
    std::vector<std::string> expected;  // each a prefix of the finding at that place
};

const CFakeSources kSources({"C:\\VELK\\APPS\\TOOL\\SETUP.EXE", "C:\\VELK\\APPS\\TOOLS\\VelkTools.msi",
                             "C:\\VELK\\APPS\\My Apps\\Viewer.msi", "D:\\APPS\\ONE\\SETUP.EXE"});

} // namespace

TEST(RunListCheck, ReportsWhatWouldGoWrongLineByLine)
{
    const std::string longCommand(4050, 'x');
    const CheckRow rows[] = {
        // Clean lists: comments, blanks, every wrapper, system programs, drive variables.
        {"# comment\r\n\r\n   \t\r\nOSTREL.DLL, C:\\VELK\\APPS\\TOOL\\SETUP.EXE -s, C:\\VELK\\APPS\\TOOL, 600\r\n"
         "quillan.dll, C:\\VELK\\APPS\\TOOLS\\VelkTools.msi, C:\\VELK\\APPS\\TOOLS\\, 300, reboot\n"
         "SORVANE.DLL, MSIEXEC /I \"C:\\VELK\\APPS\\my apps\\viewer.msi\" /qn\n"
         "BRAKKIS.DLL, ${NUVDEST}:\\APPS\\ONE\\SETUP.EXE, ${NUVDEST}:\\APPS\\ONE\n"
         "BRAKKEL.DLL, \"C:\\VELK\\APPS\\TOOL\\SETUP.EXE\" /s\n"
         "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c exit\nOSTREL.DLL, reg.exe add HKLM\\X /f",
         true, {}},
        {"NUVMSI.DLL, C:\\VELK\\APPS\\TOOL\\SETUP.EXE\nOSTREL.DLL\nOSTRELDLL, x.exe", false,
         {"1:E:wrapper 'NUVMSI.DLL' (loaded as NUVMSI.DLL) names no shipped plug-in",
          "2:E:no install command", "3:E:wrapper 'OSTRELDLL' (loaded as OSTRELDLL) names no shipped plug-in"}},
        {"OSTREL.DLL, C:\\VELK\\APPS\\GONE\\SETUP.EXE\nQUILLAN.DLL, C:\\VELK\\APPS\\TOOLS\\Other.msi /qn\n"
         "OSTREL.DLL, ${NUVDEST}:\\APPS\\TWO\\SETUP.EXE\nOSTREL.DLL, \"C:\\VELK\\APPS\\My Apps\\Run.exe\" /x",
         true,
         {"1:E:program C:\\VELK\\APPS\\GONE\\SETUP.EXE is not among the sources",
          "2:E:package C:\\VELK\\APPS\\TOOLS\\Other.msi is not among the sources",
          "3:E:program ${NUVDEST}:\\APPS\\TWO\\SETUP.EXE is not among the sources",
          "4:E:program C:\\VELK\\APPS\\My Apps\\Run.exe is not among the sources"}},
        // Without sources nothing is looked up.
        {"OSTREL.DLL, C:\\VELK\\APPS\\GONE\\SETUP.EXE, C:\\VELK\\APPS\\GONE", false, {}},
        {"OSTREL.DLL, a.exe, C:\\\nOSTREL.DLL, a.exe, c:\nOSTREL.DLL, a.exe, \\\nOSTREL.DLL, a.exe, ${NUVDEST}:\\\n"
         "OSTREL.DLL, a.exe, C:\\VELK\nOSTREL.DLL, a.exe, c:\\velk\\nuv\\\nOSTREL.DLL, a.exe, APPS\\TOOL\n"
         "OSTREL.DLL, a.exe, D:\\VELK\\APPS\\TOOL",
         true,
         {"1:E:clean-up folder C:\\ is a drive root", "2:E:clean-up folder c: is a drive root",
          "3:E:clean-up folder \\ is a drive root", "4:E:clean-up folder ${NUVDEST}:\\ is a drive root",
          "5:E:clean-up folder C:\\VELK holds C:\\VELK\\RUN.NUV", "6:E:clean-up folder c:\\velk\\nuv\\ holds C:\\VELK\\NUV\\NUV.EXE",
          "7:E:clean-up folder APPS\\TOOL is not a full path", "8:E:clean-up folder D:\\VELK\\APPS\\TOOL is not a folder of the sources"}},
        {"OSTREL.DLL, a.exe, , 10 min\nOSTREL.DLL, a.exe, , 0\nOSTREL.DLL, a.exe, , soon\nOSTREL.DLL, a.exe, , +30", false,
         {"1:W:time-out '10 min' is read as 10 seconds", "2:W:time-out '0' is read as 900 seconds (the default)",
          "3:W:time-out 'soon' is read as 900 seconds (the default)"}},
        {"OSTREL.DLL, a.exe, , , restart\nOSTREL.DLL, a.exe, , , REBOOT, , , , from CD 2, Ann", false,
         {"1:W:fifth field 'restart' is not REBOOT", "2:W:fields past the eighth are dropped when the engine rewrites the line: from CD 2, Ann"}},
        {"OSTREL.DLL, a.exe, , , , START 09:05:31\nOSTREL.DLL, a.exe, , , , START 09:05:31, STOP 09:05:40\n"
         "OSTREL.DLL, a.exe, , , , , STOP 09:05:40\nOSTREL.DLL, a.exe, , , , START 09:05:31, STOP 09:05:40, CLEAN 09:05:41\n"
         "OSTREL.DLL, a.exe, , , , START 9:05:31\nOSTREL.DLL, a.exe, , , , START 24:00:00, STOP, CLEAN 09:60:00\n"
         "OSTREL.DLL, a.exe, , , , STOP 09:05:31, START 09:05:40, CLEAN 09:05:41\n"
         "OSTREL.DLL, a.exe, , , , , , CLEAN 09:05:41\nOSTREL.DLL, a.exe, , , , , STOP 09:05:40, CLEAN 09:05:41",
         false,
         {"1:E:START without CLEAN", "2:E:START without CLEAN",
          "3:E:STOP or CLEAN without START: the engine will stamp START, pass over the install and clean up",
          "4:W:finished on an earlier run", "5:E:'START 9:05:31' is no START stamp", "6:E:'START 24:00:00' is no START stamp",
          "6:E:'STOP' is no STOP stamp", "6:E:'CLEAN 09:60:00' is no CLEAN stamp",
          "7:E:'STOP 09:05:31' is no START stamp", "7:E:'START 09:05:40' is no STOP stamp",
          "8:E:STOP or CLEAN without START: the engine will stamp START and install, but neither clean up nor restart",
          "9:E:STOP or CLEAN without START: the engine will stamp START and do nothing else"}},
    };
    for (const CheckRow& row : rows) {
        const std::vector<std::string> got = Check(row.list, row.withSources ? &kSources : nullptr);
        ASSERT_EQ(got.size(), row.expected.size()) << row.list << "\n" << ::testing::PrintToString(got);
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].substr(0, row.expected[i].size()), row.expected[i]) << row.list;
    }
}

TEST(RunListCheck, FindsLinesTheEngineCannotHoldWithTheirStamps)
{
    // 4095 characters fit as read; with three stamps (and their separators) they do not.
    const std::string entry = "OSTREL.DLL, " + std::string(4095 - 20, 'x');
    const std::string fits = "OSTREL.DLL, " + std::string(4095 - 12 - 8 - 48, 'x');
    const std::vector<std::string> got = Check(entry + "\n" + fits + "\n" + entry + std::string(10, 'y'), nullptr);
    ASSERT_EQ(got.size(), 3u) << ::testing::PrintToString(got);
    EXPECT_EQ(got[0].substr(0, 48), "1:E:with its three stamps the line would be 4140");
    EXPECT_EQ(got[1].substr(0, 26), "3:E:the line is 4097 chara");
}

namespace
{

std::string EmptyStamps()
{
    return "\"stamps\": {\"START\": \"\", \"STOP\": \"\", \"CLEAN\": \"\"}}";
}

struct JsonRow
{
    std::string list;
    std::string expected;  // the whole output
};

} // namespace

TEST(RunListCheck, PrintsTheEngineReadingAsJson)
{
    const std::string head = "OSTREL.DLL, " + std::string(4095 - 12, 'x');
    const JsonRow rows[] = {
        {"", "{\"entries\": [],\n\"findings\": [],\n\"errors\": 0, \"warnings\": 0}\n"},
        // Blank and comment lines count as lines; fields are trimmed, REBOOT in any case.
        {"# c\r\n \t\r\n  OSTREL.DLL,a.exe -s,C:\\APPS ,600,reboot\r\n",
         "{\"entries\": [\n {\"number\": 1, \"line_number\": 3, \"engine_line_number\": 3, \"cut\": false, "
         "\"line\": \"OSTREL.DLL,a.exe -s,C:\\\\APPS ,600,reboot\", "
         "\"formatted\": \"OSTREL.DLL, a.exe -s, C:\\\\APPS, 600, REBOOT\", \"wrapper\": \"OSTREL.DLL\", "
         "\"command\": \"a.exe -s\", \"cleanup\": \"C:\\\\APPS\", \"timeout\": \"600\", \"timeout_seconds\": 600, "
         "\"reboot\": true, " + EmptyStamps() + "],\n\"findings\": [],\n\"errors\": 0, \"warnings\": 0}\n"},
        // Stamps as the engine holds them: any text in their place is set.
        {"OSTREL.DLL, a.exe, , soon, no, START 9:05, , CLEAN 10:00:00",
         "{\"entries\": [\n {\"number\": 1, \"line_number\": 1, \"engine_line_number\": 1, \"cut\": false, "
         "\"line\": \"OSTREL.DLL, a.exe, , soon, no, START 9:05, , CLEAN 10:00:00\", "
         "\"formatted\": \"OSTREL.DLL, a.exe, , soon, , START 9:05, , CLEAN 10:00:00\", \"wrapper\": \"OSTREL.DLL\", "
         "\"command\": \"a.exe\", \"cleanup\": \"\", \"timeout\": \"soon\", \"timeout_seconds\": 0, \"reboot\": false, "
         "\"stamps\": {\"START\": \"START 9:05\", \"STOP\": \"\", \"CLEAN\": \"CLEAN 10:00:00\"}}],\n\"findings\": [\n"
         " {\"line_number\": 1, \"level\": \"warning\", \"text\": \"time-out 'soon' is read as 900 seconds (the default)\"},\n"
         " {\"line_number\": 1, \"level\": \"warning\", \"text\": \"fifth field 'no' is not REBOOT: no restart, and the "
         "engine's rewrite drops it\"},\n {\"line_number\": 1, \"level\": \"error\", \"text\": \"'START 9:05' is no START "
         "stamp (\\\"START HH:MM:SS\\\" or empty)\"}],\n\"errors\": 1, \"warnings\": 2}\n"},
        // A line over the limit: its rest is an entry of its own, and the lines after it
        // are one further on in the engine's count.
        {head + " OSTREL.DLL, b.exe\nOSTREL.DLL, c.exe\n",
         "{\"entries\": [\n {\"number\": 1, \"line_number\": 1, \"engine_line_number\": 1, \"cut\": true, \"line\": \"" +
         head + "\", \"formatted\": \"" + head + ", , , \", \"wrapper\": \"OSTREL.DLL\", \"command\": \"" +
         head.substr(12) + "\", \"cleanup\": \"\", \"timeout\": \"\", \"timeout_seconds\": 0, \"reboot\": false, " +
         EmptyStamps() + ",\n {\"number\": 2, \"line_number\": 1, \"engine_line_number\": 2, \"cut\": true, "
         "\"line\": \"OSTREL.DLL, b.exe\", \"formatted\": \"OSTREL.DLL, b.exe, , , \", \"wrapper\": \"OSTREL.DLL\", "
         "\"command\": \"b.exe\", \"cleanup\": \"\", \"timeout\": \"\", \"timeout_seconds\": 0, \"reboot\": false, " +
         EmptyStamps() + ",\n {\"number\": 3, \"line_number\": 2, \"engine_line_number\": 3, \"cut\": false, "
         "\"line\": \"OSTREL.DLL, c.exe\", \"formatted\": \"OSTREL.DLL, c.exe, , , \", \"wrapper\": \"OSTREL.DLL\", "
         "\"command\": \"c.exe\", \"cleanup\": \"\", \"timeout\": \"\", \"timeout_seconds\": 0, \"reboot\": false, " +
         EmptyStamps() + "],\n\"findings\": [\n {\"line_number\": 1, \"level\": \"error\", \"text\": \"the line is 4113 "
         "characters long: the engine reads only 4095 as one line and the rest as another\"},\n {\"line_number\": 1, "
         "\"level\": \"error\", \"text\": \"with its three stamps the line would be 4148 characters, over the 4095 the "
         "engine can record: it would stop here\"}],\n\"errors\": 2, \"warnings\": 0}\n"},
        // Windows text: 0xE9 and 0x80 as their characters, an undefined byte as its control
        // character, quotes, backslashes and control bytes escaped.
        {std::string("OSTREL.DLL, caf\xE9\x80\x81 \"q\\\x01\x7F.exe"),
         "{\"entries\": [\n {\"number\": 1, \"line_number\": 1, \"engine_line_number\": 1, \"cut\": false, "
         "\"line\": \"OSTREL.DLL, caf\xC3\xA9\xE2\x82\xAC\xC2\x81 \\\"q\\\\\\u0001\\u007f.exe\", "
         "\"formatted\": \"OSTREL.DLL, caf\xC3\xA9\xE2\x82\xAC\xC2\x81 \\\"q\\\\\\u0001\\u007f.exe, , , \", "
         "\"wrapper\": \"OSTREL.DLL\", \"command\": \"caf\xC3\xA9\xE2\x82\xAC\xC2\x81 \\\"q\\\\\\u0001\\u007f.exe\", "
         "\"cleanup\": \"\", \"timeout\": \"\", \"timeout_seconds\": 0, \"reboot\": false, " + EmptyStamps() +
         "],\n\"findings\": [],\n\"errors\": 0, \"warnings\": 0}\n"},
    };
    for (const JsonRow& row : rows)
        EXPECT_EQ(FormatRunListJson(row.list, CheckRunList(row.list, nullptr)), row.expected) << row.list.substr(0, 80);
}

TEST(RunListCheck, ComparesTheListsNamesWithLinuxNamesInTheWindowsCodePage)
{
    struct NameRow
    {
        const char* list;   // code page 1252, as the run list holds it
        const char* linux;  // UTF-8, as the Linux folder holds it
        bool same;
    };
    const NameRow rows[] = {
        {"SETUP.EXE", "setup.exe", true},
        {"CAF\xC9.MSI", "caf\xC3\xA9.msi", true},              // É and é
        {"caf\xE9.msi", "CAF\xC3\x89.MSI", true},
        {"\x8A\x8C\x8E\x9F", "\xC5\xA1\xC5\x93\xC5\xBE\xC3\xBF", true},  // ŠŒŽŸ and šœžÿ
        {"\x80 1.txt", "\xE2\x82\xAC 1.txt", true},            // the euro sign
        {"\xD7", "\xC3\xB7", false},                           // × is no capital of ÷
        {"\xE9", "e", false},
        {"CAFE.MSI", "caf\xC3\xA9.msi", false},
        {"\xFF.txt", "\xFF.txt", false},                       // a Linux name that is no UTF-8
        {"\xE9", "\xC3", false},                               // cut short
        {"\xC0", "\xC0\x80", false},                           // an overlong form
        {"?", "\xE4\xB8\xAD", false},                          // a character the code page lacks
        {"\xE3\x81", "\xC3\xA3\xC2\x81", true},                // an undefined byte stands for its control character
    };
    for (const NameRow& row : rows)
        EXPECT_EQ(IsSameWindowsName(row.list, row.linux), row.same) << row.list << " / " << row.linux;
    EXPECT_EQ(ConvertWindowsTextToUtf8("caf\xE9 \x80\x81"), "caf\xC3\xA9 \xE2\x82\xAC\xC2\x81");
}
