#include "dicom/data/detail/CharsetDecoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace lumo::dicom::detail {

namespace {

constexpr char kEscape = '\x1B';
constexpr VrCode kPN = MakeVr("PN");
constexpr VrCode kST = MakeVr("ST");
constexpr VrCode kLT = MakeVr("LT");
constexpr VrCode kUT = MakeVr("UT");

// The codec glibc knows each set by, and how its bytes reach the codec.
struct SetCodec {
    GraphicSet set;
    const char* codec;
};
constexpr SetCodec kCodecs[] = {
    {GraphicSet::JisRoman, "SHIFT_JIS"},  {GraphicSet::Jis0208, "EUC-JP"},
    {GraphicSet::Jis0212, "EUC-JP"},      {GraphicSet::Katakana, "SHIFT_JIS"},
    {GraphicSet::Latin1, "ISO-8859-1"},   {GraphicSet::Latin2, "ISO-8859-2"},
    {GraphicSet::Latin3, "ISO-8859-3"},   {GraphicSet::Latin4, "ISO-8859-4"},
    {GraphicSet::Cyrillic, "ISO-8859-5"}, {GraphicSet::Arabic, "ISO-8859-6"},
    {GraphicSet::Greek, "ISO-8859-7"},    {GraphicSet::Hebrew, "ISO-8859-8"},
    {GraphicSet::Latin5, "ISO-8859-9"},   {GraphicSet::Latin9, "ISO-8859-15"},
    {GraphicSet::Thai, "TIS-620"},        {GraphicSet::Korean, "EUC-KR"},
    {GraphicSet::Chinese, "GB2312"},
};

const char* CodecOf(GraphicSet set) {
    for (const SetCodec& entry : kCodecs) {
        if (entry.set == set) return entry.codec;
    }
    return nullptr;
}

// The escape sequences of ISO 2022 that DICOM uses, and the set each one
// designates (as G0 for the 7-bit ones, G1 for the others).
struct Escape {
    const char* bytes;  // after ESC
    GraphicSet set;
    bool g0;
};
constexpr Escape kEscapes[] = {
    {"(B", GraphicSet::Ascii, true},     {"(J", GraphicSet::JisRoman, true},
    {"$B", GraphicSet::Jis0208, true},   {"$(D", GraphicSet::Jis0212, true},
    {")I", GraphicSet::Katakana, false}, {"-A", GraphicSet::Latin1, false},
    {"-B", GraphicSet::Latin2, false},   {"-C", GraphicSet::Latin3, false},
    {"-D", GraphicSet::Latin4, false},   {"-L", GraphicSet::Cyrillic, false},
    {"-G", GraphicSet::Arabic, false},   {"-F", GraphicSet::Greek, false},
    {"-H", GraphicSet::Hebrew, false},   {"-M", GraphicSet::Latin5, false},
    {"-b", GraphicSet::Latin9, false},   {"-T", GraphicSet::Thai, false},
    {"$)C", GraphicSet::Korean, false},  {"$)A", GraphicSet::Chinese, false},
};

// The defined terms of (0008,0005): the set each one puts in G0 or G1 at the
// start of every value. The ISO 2022 terms allow code extensions.
struct Term {
    const char* number;  // "100" of "ISO_IR 100" and "ISO 2022 IR 100"
    GraphicSet set;
    bool g0;
};
constexpr Term kTerms[] = {
    {"6", GraphicSet::Ascii, true},      {"100", GraphicSet::Latin1, false},
    {"101", GraphicSet::Latin2, false},  {"109", GraphicSet::Latin3, false},
    {"110", GraphicSet::Latin4, false},  {"144", GraphicSet::Cyrillic, false},
    {"127", GraphicSet::Arabic, false},  {"126", GraphicSet::Greek, false},
    {"138", GraphicSet::Hebrew, false},  {"148", GraphicSet::Latin5, false},
    {"203", GraphicSet::Latin9, false},  {"166", GraphicSet::Thai, false},
    {"13", GraphicSet::Katakana, false}, {"87", GraphicSet::Jis0208, true},
    {"159", GraphicSet::Jis0212, true},  {"149", GraphicSet::Korean, false},
    {"58", GraphicSet::Chinese, false},
};

const Term* TermOf(std::string_view value) {
    std::string_view number;
    if (value.substr(0, 7) == "ISO_IR ") number = value.substr(7);
    if (value.substr(0, 12) == "ISO 2022 IR ") number = value.substr(12);
    if (number.empty()) return nullptr;
    for (const Term& term : kTerms) {
        if (number == term.number) return &term;
    }
    return nullptr;
}

std::vector<std::string_view> Values(std::string_view declared) {
    std::vector<std::string_view> values;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= declared.size(); ++at) {
        if (at == declared.size() || declared[at] == '\\') {
            std::string_view value = declared.substr(start, at - start);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
            values.push_back(value);
            start = at + 1;
        }
    }
    return values;
}

// Where a value returns to its initial sets.
bool IsDelimiter(VrCode vr, char c) {
    if (vr == kPN) return c == '\\' || c == '^' || c == '=';
    if (vr == kST || vr == kLT || vr == kUT)
        return c == '\r' || c == '\n' || c == '\t' || c == '\f';
    return c == '\\';
}

bool IsTwoByte(GraphicSet set) { return set == GraphicSet::Jis0208 || set == GraphicSet::Jis0212; }

}  // namespace

