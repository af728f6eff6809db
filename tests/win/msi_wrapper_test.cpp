// The MSI wrapper under Wine: the command it runs (seen by a spy found before MSIEXEC)
// and the source-list redirection over products registered by the test.
#include "engine_test_support.h"
#include "msi_wrapper.h"
#include "source_list.h"
#include "text.h"

namespace {

const char kSpyRecord[] = "C:\\VELK\\msiexec.txt";
const char kErr[] = "c:\\velk\\nuv.err";
const char kTag[] = "c:\\velk\\nuv\\srcredir.tag";
const char kLog[] = "c:\\velk\\nuv\\srcredir.log";
const char kProducts[] = "Software\\Classes\\Installer\\Products";

// Products registered with Windows Installer, as far as the redirection reads them.
class CRegisteredProducts
{
public:
    ~CRegisteredProducts()
    {
        for (const std::string& product : m_products) {
            const std::string key = std::string(kProducts) + "\\" + product;
            for (const char* sub : {"\\SourceList\\Net", "\\SourceList\\Media", "\\SourceList", ""})
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, (key + sub).c_str());
        }
    }
    void Add(const std::string& product, const std::vector<std::pair<std::string, std::string>>& netValues)
    {
        m_products.push_back(product);
        const std::string key = std::string(kProducts) + "\\" + product + "\\SourceList";
        HKEY media = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\Media").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &media,
                        nullptr);
        RegCloseKey(media);
        if (netValues.empty())
            return;
        HKEY net = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\Net").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &net,
                        nullptr);
        for (const auto& value : netValues)
            RegSetValueExA(net, value.first.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.second.c_str()),
                           static_cast<DWORD>(value.second.size() + 1));
        RegCloseKey(net);
    }
    // The product's Net value names, in order.
    std::string NetValues(const std::string& product) const
    {
        std::string names;
        HKEY net = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProducts) + "\\" + product + "\\SourceList\\Net").c_str(),
                          0, KEY_READ, &net) != ERROR_SUCCESS)
            return "<no key>";
        char name[100];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumValueA(net, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names += std::string(names.empty() ? "" : " ") + name;
        }
        RegCloseKey(net);
        return names;
    }

private:
    std::vector<std::string> m_products;
};

// The log's records without their time stamps.
std::vector<std::string> LogRecords()
{
    std::vector<std::string> records;
    const std::string log = ReadWholeFile(kLog);
    for (std::string::size_type at = 0; at < log.size();) {
        const std::string::size_type end = log.find("\r\n", at);
        const std::string line = log.substr(at, end - at);
        if (!line.empty())
            records.push_back(line.substr(22));
        at = end == std::string::npos ? log.size() : end + 2;
    }
    return records;
}

} // namespace

class MsiWrapperTest : public EngineTest
{
protected:
    BOOL Install(const std::string& command)
    {
        std::vector<char> text = MakeWritableCopy(command);
        return wrapper.InstallApplication(text.data(), 60);
    }
    CMsiWrapper wrapper{kQuillanProperties, kQuillanPropertyCount};
};

TEST_F(MsiWrapperTest, RunsTheRewrittenCommandOrNothing)
{
    EXPECT_TRUE(Install("C:\\APPS\\FOO\\FOO.MSI"));
    // Wine's Windows Installer library is new enough for every property row.
    EXPECT_EQ(ReadWholeFile(kSpyRecord),
              "MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI REBOOT=ReallySuppress FASTOEM=1 ALLUSERS=1 DISABLEROLLBACK=1 /qn\r\n");
    DeleteFileA(kSpyRecord);
    // Refused: nothing runs, and the wrapper adds no line of its own.
    EXPECT_FALSE(Install("MSIEXEC /I /QB FOO.MSI"));
    EXPECT_FALSE(FileExists(kSpyRecord));
    EXPECT_FALSE(FileExists(kErr));
    // A launcher runs as it is given.
    EXPECT_FALSE(Install("C:\\APPS\\SETUP.EXE C:\\APPS\\FOO.MSI"));
    EXPECT_EQ(ReadWholeFile(kErr), "Failed to spawn 'C:\\APPS\\SETUP.EXE C:\\APPS\\FOO.MSI'.  Error Number: 2\r\n");
}

