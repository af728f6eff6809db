#include "pe_resource.h"

#include <vector>

namespace {

const std::size_t kMaxBlock = 0x10000;
const std::uint32_t kVersionType = 16;
const std::uint32_t kVersionId = 1;
const std::uint32_t kSubdirectory = 0x80000000u;
// Past these counts a file is no plain program: the system decides.
const unsigned kMaxSections = 96;
const unsigned kMaxEntries = 4096;

std::uint32_t ReadWord(const std::string& bytes, std::size_t at)
{
    return static_cast<unsigned char>(bytes[at]) | (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8);
}

std::uint32_t ReadDoubleWord(const std::string& bytes, std::size_t at)
{
    return ReadWord(bytes, at) | (ReadWord(bytes, at + 2) << 16);
}

bool ReadExactly(const FileRangeReader& read, std::uint64_t offset, std::size_t size, std::string& bytes)
{
    return offset <= 0xffffffffu && read(static_cast<std::uint32_t>(offset), size, bytes) && bytes.size() == size;
}

struct Section
{
    std::uint32_t address;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

class CImage
{
public:
    explicit CImage(const FileRangeReader& read) : m_read(read) {}

    bool ReadSections();
    std::uint32_t GetResourceAddress() const { return m_resourceAddress; }
    // The size bytes at the relative virtual address, where exactly one section holds
    // them all among its bytes on the disk.
    bool ReadAt(std::uint64_t address, std::size_t size, std::string& bytes) const;

private:
    const FileRangeReader& m_read;
    std::vector<Section> m_sections;
    std::uint32_t m_resourceAddress = 0;
};

bool CImage::ReadSections()
{
    std::string bytes;
    if (!ReadExactly(m_read, 0, 64, bytes) || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    const std::uint64_t header = ReadDoubleWord(bytes, 0x3c);
    if (!ReadExactly(m_read, header, 24, bytes) || bytes.compare(0, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    const unsigned sectionCount = ReadWord(bytes, 6);
    const std::size_t optionalSize = ReadWord(bytes, 20);
    if (sectionCount == 0 || sectionCount > kMaxSections || !ReadExactly(m_read, header + 24, optionalSize, bytes) ||
        optionalSize < 2)
        return false;
    // The data directories follow the optional header's fields, which are longer in a
    // 64-bit program; the resources are the third.
    const std::uint32_t magic = ReadWord(bytes, 0);
    const std::size_t countAt = magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0;
    if (countAt == 0 || optionalSize < countAt + 4 + 3 * 8 || ReadDoubleWord(bytes, countAt) < 3)
        return false;
    m_resourceAddress = ReadDoubleWord(bytes, countAt + 4 + 2 * 8);
    if (m_resourceAddress == 0)
        return false;
    if (!ReadExactly(m_read, header + 24 + optionalSize, sectionCount * 40, bytes))
        return false;
    for (unsigned i = 0; i < sectionCount; ++i) {
        const std::size_t at = i * 40;
        m_sections.push_back({ReadDoubleWord(bytes, at + 12), ReadDoubleWord(bytes, at + 8),
                              ReadDoubleWord(bytes, at + 16), ReadDoubleWord(bytes, at + 20)});
    }
    return true;
}

bool CImage::ReadAt(std::uint64_t address, std::size_t size, std::string& bytes) const
{
    const Section* holder = nullptr;
    for (const Section& section : m_sections) {
        const std::uint64_t extent = section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
        if (address >= section.address && address < section.address + extent) {
            if (holder)
                return false;
            holder = &section;
        }
    }
    if (!holder)
        return false;
    const std::uint64_t into = address - holder->address;
    const std::uint64_t onDisk = holder->virtualSize != 0 && holder->virtualSize < holder->rawSize ? holder->virtualSize
                                                                                                   : holder->rawSize;
    return into + size <= onDisk && ReadExactly(m_read, holder->rawOffset + into, size, bytes);
}

// The offset (below the resources' start) an entry of the directory at offset gives for
// id; false unless the directory's ids rise and exactly one entry of the kind wanted
// carries it.
bool FindEntry(const CImage& image, std::uint32_t directory, std::uint32_t id, bool subdirectory, std::uint32_t& offset)
{
    std::string bytes;
    if (!image.ReadAt(static_cast<std::uint64_t>(image.GetResourceAddress()) + directory, 16, bytes))
        return false;
    const unsigned named = ReadWord(bytes, 12);
    const unsigned ids = ReadWord(bytes, 14);
    if (named + ids > kMaxEntries ||
        !image.ReadAt(static_cast<std::uint64_t>(image.GetResourceAddress()) + directory + 16, (named + ids) * 8, bytes))
        return false;
    bool found = false;
    for (unsigned i = named; i < named + ids; ++i) {
        const std::uint32_t name = ReadDoubleWord(bytes, i * 8);
        if (i > named && name <= ReadDoubleWord(bytes, (i - 1) * 8))
            return false;
        if (name == id) {
            found = true;
            offset = ReadDoubleWord(bytes, i * 8 + 4);
        }
    }
    if (!found || ((offset & kSubdirectory) != 0) != subdirectory)
        return false;
    offset &= ~kSubdirectory;
    return true;
}

} // namespace

bool FindVersionResource(const FileRangeReader& read, std::string& block)
{
    CImage image(read);
    std::uint32_t type = 0;
    std::uint32_t name = 0;
    if (!image.ReadSections() || !FindEntry(image, 0, kVersionType, true, type) ||
        !FindEntry(image, type, kVersionId, true, name))
        return false;
    // One language only: among several the system picks by the user's settings.
    std::string bytes;
    if (!image.ReadAt(static_cast<std::uint64_t>(image.GetResourceAddress()) + name, 24, bytes) ||
        ReadWord(bytes, 12) != 0 || ReadWord(bytes, 14) != 1 || (ReadDoubleWord(bytes, 20) & kSubdirectory) != 0)
        return false;
    if (!image.ReadAt(static_cast<std::uint64_t>(image.GetResourceAddress()) + ReadDoubleWord(bytes, 20), 16, bytes))
        return false;
    const std::uint32_t address = ReadDoubleWord(bytes, 0);
    const std::size_t size = ReadDoubleWord(bytes, 4);
    return size != 0 && image.ReadAt(address, size < kMaxBlock ? size : kMaxBlock, block);
}
