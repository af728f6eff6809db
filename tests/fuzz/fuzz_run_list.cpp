// A whole run list's bytes, read line by line as the engine reads them: no character is
// lost, lines keep to the limit and read back the same once written, and rewriting the
// list the way the engine does keeps every line number and every entry. The check's
// reading, which the report shows, finds the same entries at the same line numbers.
#include "fuzz_check.h"
#include "line_file_text.h"
#include "run_entry.h"
#include "run_list_json.h"
#include "run_list_reading.h"
#include "run_list_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{
std::vector<std::string> ReadAllLines(const std::string& bytes, std::size_t maxLength)
{
    std::vector<std::string> lines;
    std::size_t offset = 0;
    std::string line;
    while (ReadNextLine(bytes, offset, line, maxLength)) {
        FUZZ_CHECK(line.size() <= maxLength);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        FUZZ_CHECK(offset <= bytes.size());
        lines.push_back(line);
    }
    FUZZ_CHECK(offset == bytes.size());
    return lines;
}

std::string WriteAllLines(const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const std::string& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

// Every character is either in a line or part of a line end.
void CheckNothingIsLost(const std::string& bytes, const std::vector<std::string>& lines)
{
    std::size_t contentSize = 0;
    for (const std::string& line : lines)
        contentSize += line.size();
    std::size_t lineEndSize = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n')
            lineEndSize += (i > 0 && bytes[i - 1] == '\r') ? 2 : 1;
    FUZZ_CHECK(contentSize + lineEndSize == bytes.size());
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // A small limit reaches the cut-off rules with short inputs.
    if (size > 0) {
        const std::size_t smallLimit = 1 + data[0] % 16;
        const std::vector<std::string> pieces = ReadAllLines(bytes, smallLimit);
        CheckNothingIsLost(bytes, pieces);
        FUZZ_CHECK(ReadAllLines(WriteAllLines(pieces), smallLimit) == pieces);
    }

    std::vector<std::string> lines = ReadAllLines(bytes, kMaxLineLength);
    const std::vector<RunListReading> reading = ReadRunListAsEngine(bytes);
    std::size_t read = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (GetRunListLineKind(lines[i]) != RunListLineKind::Entry)
            continue;
        FUZZ_CHECK(read < reading.size() && reading[read].entry.GetLineNumber() == static_cast<int>(i + 1));
        FUZZ_CHECK(reading[read].line == TrimWhiteSpace(lines[i]));
        FUZZ_CHECK(read == 0 || reading[read].fileLineNumber >= reading[read - 1].fileLineNumber);
        // JSON text holds no raw control character, whatever the bytes.
        for (const char c : MakeJsonText(reading[read].line))
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        ++read;
    }
    FUZZ_CHECK(read == reading.size());
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (GetRunListLineKind(lines[i]) != RunListLineKind::Entry)
            continue;
        CRunEntry entry(static_cast<int>(i + 1), TrimWhiteSpace(lines[i]));
        entry.SetStartTime(LocalTimeValues());
        const std::string written = entry.FormatLine();
        // A line past the limit is not written back, or it would come back as two.
        if (IsWithinLineLimit(written))
            lines[i] = written;
        entries.push_back(lines[i]);
    }

    const std::vector<std::string> rewritten = ReadAllLines(WriteAllLines(lines), kMaxLineLength);
    FUZZ_CHECK(rewritten == lines);
    std::size_t entryIndex = 0;
    for (const std::string& line : rewritten)
        if (GetRunListLineKind(line) == RunListLineKind::Entry)
            FUZZ_CHECK(entryIndex < entries.size() && line == entries[entryIndex++]);
    FUZZ_CHECK(entryIndex == entries.size());
    return 0;
}
