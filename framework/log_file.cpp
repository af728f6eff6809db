#include "log_file.h"

#include "shared_file.h"

CLogFile::CLogFile(const std::string& path, FormatLineProc formatLine)
    : m_path(path), m_formatLine(formatLine), m_enabled(FALSE)
{
}

void CLogFile::Write(const std::string& text) const
{
    AppendToSharedFile(m_path, m_formatLine ? m_formatLine(text) : text);
}
