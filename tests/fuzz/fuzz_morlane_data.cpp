// Morlane's data file of any bytes, read in lines as Morlane reads it: every record read is
// whole (a key line naming a hive, a value name, empty for the default value, a text in
// lower case that starts with "c"), the reading never goes past the file, and records
// written as Morlane writes them read back as the same records. The replacement in any
// registry data ends, uses one of the letters c to i, and leaves the data as it was when
// it reports no letter.
#include "fuzz_check.h"
#include "line_file_text.h"
#include "morlane_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{
bool IsSameRecord(const DriveReference& a, const DriveReference& b)
{
    return a.machine == b.machine && a.keyPath == b.keyPath && a.valueName == b.valueName && a.text == b.text;
}

DriveReferenceFile ReadRecords(const std::string& bytes, std::size_t& linesRead)
{
    std::size_t offset = 0;
    linesRead = 0;
    return ReadDriveReferenceFile([&](std::string& line) {
        if (!ReadNextLine(bytes, offset, line, kMaxRecordLine))
            return DataLine::End;
        ++linesRead;
        return DataLine::Read;
    });
}

void CheckRecords(const std::string& bytes)
{
    std::size_t linesRead = 0;
    const DriveReferenceFile file = ReadRecords(bytes, linesRead);
    FUZZ_CHECK(linesRead >= file.records.size() * 3 && linesRead <= file.records.size() * 3 + 3);
    FUZZ_CHECK(file.invalid || !file.records.empty());
    std::string written;
    for (const DriveReference& record : file.records) {
        // An empty value name stands for the key's default value.
        FUZZ_CHECK(!record.text.empty() && record.text[0] == 'c');
        for (char c : record.text)
            FUZZ_CHECK(c < 'A' || c > 'Z');
        const std::vector<std::string> lines = FormatDriveReferenceRecord(
            record.machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER", record.keyPath, record.valueName,
            record.text);
        FUZZ_CHECK(lines.size() == 3);
        for (const std::string& line : lines)
            written += line + "\r\n";
    }
    if (file.invalid)
        FUZZ_CHECK(file.keyLine.size() <= kMaxRecordLine && file.valueName.size() <= kMaxRecordLine &&
                   file.text.size() <= kMaxRecordLine);
    // A key line that grew past the line limit would come back as two lines.
    if (written.find('\n') == std::string::npos)
        return;
    std::size_t offset = 0;
    std::string line;
    while (ReadNextLine(written, offset, line))
        if (line.size() > kMaxRecordLine)
            return;
    std::size_t rereadLines = 0;
    const DriveReferenceFile reread = ReadRecords(written, rereadLines);
    FUZZ_CHECK(!reread.invalid && reread.records.size() == file.records.size());
    for (std::size_t i = 0; i < reread.records.size(); ++i)
        FUZZ_CHECK(IsSameRecord(reread.records[i], file.records[i]));
}

void CheckReplacement(const std::string& bytes)
{
    // The first line is the recorded text, the rest the registry data.
    const std::string::size_type split = bytes.find('\n');
    const std::string text = bytes.substr(0, split);
    const std::string data = split == std::string::npos ? std::string() : bytes.substr(split + 1);
    for (const char* root : {"f:\\", "c:\\", "z:"}) {
        std::string replaced = data;
        bool repaired = false;
        const char letter = ReplaceLateBindText(replaced, text, root, repaired);
        if (letter == 0)
            FUZZ_CHECK(replaced == data && !repaired);
        else
            FUZZ_CHECK(letter >= 'c' && letter <= 'i' && !text.empty());
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckRecords(bytes);
    CheckReplacement(bytes);
    return 0;
}