TEST_F(MsiWrapperTest, TheRedirectionDeletesOnlySourcesThatNameThePackageFolder)
{
    CRegisteredProducts products;
    products.Add("VELKTEST1", {{"1", "c:\\apps\\foobar\\"}, {"2", "c:\\apps\\foo\\"}, {"3", "c:\\apps\\foo"}});
    products.Add("VELKTEST2", {{"1", "C:\\APPS\\FOO"}});
    products.Add("VELKTEST3", {{"1", "d:\\apps\\foo2\\"}});
    products.Add("VELKTEST4", {});
    products.Add("VELKTEST5", {{"1", "d:\\apps\\"}, {"2", "C:\\VELK\\My Apps\\"}});

    // No tag: the start record and the one that says why, and nothing else.
    EXPECT_TRUE(RedirectSourceList("C:\\APPS\\FOO\\FOO.MSI"));
    EXPECT_EQ(LogRecords(), (std::vector<std::string>{
                                "SRCREDIR: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-",
                                "SRCREDIR: Failed to locate srcredir.tag.  Redirection not performed."}));
    EXPECT_EQ(products.NetValues("VELKTEST1"), "1 2 3");

    WriteWholeFile(kTag, "");
    DeleteFileA(kLog);
    // A drive root would name every source on the drive: nothing is deleted.
    EXPECT_TRUE(RedirectSourceList("MSIEXEC /I C:\\FOO.MSI /qn"));
    EXPECT_EQ(LogRecords().back(), "SRCREDIR: Package folder 'C:\\' is empty or a drive root.  Redirection not performed.");
    EXPECT_EQ(products.NetValues("VELKTEST2"), "1");
    // Only a full path names the package's folder: unquoted, the blank leaves "APPS\".
    EXPECT_TRUE(RedirectSourceList("C:\\VELK\\My Apps\\Viewer.msi"));
    EXPECT_EQ(LogRecords().back(), "SRCREDIR: Package folder 'APPS\\' is no full path (X:\\... or "
                                   "\\\\server\\share\\...).  Redirection not performed.");
    EXPECT_EQ(products.NetValues("VELKTEST5"), "1 2");
    EXPECT_TRUE(RedirectSourceList("MSIEXEC /I \"C:\\VELK\\My Apps\\Viewer.msi\" /qn"));
    EXPECT_EQ(products.NetValues("VELKTEST5"), "1");

    DeleteFileA(kLog);
    EXPECT_TRUE(RedirectSourceList("MSIEXEC /I C:\\APPS\\FOO\\FOO.MSI /qn"));
    // The first value that names the folder goes, another product's longer name stays.
    EXPECT_EQ(products.NetValues("VELKTEST1"), "1 3");
    EXPECT_EQ(products.NetValues("VELKTEST2"), "");
    EXPECT_EQ(products.NetValues("VELKTEST3"), "1");
    const std::vector<std::string> records = LogRecords();
    auto has = [&](const std::string& record) {
        return std::find(records.begin(), records.end(), record) != records.end();
    };
    EXPECT_TRUE(has("SRCREDIR: WinNT OS detected..."));
    EXPECT_TRUE(has("SRCREDIR: Found C:\\APPS\\FOO\\ in Net key... Deleting..."));
    EXPECT_TRUE(has("SRCREDIR: Attempting to redirect LastUsedSource to \\Media entry for VELKTEST2"));
    EXPECT_TRUE(has("SRCREDIR: OpenKey() error opening VELKTEST4\\SourceList\\Net"));
    EXPECT_FALSE(has("SRCREDIR: Attempting to redirect LastUsedSource to \\Media entry for VELKTEST3"));
}
