#include "windows_name.h"

#include <cstddef>
#include <cstdint>

namespace
{

// The characters of bytes 0x80 to 0x9F. The five bytes the code page leaves undefined
// stand for the control characters of their own number, as Windows converts them.
const std::uint16_t kHighCharacters[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D,
    0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t CharacterOf(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kHighCharacters[byte - 0x80] : byte;
}

bool ByteOf(std::uint32_t character, unsigned char& byte)
{
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
        byte = static_cast<unsigned char>(character);
        return true;
    }
    for (std::size_t i = 0; i < 32; ++i)
        if (kHighCharacters[i] == character) {
            byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    return false;
}

// The next character of UTF-8 text at position, which moves past it; false for bytes
// that are not UTF-8 (overlong forms and surrogates included).
bool ReadUtf8(const std::string& text, std::size_t& position, std::uint32_t& character)
{
    const unsigned char lead = static_cast<unsigned char>(text[position]);
    std::size_t length = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
        character = lead;
        ++position;
        return true;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        least = 0x80;
        character = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        least = 0x800;
        character = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        least = 0x10000;
        character = lead & 0x07u;
    } else {
        return false;
    }
    if (text.size() - position < length)
        return false;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[position + i]);
        if ((next & 0xC0) != 0x80)
            return false;
        character = (character << 6) | (next & 0x3F);
    }
    if (character < least || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
        return false;
    position += length;
    return true;
}

void AppendUtf8(std::string& text, std::uint32_t character)
{
    if (character < 0x80) {
        text += static_cast<char>(character);
    } else if (character < 0x800) {
        text += static_cast<char>(0xC0 | (character >> 6));
        text += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (character >> 12));
        text += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    }
}

} // namespace

bool ConvertUtf8ToWindowsText(const std::string& utf8, std::string& windowsText)
{
    std::string converted;
    for (std::size_t position = 0; position < utf8.size();) {
        std::uint32_t character = 0;
        unsigned char byte = 0;
        if (!ReadUtf8(utf8, position, character) || !ByteOf(character, byte))
            return false;
        converted += static_cast<char>(byte);
    }
    windowsText.swap(converted);
    return true;
}

std::string ConvertWindowsTextToUtf8(const std::string& windowsText)
{
    std::string utf8;
    for (char c : windowsText)
        AppendUtf8(utf8, CharacterOf(static_cast<unsigned char>(c)));
    return utf8;
}

std::string MakeUpperWindowsText(const std::string& windowsText)
{
    std::string upper(windowsText);
    for (char& c : upper) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7))
            c = static_cast<char>(byte - 0x20);
        else if (byte == 0x9A || byte == 0x9C || byte == 0x9E)  // š œ ž
            c = static_cast<char>(byte - 0x10);
        else if (byte == 0xFF)  // ÿ
            c = static_cast<char>(0x9F);
    }
    return upper;
}

bool IsSameWindowsName(const std::string& listName, const std::string& linuxName)
{
    std::string windowsName;
    return ConvertUtf8ToWindowsText(linuxName, windowsName)
        && MakeUpperWindowsText(windowsName) == MakeUpperWindowsText(listName);
}
