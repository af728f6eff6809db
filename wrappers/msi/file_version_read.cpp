// Reading a file's version resource: the Win32 half of CFileVersion.
#include "file_version.h"

#include "file_version_info.h"

bool CFileVersion::GetFileVersion(const std::string& filePath)
{
    path = filePath;
    unsigned short parts[4] = {0, 0, 0, 0};
    valid = ReadFixedFileVersion(filePath, parts) ? 1 : 0;
    if (valid) {
        majorVersion = parts[0];
        minorVersion = parts[1];
        buildNumber = parts[2];
        revisionNumber = parts[3];
    }
    return valid != 0;
}
