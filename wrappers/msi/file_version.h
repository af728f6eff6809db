// A file's four-part version, as the Windows Installer library carries it in its
// version resource, and the comparisons the property tables ask for.
#pragma once

#include <cstdint>
#include <string>

class CFileVersion
{
public:
    // All zero, no path, not valid: nothing read yet.
    CFileVersion();
    // A required version, as a table row gives it; valid.
    CFileVersion(std::uint32_t majorVersion, std::uint32_t minorVersion, std::uint32_t buildNumber,
                 std::uint32_t revisionNumber);

    // Reads the file's fixed version information (Windows builds only); FALSE, and not
    // valid, when the file has none or it cannot be read.
    bool GetFileVersion(const std::string& filePath);

    // Component by component, as unsigned numbers; IsBelow is the exact negation.
    bool IsAtLeast(const CFileVersion& required) const;
    bool IsBelow(const CFileVersion& required) const;

    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t revisionNumber;
    std::string path;
    int valid;
};
