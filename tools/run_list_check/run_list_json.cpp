#include "run_list_json.h"

#include "run_list_reading.h"
#include "windows_name.h"

namespace
{

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
        } else {
            out += ConvertWindowsTextToUtf8(std::string(1, c));
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
