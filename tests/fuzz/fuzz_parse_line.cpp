// One run-list line, as ParseLine reads it and FormatLine writes it back: the written form
// reads back as the same entry and writing it again changes nothing; the time-out reads
// as the C library reads it, held within int; stamps of any time stay one field each;
// and the wrapper name gives a library name that ends in "DLL" and keeps the name.
#include "fuzz_check.h"
#include "run_entry.h"
#include "text.h"
#include "wrapper_library_name.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{
bool IsSameEntry(const CRunEntry& a, const CRunEntry& b)
{
    return a.GetWrapperName() == b.GetWrapperName() && a.GetInstallCommand() == b.GetInstallCommand()
        && a.GetCleanDirectory() == b.GetCleanDirectory() && a.GetTimeout() == b.GetTimeout()
        && a.IsRebootRequested() == b.IsRebootRequested() && a.GetStartTime() == b.GetStartTime()
        && a.GetStopTime() == b.GetStopTime() && a.GetCleanTime() == b.GetCleanTime();
}

// The time-out as the C library reads it, clamped to int.
int GetReferenceTimeout(const std::string& lineText)
{
    const CRunEntry entry(1, lineText);
    const std::string line = entry.FormatLine();
    // The fourth field sits after the third ", " of the written form.
    std::string::size_type start = 0;
    for (int i = 0; i < 3; ++i)
        start = line.find(", ", start) + 2;
    const std::string field = line.substr(start, line.find(", ", start) - start);
    const long long value = std::strtoll(field.c_str(), nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

void CheckLibraryName(const std::string& name)
{
    const std::string library = ApplyLibrarySuffixRule(name);
    FUZZ_CHECK(library.size() >= 3 && IsSameText(library.substr(library.size() - 3), "DLL"));
    FUZZ_CHECK(library.compare(0, name.size(), name) == 0 && library.size() <= name.size() + 3);
    FUZZ_CHECK(ApplyLibrarySuffixRule(library) == library);
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CRunEntry entry(1, text);
    const std::string written = entry.FormatLine();

    const CRunEntry readBack(1, written);
    FUZZ_CHECK(IsSameEntry(entry, readBack));
    FUZZ_CHECK(readBack.FormatLine() == written);
    // Separators are the only thing a rewrite adds.
    FUZZ_CHECK(written.size() <= text.size() + 14);

    // strtoll stops at a NUL, which the entry reads past as any other character.
    if (text.find('\0') == std::string::npos)
        FUZZ_CHECK(entry.GetTimeout() == GetReferenceTimeout(text));

    CheckLibraryName(entry.GetWrapperName());

    LocalTimeValues now;
    if (size >= 3) {
        // Out-of-range values too: the text must stay one field whatever they are.
        now.hour = static_cast<signed char>(data[0]);
        now.minute = data[1];
        now.second = data[2] == 0xFF ? INT_MIN : data[2];
    }
    entry.SetStartTime(now);
    entry.SetStopTime(now);
    entry.SetCleanTime(now);
    const CRunEntry stamped(1, entry.FormatLine());
    FUZZ_CHECK(IsSameEntry(entry, stamped));
    return 0;
}
