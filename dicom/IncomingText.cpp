#include "dicom/IncomingText.h"

#include <dcmtk/dcmdata/dcspchrs.h>

#include <algorithm>

#include "support/TextEncoding.h"

namespace lumo::dicom::detail {

namespace {

constexpr VrCode kPN = MakeVr("PN");
constexpr VrCode kST = MakeVr("ST");
constexpr VrCode kLT = MakeVr("LT");
constexpr VrCode kUT = MakeVr("UT");

// Where ISO 2022 code extensions return to the default set.
OFString Delimiters(VrCode vr) {
    if (vr == kPN) return "\\^=";
    if (vr == kST || vr == kLT || vr == kUT) return "\r\n\t\f";
    return "\\";
}

}  // namespace

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string TrimmedCharset(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

IncomingText::IncomingText(const std::string& declared) {
    if (declared.empty() || declared == kLatin1Charset || declared == "ISO_IR 6" ||
        declared == "ISO 2022 IR 6") {
        mode_ = Mode::Latin1;
    } else if (declared == kUtf8Charset) {
        mode_ = Mode::Utf8;
    } else {
        converter_ = std::make_shared<DcmSpecificCharacterSet>();
        if (converter_->selectCharacterSet(declared.c_str(), kUtf8Charset).good()) {
            mode_ = Mode::Converter;
        } else {
            // An unknown set: nodes that get it wrong mostly mean Latin-1.
            converter_.reset();
            mode_ = Mode::Latin1;
        }
    }
}

std::optional<std::string_view> IncomingText::RewrittenCharset() const {
    if (mode_ == Mode::Converter) return kUtf8Charset;
    return std::nullopt;
}

std::string IncomingText::Decode(VrCode vr, const char* bytes, std::size_t length) const {
    const std::string_view text(bytes, length);
    if (IsAscii(text)) return std::string(text);
    if (mode_ == Mode::Utf8 && IsValidUtf8(text)) return std::string(text);
    if (mode_ == Mode::Converter) {
        OFString converted;
        if (converter_->convertString(bytes, length, converted, Delimiters(vr)).good()) {
            return std::string(converted.c_str(), converted.size());
        }
    }
    // Latin-1 by declaration or by habit; also the fallback for bytes that
    // are not what the data set declares, so no text is lost.
    return Latin1ToUtf8(text);
}

}  // namespace lumo::dicom::detail
