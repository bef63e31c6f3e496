#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// Text inside the program is UTF-8. Files it reads may be Windows-1252; the
// DICOM wire uses ISO 8859-1 (ISO_IR 100) unless a data set declares otherwise.

bool IsValidUtf8(std::string_view bytes);

std::string Cp1252ToUtf8(std::string_view bytes);
// Characters without a Windows-1252 form become '?'.
std::string Utf8ToCp1252(std::string_view utf8);

std::string Latin1ToUtf8(std::string_view bytes);
// Characters without a Latin-1 form become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

// Reads file bytes as UTF-8 when they are valid UTF-8, else as Windows-1252.
// `wasUtf8` tells which, so a writer can keep the input's encoding.
std::string DecodeFileText(std::string_view bytes, bool* wasUtf8 = nullptr);

// Whether bytes open with a UTF-16 byte-order mark, and in which order: true
// for FE FF (big-endian), false for FF FE, nothing without a mark.
std::optional<bool> Utf16BigEndian(std::string_view bytes);

// UTF-16 text (the bytes after its 2-byte mark) as UTF-8, or why it is not
// UTF-16: "an odd number of bytes", "an unpaired surrogate at byte N", byte
// positions counting from the mark's first byte.
struct Utf16Text {
    std::string utf8;
    std::string malformed;  // empty when the text is well formed
};
Utf16Text DecodeUtf16(std::string_view bytes, bool bigEndian);

}  // namespace lumo
