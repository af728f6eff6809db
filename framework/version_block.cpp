#include "version_block.h"

#include <cstdint>

namespace {

const std::size_t kHeader = 6;       // total length, value length, type
const std::size_t kFixedInfo = 52;   // the fixed file information's size

unsigned ReadWord(const std::string& bytes, std::size_t at)
{
    return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8);
}

std::uint32_t ReadDoubleWord(const std::string& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(ReadWord(bytes, at)) | (static_cast<std::uint32_t>(ReadWord(bytes, at + 2)) << 16);
}

} // namespace

bool ReadFixedVersionFromBlock(const std::string& block, unsigned short parts[4])
{
    if (block.size() < kHeader)
        return false;
    // The block's own length bounds it; bytes beyond are not its own.
    const std::size_t length = ReadWord(block, 0);
    const std::size_t end = length < block.size() ? length : block.size();
    if (ReadWord(block, 2) < kFixedInfo)
        return false;
    std::size_t at = kHeader;
    while (at + 2 <= end && ReadWord(block, at) != 0)
        at += 2;
    if (at + 2 > end)
        return false;
    // The value starts on the next 32-bit boundary after the key's terminating null.
    at = (at + 2 + 3) & ~static_cast<std::size_t>(3);
    if (at + kFixedInfo > end)
        return false;
    const std::uint32_t high = ReadDoubleWord(block, at + 8);
    const std::uint32_t low = ReadDoubleWord(block, at + 12);
    parts[0] = static_cast<unsigned short>(high >> 16);
    parts[1] = static_cast<unsigned short>(high & 0xffff);
    parts[2] = static_cast<unsigned short>(low >> 16);
    parts[3] = static_cast<unsigned short>(low & 0xffff);
    return true;
}
