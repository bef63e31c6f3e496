#include "support/TextEncoding.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumo {

namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the C1 control of the same number, as the platform's
// converter does, so that they survive a round trip.
constexpr std::array<char32_t, 32> Cp1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr char32_t Invalid = 0xFFFFFFFF;

// Decodes one code point at `pos` and advances past it; a malformed
// sequence (overlong, surrogate, beyond U+10FFFF, cut short) yields Invalid
// and advances by one byte.
char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++pos;
        return Invalid;
    }
    if (s.size() - pos < len) {
        ++pos;
        return Invalid;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return Invalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return Invalid;
    }
    pos += len;
    return cp;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size())
        if (NextCodePoint(bytes, pos) == Invalid) return false;
    return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F)
            AppendUtf8(out, Cp1252High[b - 0x80]);
        else
            AppendUtf8(out, b);
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextCodePoint(utf8, pos);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (std::size_t k = 0; k < Cp1252High.size(); ++k) {
            if (Cp1252High[k] == cp) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextCodePoint(utf8, pos);
        out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    }
    return out;
}

std::string DecodeFileText(std::string_view bytes, bool* wasUtf8) {
    const bool utf8 = IsValidUtf8(bytes);
    if (wasUtf8 != nullptr) *wasUtf8 = utf8;
    return utf8 ? std::string(bytes) : Cp1252ToUtf8(bytes);
}

std::optional<bool> Utf16BigEndian(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) return false;
    if (bytes.starts_with("\xFE\xFF")) return true;
    return std::nullopt;
}

Utf16Text DecodeUtf16(std::string_view bytes, bool bigEndian) {
    Utf16Text result;
    if (bytes.size() % 2 != 0) {
        result.malformed = "an odd number of bytes";
        return result;
    }
    const auto unitAt = [&](std::size_t at) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        return bigEndian ? (first << 8) | second : (second << 8) | first;
    };
    // The mark before the bytes counts in the position.
    const auto unpaired = [&](std::size_t at) {
        result.malformed = "an unpaired surrogate at byte " + std::to_string(at + 2);
        return result;
    };
    result.utf8.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        const char32_t unit = unitAt(at);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return unpaired(at);
        if (unit < 0xD800 || unit > 0xDBFF) {
            AppendUtf8(result.utf8, unit);
            continue;
        }
        if (at + 2 >= bytes.size()) return unpaired(at);
        const char32_t low = unitAt(at + 2);
        if (low < 0xDC00 || low > 0xDFFF) return unpaired(at);
        AppendUtf8(result.utf8, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        at += 2;
    }
    return result;
}

}  // namespace lumo
