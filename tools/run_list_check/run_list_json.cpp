#include "run_list_json.h"

#include "run_list_reading.h"

namespace
{

// Code page 1252's bytes 0x80 to 0x9F; the five it leaves undefined map to the control
// characters of the same value, as Windows maps them.
const unsigned short kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Field(const char* name, const std::string& windowsText)
{
    return std::string("\"") + name + "\": " + MakeJsonText(windowsText);
}

std::string Field(const char* name, long number)
{
    return std::string("\"") + name + "\": " + std::to_string(number);
}

std::string Flag(const char* name, bool value)
{
    return std::string("\"") + name + "\": " + (value ? "true" : "false");
}

std::string FormatEntry(const RunListReading& reading)
{
    const CRunEntry& entry = reading.entry;
    return "{" + Field("number", reading.number) + ", " + Field("line_number", reading.fileLineNumber) + ", " +
           Field("engine_line_number", entry.GetLineNumber()) + ", " + Flag("cut", reading.cut) + ", " +
           Field("line", reading.line) + ", " + Field("formatted", entry.FormatLine()) + ", " +
           Field("wrapper", entry.GetWrapperName()) + ", " + Field("command", entry.GetInstallCommand()) + ", " +
           Field("cleanup", entry.GetCleanDirectory()) + ", " + Field("timeout", entry.GetTimeoutText()) + ", " +
           Field("timeout_seconds", entry.GetTimeout()) + ", " + Flag("reboot", entry.IsRebootRequested() != 0) +
           ", \"stamps\": {" + Field("START", entry.GetStartTime()) + ", " + Field("STOP", entry.GetStopTime()) +
           ", " + Field("CLEAN", entry.GetCleanTime()) + "}}";
}

} // namespace

std::string MakeJsonText(const std::string& windowsText)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : windowsText) {
        const unsigned byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else if (byte >= 0x80 && byte < 0xA0) {
            AppendUtf8(out, kHighControls[byte - 0x80]);
        } else {
            AppendUtf8(out, byte);
        }
    }
    return out + "\"";
}

std::string FormatRunListJson(const std::string& bytes, const std::vector<RunListFinding>& findings)
{
    std::string out = "{\"entries\": [";
    const char* separator = "\n ";
    for (const RunListReading& reading : ReadRunListAsEngine(bytes)) {
        out += separator + FormatEntry(reading);
        separator = ",\n ";
    }
    out += "],\n\"findings\": [";
    separator = "\n ";
    long errors = 0;
    for (const RunListFinding& finding : findings) {
        const bool error = finding.level == FindingLevel::Error;
        errors += error ? 1 : 0;
        out += std::string(separator) + "{" + Field("line_number", finding.lineNumber) + ", \"level\": \"" +
               (error ? "error" : "warning") + "\", " + Field("text", finding.text) + "}";
        separator = ",\n ";
    }
    return out + "],\n" + Field("errors", errors) + ", " +
           Field("warnings", static_cast<long>(findings.size()) - errors) + "}\n";
}
