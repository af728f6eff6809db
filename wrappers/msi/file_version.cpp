#include "file_version.h"

CFileVersion::CFileVersion() : majorVersion(0), minorVersion(0), buildNumber(0), revisionNumber(0), valid(0)
{
}

CFileVersion::CFileVersion(std::uint32_t majorPart, std::uint32_t minorPart, std::uint32_t buildPart,
                           std::uint32_t revisionPart)
    : majorVersion(majorPart), minorVersion(minorPart), buildNumber(buildPart), revisionNumber(revisionPart),
      valid(1)
{
}

bool CFileVersion::IsAtLeast(const CFileVersion& required) const
{
    const std::uint32_t mine[] = {majorVersion, minorVersion, buildNumber, revisionNumber};
    const std::uint32_t theirs[] = {required.majorVersion, required.minorVersion, required.buildNumber,
                                    required.revisionNumber};
    for (int i = 0; i < 4; ++i)
        if (mine[i] != theirs[i])
            return mine[i] > theirs[i];
    return true;
}

bool CFileVersion::IsBelow(const CFileVersion& required) const
{
    return !IsAtLeast(required);
}
