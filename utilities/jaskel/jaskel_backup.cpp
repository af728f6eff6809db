// The portable part of Jaskel: the name of the backup.
#include "jaskel.h"

#include "text.h"

std::string GetJaskelBackupPath(const std::string& path)
{
    // The dot of the file's own name only: a dot in a folder's name is no extension.
    const std::string::size_type nameStart = path.find_last_of("\\:");
    const std::string::size_type dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart);
    const std::string backup = hasExtension ? path.substr(0, dot + 1) + "BAK" : path + ".BAK";
    // A file named *.BAK would be its own backup, deleted before the copy: its backup
    // takes the whole name and ".BAK" after it.
    return IsSameText(backup, path) ? path + ".BAK" : backup;
}
