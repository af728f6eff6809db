// Morlane with the registry and files of the test prefix: what it refuses, what it logs,
// and a value walk that ends whatever the key does meanwhile.
#include "engine_test_support.h"
#include "morlane.h"

namespace {

const char kUtilsLog[] = "C:\\Velk\\Utils.Log";
const char kData[] = "C:\\VELK\\morlane.txt";
const char kKey[] = "Software\\VelkMorlaneTest";

} // namespace

class MorlaneTest : public EngineTest {};

TEST_F(MorlaneTest, ACommandLineOverItsLimitIsRefusedAndRecordModeStillEndsWithItsBox)
{
    const std::string longKey(250, 'k');
    struct Row {
        std::string commandLine;
        int code;
        bool box;
        std::string logged;
    } rows[] = {
        {"/t d:\\apps C:\\VELK\\morlane.txt /m " + longKey, 0, true, "<missing>"},
        {"/t /l d:\\apps C:\\VELK\\morlane.txt /m " + longKey, 0, true,
         "MORLANE: Command line longer than 259 characters\r\n"},
        {"C:\\VELK\\morlane.txt /m " + longKey, 2, false, "<missing>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.commandLine.substr(0, 30));
        WriteWholeFile(kData, "HKEY_CURRENT_USER\\Software\\VelkMorlaneTest\r\nPath\r\nd:\\apps\r\n");
        DeleteFileA(kUtilsLog);
        const std::size_t boxes = GetShownBoxes().size();
        EXPECT_EQ(RunMorlane(row.commandLine), row.code);
        EXPECT_EQ(GetShownBoxes().size(), boxes + (row.box ? 1 : 0));
        EXPECT_EQ(ReadWholeFile(kUtilsLog), row.logged);
        // Nothing recorded, nothing applied: the data file as it was.
        EXPECT_EQ(ReadWholeFile(kData), "HKEY_CURRENT_USER\\Software\\VelkMorlaneTest\r\nPath\r\nd:\\apps\r\n");
    }
    EXPECT_EQ(GetShownBoxes().back(), "Program Complete!");
}

TEST_F(MorlaneTest, AMalformedRecordIsLoggedAsItStands)
{
    WriteWholeFile(kData, "HKEY_CURRENT_USER\\Software\\%s%d\r\n%s\r\n\r\n");
    EXPECT_EQ(RunMorlane(std::string(kData) + " /l"), 13);
    EXPECT_EQ(ReadWholeFile(kUtilsLog),
              "MORLANE: Data file does not contain valid data. HKEY_CURRENT_USER\\Software\\%s%d, %s, \r\n");
}

TEST_F(MorlaneTest, TheValueWalkEndsWhenTheKeyIsDeletedMeanwhile)
{
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(created, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>("d:\\apps"), 8);
    RegCloseKey(created);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
    std::vector<BYTE> data(1000);
    int visited = 0;
    VisitStringValues(key, data, [&](const std::string&, const std::string&) { ++visited; });
    EXPECT_EQ(visited, 0);
    RegCloseKey(key);
}

TEST_F(MorlaneTest, ADefaultValueGoesThroughBothModesAndAPathWithASlashTIsAppliedNotRecorded)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char tool[] = "d:\\apps\\tool.exe";
    const char path[] = "d:\\apps";
    RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(tool), sizeof tool);
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
    RegCloseKey(key);

    // Record mode writes the default value with an empty name line; apply mode takes it.
    EXPECT_EQ(RunMorlane(std::string("/t d:\\apps ") + kData + " /u Software\\VelkMorlaneTest /m Software\\VelkNone"),
              0);
    const std::string recorded = ReadWholeFile(kData);
    EXPECT_NE(recorded.find("HKEY_CURRENT_USER\\software\\velkmorlanetest\r\n\r\nd:\\apps\r\n"), std::string::npos)
        << recorded;
    // Named with forward slashes, "/T" inside the path: applied, not a walk waiting for a click.
    CreateDirectoryA("C:\\VELK\\TEMP", nullptr);
    ASSERT_TRUE(MoveFileA(kData, "C:\\VELK\\TEMP\\LATE.TXT"));
    const std::size_t boxes = GetShownBoxes().size();
    EXPECT_EQ(RunMorlane("C:/VELK/TEMP/LATE.TXT"), 0);
    EXPECT_EQ(GetShownBoxes().size(), boxes);
    EXPECT_FALSE(FileExists("C:\\VELK\\TEMP\\LATE.TXT"));

    const std::string root = FindCdRomRoot();
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    char data[MAX_PATH] = "";
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(data), root + "tool.exe");
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(data), root);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}
