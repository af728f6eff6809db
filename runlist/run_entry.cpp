#include "run_entry.h"

#include "run_list_text.h"
#include "text.h"
#include "time_stamp_text.h"

#include <climits>
#include <vector>

namespace
{
const char* const kStartKeyword = "START ";
const char* const kStopKeyword = "STOP ";
const char* const kCleanKeyword = "CLEAN ";
const char* const kFieldSeparator = ", ";

enum FieldIndex
{
    kWrapperField = 1,
    kCommandField,
    kCleanDirectoryField,
    kTimeoutField,
    kRestartField,
    kStartField,
    kStopField,
    kCleanField
};
}

CRunEntry::CRunEntry(int lineNumber, const std::string& lineText)
    : m_lineNumber(lineNumber)
{
    ParseLine(lineText);
}

void CRunEntry::ParseLine(const std::string& lineText)
{
    // The result depends on the text alone, also when an entry is parsed again.
    m_wrapperName.clear();
    m_installCommand.clear();
    m_cleanDirectory.clear();
    m_timeout.clear();
    m_rebootFlag = 0;
    m_startTime.clear();
    m_stopTime.clear();
    m_cleanTime.clear();

    const std::vector<std::string> fields = SplitRunListFields(lineText);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& field = fields[i];
        switch (static_cast<int>(i) + kWrapperField) {
        case kWrapperField: m_wrapperName = field; break;
        case kCommandField: m_installCommand = field; break;
        case kCleanDirectoryField: m_cleanDirectory = field; break;
        case kTimeoutField: m_timeout = field; break;
        case kRestartField: m_rebootFlag = IsRebootField(field) ? 1 : 0; break;
        case kStartField: m_startTime = field; break;
        case kStopField: m_stopTime = field; break;
        case kCleanField: m_cleanTime = field; break;
        default: return;  // fields after the eighth are dropped
        }
    }
}

std::string CRunEntry::FormatLine() const
{
    std::string line = m_wrapperName + kFieldSeparator + m_installCommand + kFieldSeparator
        + m_cleanDirectory + kFieldSeparator + m_timeout + kFieldSeparator;
    if (m_rebootFlag)
        line += kRebootFieldText;

    // Empty stamps at the end are left out. An empty stamp before a set one keeps
    // its place, or the later stamp would be read back as the earlier one.
    const std::string* const stamps[] = {&m_startTime, &m_stopTime, &m_cleanTime};
    std::size_t stampCount = 3;
    while (stampCount > 0 && stamps[stampCount - 1]->empty())
        --stampCount;
    for (std::size_t i = 0; i < stampCount; ++i)
        line += kFieldSeparator + *stamps[i];
    return line;
}

void CRunEntry::SetStartTime(const LocalTimeValues& now)
{
    m_startTime = kStartKeyword + FormatTimeOfDay(now);
}

void CRunEntry::SetStopTime(const LocalTimeValues& now)
{
    m_stopTime = kStopKeyword + FormatTimeOfDay(now);
}

void CRunEntry::SetCleanTime(const LocalTimeValues& now)
{
    m_cleanTime = kCleanKeyword + FormatTimeOfDay(now);
}

int CRunEntry::GetTimeout() const
{
    return ReadDecimalInteger(m_timeout);
}
