// The portable part of Jaskel: the name of the backup.
#include "jaskel.h"

std::string GetJaskelBackupPath(const std::string& path)
{
    const std::string::size_type dot = path.rfind('.');
    return dot == std::string::npos ? path + ".BAK" : path.substr(0, dot + 1) + "BAK";
}
