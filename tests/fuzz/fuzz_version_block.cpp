// A program file's version block of any bytes: the reading stays inside the bytes and
// inside the block's own length, and bytes after the block change nothing. The same bytes
// as a whole program file: the version resource found is bytes of the file.
#include "fuzz_check.h"
#include "pe_resource.h"
#include "version_block.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string block(reinterpret_cast<const char*>(data), size);
    unsigned short parts[4] = {0, 0, 0, 0};
    const bool read = ReadFixedVersionFromBlock(block, parts);
    FUZZ_CHECK(!read || size >= 6 + 2 + 52);
    if (size >= 2) {
        const std::size_t length = static_cast<unsigned char>(block[0]) | (static_cast<unsigned char>(block[1]) << 8);
        if (length <= size) {
            unsigned short again[4] = {0, 0, 0, 0};
            FUZZ_CHECK(ReadFixedVersionFromBlock(block + std::string(64, '\x01'), again) == read);
            FUZZ_CHECK(!read || (again[0] == parts[0] && again[1] == parts[1] && again[2] == parts[2] &&
                                 again[3] == parts[3]));
        }
    }
    std::string resource;
    const auto readFile = [&](std::uint32_t offset, std::size_t length, std::string& bytes) {
        bytes = offset < block.size() ? block.substr(offset, length) : std::string();
        return true;
    };
    if (FindVersionResource(readFile, resource))
        FUZZ_CHECK(!resource.empty() && resource.size() <= 0x10000 && block.find(resource) != std::string::npos);
    return 0;
}
