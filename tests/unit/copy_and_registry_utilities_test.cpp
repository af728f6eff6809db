#include "fendrix_command_line.h"
#include "morlane_text.h"
#include "next_parameter.h"
#include "pe_resource.h"
#include "version_block.h"

#include <gtest/gtest.h>

#include <vector>

TEST(NextParameter, QuotesTabsLengthsAndTheEnd)
{
    struct Row {
        std::string text;
        int position;
        std::string parameter;
        int next;
        std::string problem;
    } rows[] = {
        {"a b", 0, "a", 2, ""},
        {"a   b", 0, "a", 4, ""},
        {"\"a b\" c", 0, "a b", 6, ""},
        {"\"a b\"   c", 0, "a b", 8, ""},
        {"a\tb c", 0, "a\tb", 4, ""},
        {"last   ", 0, "last", -1, ""},
        {"x last", 2, "last", -1, ""},
        {"\"open to the end", 0, "open to the end", -1, ""},
        {"", 0, "", -1, "Invalid Command line param"},
        {std::string(300, 'p') + " next", 0, std::string(260, 'p'), 301,
         "Individual command line parameter exceeds maximum length"},
    };
    for (const Row& row : rows) {
        std::string parameter;
        std::string problem;
        EXPECT_EQ(NextParameter(row.text, row.position, parameter, problem), row.next) << row.text;
        EXPECT_EQ(parameter, row.parameter) << row.text;
        EXPECT_EQ(problem, row.problem) << row.text;
    }
}

TEST(FendrixCommandLine, SwitchesInLowerCaseOnly)
{
    const FendrixArguments upper = ParseFendrixCommandLine("/D /F \"C:\\My Src\\a.txt\" C:\\DST -x");
    EXPECT_FALSE(upper.move);
    EXPECT_FALSE(upper.force);
    EXPECT_EQ(upper.source, "C:\\My Src\\a.txt");
    EXPECT_EQ(upper.destination, "C:\\DST");
    EXPECT_EQ(upper.messages, (std::vector<std::string>{"Invalid command line switch: /D", "Invalid command line switch: /F",
                                                        "Invalid command line switch: -x"}));
    const FendrixArguments lower = ParseFendrixCommandLine("-d /f /l C:\\SRC C:\\ONE C:\\TWO");
    EXPECT_TRUE(lower.move);
    EXPECT_TRUE(lower.force);
    EXPECT_EQ(lower.destination, "C:\\TWO");  // a third plain parameter replaces the second
    EXPECT_TRUE(lower.messages.empty());
    EXPECT_EQ(ParseFendrixCommandLine("").messages, std::vector<std::string>{"Invalid Command line param"});
}

TEST(MorlaneCommandLine, LowerCasedSwitchesKeysAndTheMode)
{
    const MorlaneArguments record =
        ParseMorlaneCommandLine("/x /T /L D:\\Apps C:\\Data.TXT /m Software\\Velk /u SOFTWARE\\User /q");
    EXPECT_TRUE(record.record);
    EXPECT_TRUE(record.log);
    EXPECT_EQ(record.first, "d:\\apps");
    EXPECT_EQ(record.second, "c:\\data.txt");
    EXPECT_EQ(record.machineKey, "software\\velk");
    EXPECT_EQ(record.userKey, "software\\user");
    // Only what went wrong after /l is logged.
    EXPECT_EQ(record.messages, std::vector<std::string>{"Invalid command line switch: /q"});
    EXPECT_EQ(ParseMorlaneCommandLine("c:\\data.txt /m").machineKey, "");
    EXPECT_TRUE(ParseMorlaneCommandLine(std::string(260, 'x')).tooLong);

    EXPECT_TRUE(IsRecordMode("d:\\apps /T"));
    EXPECT_TRUE(IsRecordMode("/tl d:\\apps"));
    EXPECT_FALSE(IsRecordMode("-t d:\\apps"));
    EXPECT_TRUE(IsRecordMode("/t d:\\apps -t"));
    // A "/T" inside a path is no switch: the data file is applied.
    EXPECT_FALSE(IsRecordMode("C:/TEMP/LATE.TXT"));
    EXPECT_FALSE(IsRecordMode("\"C:/Data/x.txt\" /l"));
}

