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
