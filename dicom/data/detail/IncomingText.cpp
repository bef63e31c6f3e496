#include "dicom/data/detail/IncomingText.h"

#include <algorithm>

#include "dicom/data/detail/CharsetDecoder.h"
#include "support/TextEncoding.h"

namespace lumo::dicom::detail {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string TrimmedCharset(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

IncomingText::Mode IncomingText::ModeOf(std::string_view declared) {
    if (declared.empty()) return Mode::Undeclared;
    if (declared == kLatin1Charset || declared == "ISO_IR 6" || declared == "ISO 2022 IR 6")
        return Mode::Latin1;
    return declared == kUtf8Charset ? Mode::Utf8 : Mode::Converter;
}

IncomingText::IncomingText(const std::string& declared)
    : mode_(ModeOf(declared)), declared_(declared) {
    if (mode_ == Mode::Latin1 || mode_ == Mode::Undeclared) return;
    decoder_ = CharsetDecoder::For(declared);
    // A set nobody knows: its ASCII reads as ASCII, anything else is marked.
    if (!decoder_) decoder_ = CharsetDecoder::For("ISO 2022 IR 6");
}

std::optional<std::string_view> IncomingText::RewrittenCharset() const {
    if (mode_ == Mode::Converter) return kUtf8Charset;
    return std::nullopt;
}

// The same cases as Decode's, in the same order.
bool IncomingText::MayFail(std::string_view text) const {
    if (IsAscii(text) && (mode_ != Mode::Converter || text.find('\x1B') == text.npos)) return false;
    if (mode_ == Mode::Latin1 || mode_ == Mode::Undeclared) return false;
    return !(mode_ == Mode::Utf8 && IsValidUtf8(text));
}

std::uint8_t IncomingText::ReadingOf(std::string_view text) const {
    if (mode_ != Mode::Undeclared || IsAscii(text)) return kReadAsDeclared;
    return IsValidUtf8(text) ? kReadAsUtf8 : kReadAsLatin1;
}

std::optional<std::string_view> IncomingText::DecodeWithoutDecoder(std::string_view declared,
                                                                   std::string_view text,
                                                                   std::string& scratch) {
    const Mode mode = ModeOf(TrimmedCharset(declared));
    if (IsAscii(text) && (mode != Mode::Converter || text.find('\x1B') == text.npos)) return text;
    if (mode == Mode::Latin1 || (mode == Mode::Undeclared && !IsValidUtf8(text))) {
        scratch = mode == Mode::Latin1 ? Latin1ToUtf8(text) : Cp1252ToUtf8(text);
        return std::string_view(scratch);
    }
    if (mode == Mode::Undeclared || (mode == Mode::Utf8 && IsValidUtf8(text))) return text;
    return std::nullopt;
}

std::string IncomingText::Decode(VrCode vr, const char* bytes, std::size_t length,
                                 bool* undecodable, std::uint8_t* undeclared) const {
    const std::string_view text(bytes, length);
    // ISO 2022 escapes switch to other sets with 7-bit bytes only.
    if (IsAscii(text) && (mode_ != Mode::Converter || text.find('\x1B') == text.npos))
        return std::string(text);
    // Latin-1 by declaration: every byte is a character.
    if (mode_ == Mode::Latin1) return Latin1ToUtf8(text);
    if (mode_ == Mode::Undeclared) {
        bool utf8 = true;
        std::string decoded = DecodeFileText(text, &utf8);
        if (undeclared) *undeclared |= utf8 ? kReadAsUtf8 : kReadAsLatin1;
        return decoded;
    }
    if (mode_ == Mode::Utf8 && IsValidUtf8(text)) return std::string(text);
    std::string decoded;
    decoded.reserve(length * 2);
    if (!decoder_->Decode(vr, text, decoded) && undecodable) *undecodable = true;
    return decoded;
}

}  // namespace lumo::dicom::detail
