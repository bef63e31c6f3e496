#pragma once

// Private to dicom/: received text in any character set of the DICOM
// standard, read into UTF-8 with glibc's iconv under the names it knows the
// sets by. DCMTK's own conversion asks glibc for some sets (the Japanese
// ones among them) under names it does not know, and fails on them.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom::detail {

// The graphic sets a value may switch between.
enum class GraphicSet {
    None,
    Ascii,
    JisRoman,
    Jis0208,
    Jis0212,
    Katakana,
    Latin1,
    Latin2,
    Latin3,
    Latin4,
    Cyrillic,
    Arabic,
    Greek,
    Hebrew,
    Latin5,
    Latin9,
    Thai,
    Korean,
    Chinese,
};

// The decoding of one Specific Character Set (all its values, the code
// extensions of ISO 2022 included). Owns the iconv descriptors it opens, one
// per set met, kept for the values that follow. Used on one thread at a
// time; shared by the items that inherit the set.
class CharsetDecoder {
  public:
    // Nullptr when the declared value names a set this program does not
    // know.
    static std::shared_ptr<CharsetDecoder> For(std::string_view declared);
    ~CharsetDecoder();

    // Appends the UTF-8 text of `bytes` (one value of VR `vr`, with its
    // delimiters) to `out`. What cannot be decoded becomes U+FFFD, one mark
    // for each run of such bytes; false then.
    bool Decode(VrCode vr, std::string_view bytes, std::string& out);

  private:
    CharsetDecoder() = default;
    bool Convert(const char* codec, std::string_view in, std::string& out);
    bool DecodeRun(GraphicSet set, std::string_view run, std::string& out);
    bool DecodeExtended(VrCode vr, std::string_view bytes, std::string& out);

    // A multi-byte set without code extensions (UTF-8, GB18030, GBK): the
    // whole value goes through this codec.
    const char* wholeCodec_ = nullptr;
    GraphicSet initialG0_ = GraphicSet::Ascii;
    GraphicSet initialG1_ = GraphicSet::None;
    std::map<std::string, void*> converters_;  // iconv_t by codec, closed by the destructor
};

// One run of bytes that could not be decoded, as it is shown.
inline constexpr char kUndecodableMark[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace lumo::dicom::detail