TEST(DriveReferenceRecord, WrittenAndReadBack)
{
    EXPECT_EQ(FormatDriveReferenceRecord("HKEY_CURRENT_USER", "Software\\Velk", "Path", "D:\\Apps"),
              (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Velk", "Path", "d:\\apps"}));
    DriveReference reference;
    ASSERT_TRUE(ParseDriveReferenceRecord("HKEY_LOCAL_MACHINE\\Software\\Velk\\Sub", "Path", "e:\\apps", reference));
    EXPECT_TRUE(reference.machine);
    EXPECT_EQ(reference.keyPath, "Software\\Velk\\Sub");
    EXPECT_EQ(reference.text, "c:\\apps");
    ASSERT_TRUE(ParseDriveReferenceRecord("HKEY_CURRENT_USER", "Path", "e:\\", reference));
    EXPECT_FALSE(reference.machine);
    EXPECT_EQ(reference.keyPath, "");
    EXPECT_FALSE(ParseDriveReferenceRecord("hkey_local_machine\\x", "Path", "e:\\apps", reference));
    // The default value, as record mode writes it: an empty name.
    ASSERT_TRUE(ParseDriveReferenceRecord("HKEY_CURRENT_USER\\x", "", "e:\\apps", reference));
    EXPECT_EQ(reference.valueName, "");
    EXPECT_FALSE(ParseDriveReferenceRecord("HKEY_CURRENT_USER\\x", "Path", "", reference));
}

TEST(DriveReferenceRecord, TheTextGoesToTheCdRomRootAndNothingElseChanges)
{
    struct Row {
        const char* data;
        const char* text;  // as recorded
        const char* result;
        char letter;
        bool repaired;
    } rows[] = {
        // The folder followed by a file: the doubled backslash goes.
        {"D:\\Apps\\Tool.exe", "e:\\apps", "f:\\Tool.exe", 'd', true},
        // Letters are tried from c; the first that matches is the only one replaced.
        {"C:\\APPS\\X;D:\\APPS\\Y", "d:\\apps\\", "f:\\X;D:\\APPS\\Y", 'c', false},
        {"%ProgramFiles%\\App;I:\\Apps\\Data", "c:\\apps\\", "%ProgramFiles%\\App;f:\\Data", 'i', false},
        {"J:\\Apps\\Data", "c:\\apps\\", "J:\\Apps\\Data", 0, false},
        {"e:\\apps e:\\APPS", "e:\\apps", "f:\\ f:\\", 'e', false},
    };
    for (const Row& row : rows) {
        std::string data = row.data;
        bool repaired = false;
        EXPECT_EQ(ReplaceLateBindText(data, row.text, "f:\\", repaired), row.letter) << row.data;
        EXPECT_EQ(data, row.result) << row.data;
        EXPECT_EQ(repaired, row.repaired) << row.data;
    }
}

TEST(DriveReferenceFile, RecordsUpToTheEndOrTheFirstBadOne)
{
    const std::string key = "HKEY_CURRENT_USER\\Software\\Velk";
    const std::size_t never = std::string::npos;
    struct Row {
        std::vector<std::string> lines;
        std::size_t failAt;  // the read of this line fails
        std::size_t records;
        bool invalid;
        std::string badKeyLine;
        bool readFailed;
    } rows[] = {
        // An empty file is an incomplete record.
        {{}, never, 0, true, "", false},
        {{key, "Path", "d:\\apps", key, "Data", "d:\\data"}, never, 2, false, "", false},
        // Only a line beginning with "H" starts another record.
        {{key, "Path", "d:\\apps", "", key, "Data", "d:\\data"}, never, 1, false, "", false},
        {{key, "Path", "d:\\apps", "rem", key}, never, 1, false, "", false},
        {{key, "Path", "d:\\apps", "Hello", "x", "y"}, never, 1, true, "Hello", false},
        {{key, "Path"}, never, 0, true, key, false},
        {{key, "", "d:\\apps"}, never, 1, false, "", false},
        {{key, "Path", ""}, never, 0, true, key, false},
        // A read that fails is no end of the file, between records or within one.
        {{key, "Path", "d:\\apps", key, "Data", "d:\\data"}, 3, 1, false, "", true},
        {{key, "Path", "d:\\apps", key, "Data", "d:\\data"}, 4, 1, false, "", true},
        {{key, "Path", "d:\\apps"}, 0, 0, false, "", true},
    };
    for (const Row& row : rows) {
        std::size_t next = 0;
        const DriveReferenceFile file = ReadDriveReferenceFile([&](std::string& line) {
            if (next == row.failAt)
                return DataLine::Failed;
            if (next >= row.lines.size())
                return DataLine::End;
            line = row.lines[next++];
            return DataLine::Read;
        });
        EXPECT_EQ(file.records.size(), row.records) << row.lines.size() << " " << row.failAt;
        EXPECT_EQ(file.invalid, row.invalid) << row.lines.size() << " " << row.failAt;
        EXPECT_EQ(file.keyLine, row.badKeyLine) << row.lines.size() << " " << row.failAt;
        EXPECT_EQ(file.readFailed, row.readFailed) << row.lines.size() << " " << row.failAt;
    }
}

namespace {
// A version block as a resource compiler writes it: lengths, type, UTF-16 key, the
// fixed part on a 32-bit boundary.
std::string VersionBlock(const std::string& key, unsigned valueLength, unsigned ms, unsigned ls, int cut = 0)
{
    std::string block(6, '\0');
    for (char c : key)
        block += std::string(1, c) + '\0';
    block += std::string(2, '\0');
    while (block.size() % 4)
        block += '\0';
    std::string fixed(52, '\0');
    const unsigned words[] = {0xFEEF04BDu, 0x10000u, ms, ls};
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            fixed[i * 4 + b] = static_cast<char>((words[i] >> (8 * b)) & 0xff);
    block += fixed;
    const std::size_t length = block.size() - cut;
    block[0] = static_cast<char>(length & 0xff);
    block[1] = static_cast<char>(length >> 8);
    block[2] = static_cast<char>(valueLength & 0xff);
    block[3] = static_cast<char>(valueLength >> 8);
    return block;
}
}

TEST(VersionBlock, TheFixedPartGivesTheFileVersionOnlyWhenItIsWhole)
{
    struct Row {
        const char* name;
        std::string block;
        bool read;
        std::vector<unsigned short> parts;
    } rows[] = {
        {"as written", VersionBlock("VS_VERSION_INFO", 52, 0x50000, 0x2), true, {5, 0, 0, 2}},
        {"a key that ends off the boundary", VersionBlock("AB", 52, 0x10002, 0x30004), true, {1, 2, 3, 4}},
        {"a longer block", VersionBlock("VS_VERSION_INFO", 52, 0xffffffffu, 0) + std::string(100, 'x'), true,
         {0xffff, 0xffff, 0, 0}},
        {"no fixed part", VersionBlock("VS_VERSION_INFO", 0, 0x50000, 0x2), false, {}},
        {"its own length cuts the fixed part", VersionBlock("VS_VERSION_INFO", 52, 0x50000, 0x2, 1), false, {}},
        {"the bytes end inside the fixed part", VersionBlock("VS_VERSION_INFO", 52, 0x50000, 0x2).substr(0, 80), false,
         {}},
        {"a key without its end", std::string("\x40\0\x34\0\0\0") + std::string(58, 'k'), false, {}},
        {"shorter than a header", std::string("\x06\0", 2), false, {}},
    };
    for (const Row& row : rows) {
        unsigned short parts[4] = {9, 9, 9, 9};
        EXPECT_EQ(ReadFixedVersionFromBlock(row.block, parts), row.read) << row.name;
        if (row.read) {
            EXPECT_EQ(std::vector<unsigned short>(parts, parts + 4), row.parts) << row.name;
        }
    }
}

namespace {
void PutWord(std::string& bytes, std::size_t at, unsigned value)
{
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

void PutDoubleWord(std::string& bytes, std::size_t at, unsigned value)
{
    PutWord(bytes, at, value & 0xffff);
    PutWord(bytes, at + 2, value >> 16);
}

struct ImageShape {
    unsigned magic = 0x10b;       // 0x20b: a 64-bit program
    unsigned languages = 1;
    unsigned firstId = 1;         // the two ids in the version type's directory
    unsigned secondId = 7;
    unsigned rawSize = 0x200;     // of the one section, holding the resources at its start
};

// A program file with one section of resources: a version resource of the block below,
// type 16, id 1, in as many languages as asked.
std::string ProgramImage(const ImageShape& shape)
{
    const std::size_t header = 0x40;
    const std::size_t optionalSize = shape.magic == 0x10b ? 224 : 240;
    const std::size_t sections = header + 24 + optionalSize;
    const std::size_t raw = 0x200;
    const unsigned address = 0x1000;
    std::string image(raw + 0x200, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    PutDoubleWord(image, 0x3c, header);
    image.replace(header, 4, std::string("PE\0\0", 4));
    PutWord(image, header + 6, 1);
    PutWord(image, header + 20, static_cast<unsigned>(optionalSize));
    PutWord(image, header + 24, shape.magic);
    const std::size_t directories = header + 24 + (shape.magic == 0x10b ? 96 : 112);
    PutDoubleWord(image, directories - 4, 16);
    PutDoubleWord(image, directories + 16, address);
    PutDoubleWord(image, sections + 8, shape.rawSize);
    PutDoubleWord(image, sections + 12, address);
    PutDoubleWord(image, sections + 16, shape.rawSize);
    PutDoubleWord(image, sections + 20, static_cast<unsigned>(raw));
    // Type directory at 0, two names at 0x18, languages at 0x38, data entries at 0x60.
    PutWord(image, raw + 14, 1);
    PutDoubleWord(image, raw + 16, 16);
    PutDoubleWord(image, raw + 20, 0x80000018u);
    PutWord(image, raw + 0x18 + 14, 2);
    PutDoubleWord(image, raw + 0x18 + 16, shape.firstId);
    PutDoubleWord(image, raw + 0x18 + 20, 0x80000038u);
    PutDoubleWord(image, raw + 0x18 + 24, shape.secondId);
    PutDoubleWord(image, raw + 0x18 + 28, 0x80000038u);
    PutWord(image, raw + 0x38 + 14, shape.languages);
    for (unsigned i = 0; i < shape.languages; ++i) {
        PutDoubleWord(image, raw + 0x38 + 16 + i * 8, 0x409 + i);
        PutDoubleWord(image, raw + 0x38 + 20 + i * 8, 0x60);
    }
    const std::string block = VersionBlock("VS_VERSION_INFO", 52, 0x50000, 0x2);
    PutDoubleWord(image, raw + 0x60, address + 0x100);
    PutDoubleWord(image, raw + 0x64, static_cast<unsigned>(block.size()));
    image.replace(raw + 0x100, block.size(), block);
    return image;
}
}

TEST(VersionResource, FoundInTheFileOnlyWhereTheSystemWouldFindTheSameBlock)
{
    ImageShape twoLanguages, idsOutOfOrder, outsideTheSection, wide;
    twoLanguages.languages = 2;
    idsOutOfOrder.firstId = 9;
    idsOutOfOrder.secondId = 1;
    outsideTheSection.rawSize = 0x100;
    wide.magic = 0x20b;
    struct Row {
        const char* name;
        std::string image;
        bool found;
    } rows[] = {
        {"a 32-bit program", ProgramImage(ImageShape()), true},
        {"a 64-bit program", ProgramImage(wide), true},
        {"two languages", ProgramImage(twoLanguages), false},
        {"ids out of order", ProgramImage(idsOutOfOrder), false},
        {"the block past the section's bytes", ProgramImage(outsideTheSection), false},
        {"cut short", ProgramImage(ImageShape()).substr(0, 0x300), false},
        {"no program", std::string(0x400, 'M'), false},
    };
    for (const Row& row : rows) {
        const auto read = [&](std::uint32_t offset, std::size_t size, std::string& bytes) {
            bytes = offset < row.image.size() ? row.image.substr(offset, size) : std::string();
            return true;
        };
        std::string block;
        EXPECT_EQ(FindVersionResource(read, block), row.found) << row.name;
        unsigned short parts[4] = {0, 0, 0, 0};
        if (row.found) {
            EXPECT_TRUE(ReadFixedVersionFromBlock(block, parts)) << row.name;
            EXPECT_EQ(std::vector<unsigned short>(parts, parts + 4), (std::vector<unsigned short>{5, 0, 0, 2}))
                << row.name;
        }
    }
}
