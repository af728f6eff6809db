#include "development_marker_text.h"

#include "drive_variable.h"
#include "text.h"

namespace {
const char kMarkerStart[] = "rem Created On Server";
const char* const kMarkerSites[] = {" SV", " PROTO", " TEST"};
}

bool IsDevelopmentMarkerLine(const std::string& line)
{
    const std::string start = kMarkerStart;
    if (line.size() < start.size() || !IsSameText(line.substr(0, start.size()), start))
        return false;
    for (const char* site : kMarkerSites)
        if (FindNoCase(line, site) != std::string::npos)
            return true;
    return false;
}