std::shared_ptr<CharsetDecoder> CharsetDecoder::For(std::string_view declared) {
    std::shared_ptr<CharsetDecoder> decoder(new CharsetDecoder());
    const std::vector<std::string_view> values = Values(declared);
    const std::string_view first = values.empty() ? std::string_view() : values.front();
    if (values.size() == 1 && (first == "ISO_IR 192" || first == "GB18030" || first == "GBK")) {
        decoder->wholeCodec_ = first == "ISO_IR 192" ? "UTF-8" : first == "GBK" ? "GBK" : "GB18030";
        return decoder;
    }
    if (!first.empty()) {
        const Term* term = TermOf(first);
        if (term == nullptr || term->g0 != (term->set == GraphicSet::Ascii)) return nullptr;
        decoder->initialG1_ = term->g0 ? GraphicSet::None : term->set;
    }
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (TermOf(values[i]) == nullptr) return nullptr;
    }
    return decoder;
}

CharsetDecoder::~CharsetDecoder() {
    for (auto& [codec, handle] : converters_) iconv_close(static_cast<iconv_t>(handle));
}

// Converts what it can: each run of bytes the codec refuses becomes one
// mark, and the conversion goes on after it.
bool CharsetDecoder::Convert(const char* codec, std::string_view in, std::string& out) {
    auto found = converters_.find(codec);
    if (found == converters_.end()) {
        iconv_t handle = iconv_open("UTF-8", codec);
        if (handle == reinterpret_cast<iconv_t>(-1)) {
            out += kUndecodableMark;
            return false;
        }
        found = converters_.emplace(codec, handle).first;
    }
    iconv_t handle = static_cast<iconv_t>(found->second);
    iconv(handle, nullptr, nullptr, nullptr, nullptr);  // a fresh state for every run
    char* source = const_cast<char*>(in.data());
    std::size_t sourceLeft = in.size();
    bool ok = true;
    bool marked = false;
    char buffer[1024];
    while (sourceLeft > 0) {
        char* target = buffer;
        std::size_t targetLeft = sizeof buffer;
        const std::size_t done = iconv(handle, &source, &sourceLeft, &target, &targetLeft);
        const int error = errno;
        out.append(buffer, sizeof buffer - targetLeft);
        if (target != buffer) marked = false;
        if (done != static_cast<std::size_t>(-1) || error == E2BIG) continue;
        ok = false;
        if (!marked) out += kUndecodableMark;
        marked = true;
        ++source;  // past the byte refused (or the incomplete end)
        --sourceLeft;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    return ok;
}

// A run of bytes all in one set: the 7-bit bytes of G0, or the 8-bit bytes
// of G1. The two-byte Japanese sets reach EUC-JP with their high bits set.
bool CharsetDecoder::DecodeRun(GraphicSet set, std::string_view run, std::string& out) {
    if (set == GraphicSet::Ascii) {
        out.append(run);
        return true;
    }
    const char* codec = CodecOf(set);
    if (codec == nullptr || (IsTwoByte(set) && run.size() % 2 != 0)) {
        out += kUndecodableMark;
        return false;
    }
    if (!IsTwoByte(set)) return Convert(codec, run, out);
    std::string euc;
    for (std::size_t at = 0; at < run.size(); at += 2) {
        if (set == GraphicSet::Jis0212) euc += '\x8F';
        euc += static_cast<char>(run[at] | 0x80);
        euc += static_cast<char>(run[at + 1] | 0x80);
    }
    return Convert(codec, euc, out);
}

bool CharsetDecoder::DecodeExtended(VrCode vr, std::string_view bytes, std::string& out) {
    GraphicSet g0 = initialG0_;
    GraphicSet g1 = initialG1_;
    bool ok = true;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes[at] == kEscape) {
            const Escape* escape = nullptr;
            for (const Escape& candidate : kEscapes) {
                const std::size_t length = std::strlen(candidate.bytes);
                if (bytes.substr(at + 1, length) == candidate.bytes) escape = &candidate;
            }
            if (escape == nullptr) {
                out += kUndecodableMark;
                ok = false;
                ++at;
                continue;
            }
            (escape->g0 ? g0 : g1) = escape->set;
            at += 1 + std::strlen(escape->bytes);
            continue;
        }
        const bool high = (static_cast<unsigned char>(bytes[at]) & 0x80) != 0;
        if (!high && !IsTwoByte(g0) && IsDelimiter(vr, bytes[at])) {
            out += bytes[at++];
            g0 = initialG0_;
            g1 = initialG1_;
            continue;
        }
        std::size_t end = at;
        while (end < bytes.size() && bytes[end] != kEscape &&
               ((static_cast<unsigned char>(bytes[end]) & 0x80) != 0) == high &&
               (high || IsTwoByte(g0) || !IsDelimiter(vr, bytes[end])))
            ++end;
        const GraphicSet set = high ? g1 : g0;
        if (set == GraphicSet::None) {
            out += kUndecodableMark;
            ok = false;
        } else {
            ok = DecodeRun(set, bytes.substr(at, end - at), out) && ok;
        }
        at = end;
    }
    return ok;
}

bool CharsetDecoder::Decode(VrCode vr, std::string_view bytes, std::string& out) {
    if (wholeCodec_ == nullptr) return DecodeExtended(vr, bytes, out);
    return Convert(wholeCodec_, bytes, out);
}

}  // namespace lumo::dicom::detail
