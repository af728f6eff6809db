// A program's diagnostic log: every line is appended in one write and the file closed
// again, so that the log survives a crash or a restart at any moment. Log() writes only
// while the log's switch is on, so call sites with a fixed text need not test it.
#pragma once

#include <windows.h>

#include <string>

class CLogFile
{
public:
    // formatLine builds the whole line as written (time stamp, text, line end).
    typedef std::string (*FormatLineProc)(const std::string& text);
    CLogFile(const std::string& path, FormatLineProc formatLine);

    BOOL IsEnabled() const { return m_enabled; }
    void SetEnabled(BOOL enabled) { m_enabled = enabled; }

    // Writes the line whatever the switch says; a line that cannot be written is dropped.
    void Write(const std::string& text) const;
    void Log(const char* text) const
    {
        if (m_enabled)
            Write(text);
    }

private:
    std::string m_path;
    FormatLineProc m_formatLine;
    BOOL m_enabled;
};
