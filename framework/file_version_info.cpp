#include "file_version_info.h"

#include "pe_resource.h"
#include "version_block.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

enum class FileLook { NoProgram, Found, AskTheSystem };

bool ReadRange(HANDLE file, std::uint32_t offset, std::size_t size, std::string& bytes)
{
    bytes.clear();
    LONG high = 0;
    if (SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    if (size == 0)
        return true;
    bytes.resize(size);
    DWORD got = 0;
    const BOOL read = ReadFile(file, &bytes[0], static_cast<DWORD>(size), &got, nullptr);
    bytes.resize(read ? got : 0);
    return read != FALSE;
}

// Only a program file (its header begins "MZ") can carry a version resource: asking the
// system about any other file costs it several opens and mappings, and two bytes tell. A
// program's version block is mostly found in the file as it is read here; else the
// system's own reading decides.
FileLook LookForVersionBlock(const std::string& path, std::string& block)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FileLook::AskTheSystem;
    std::string header;
    FileLook look = FileLook::AskTheSystem;
    if (ReadRange(file, 0, 2, header)) {
        if (header != "MZ")
            look = FileLook::NoProgram;
        else if (FindVersionResource([file](std::uint32_t offset, std::size_t size, std::string& bytes) {
                     return ReadRange(file, offset, size, bytes);
                 }, block))
            look = FileLook::Found;
    }
    CloseHandle(file);
    return look;
}

// A program file's version resource, read in one load of the file (the system's own
// reading loads it twice: once for the size, once for the block). loaded: whether the
// file could be loaded as a 32-bit program at all.
bool ReadVersionResource(const std::string& path, unsigned short parts[4], bool& loaded)
{
    loaded = false;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return false;
    loaded = true;
    bool read = false;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
    HGLOBAL handle = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = handle ? LockResource(handle) : nullptr;
    if (bytes)
        read = ReadFixedVersionFromBlock(std::string(static_cast<const char*>(bytes), SizeofResource(module, resource)),
                                         parts);
    FreeLibrary(module);
    return read;
}

} // namespace

bool ReadFixedFileVersion(const std::string& path, unsigned short parts[4])
{
    std::string block;
    const FileLook look = LookForVersionBlock(path, block);
    if (look == FileLook::NoProgram)
        return false;
    if (look == FileLook::Found)
        return ReadFixedVersionFromBlock(block, parts);
    bool loaded = false;
    const bool read = ReadVersionResource(path, parts, loaded);
    if (loaded)
        return read;
    // Not a 32-bit program (a 16-bit one, say): the system reads what it can.
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<char> information(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, information.data()))
        return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // No fixed block, or one cut short, is no version.
    if (!VerQueryValueA(information.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    parts[0] = HIWORD(fixed->dwFileVersionMS);
    parts[1] = LOWORD(fixed->dwFileVersionMS);
    parts[2] = HIWORD(fixed->dwFileVersionLS);
    parts[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
}
