#pragma once

// Private to dicom/: how the text values of a received data set become the
// toolkit's UTF-8 text, and what its Specific Character Set says afterwards,
// shared by the two readers of responses (from DCMTK's data set, and straight
// from the received bytes); the outgoing conversion names the same sets.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom::detail {

// The Specific Character Set terms this side reads and writes itself: the
// default of what it sends, and the text inside the program.
inline constexpr char kLatin1Charset[] = "ISO_IR 100";
inline constexpr char kUtf8Charset[] = "ISO_IR 192";

bool IsAscii(std::string_view text);

// A Specific Character Set value without the blanks around it.
std::string TrimmedCharset(std::string_view text);

class CharsetDecoder;

// How the text of a received data set (and of its items, unless they declare
// their own character set) is read into UTF-8. Every set of the standard is
// decoded; bytes that are not what the data set declares, or a set nobody
// knows, are shown as U+FFFD, never silently taken for Latin-1. Owns the
// decoder for sets other than Latin-1 and UTF-8 (shared by copies); lives
// for one conversion, on its thread.
class IncomingText {
  public:
    IncomingText() = default;  // Latin-1, the habit of nodes that declare nothing
    explicit IncomingText(const std::string& declared);

    // `undecodable`, when given, is set when some bytes could not be read.
    std::string Decode(VrCode vr, const char* bytes, std::size_t length,
                       bool* undecodable = nullptr) const;

    // What (0008,0005) of the data set that declared this set says once it
    // is read: text converted from another set is UTF-8 now, and says so
    // (kUtf8Charset), so that it goes out to a file or a peer as it is.
    // nullopt: the declared value stands, read like any other.
    std::optional<std::string_view> RewrittenCharset() const;

    // The declared value, as given ("" for the Latin-1 habit).
    const std::string& Declared() const { return declared_; }

    // Whether Decode may mark some of `text` as undecodable: false when it
    // reads without the set's decoder.
    bool MayFail(std::string_view text) const;

    // What Decode gives for `text` under the set `declared` (as received,
    // blanks and all) when that needs no decoder of the set's own: a view of
    // `text` itself, or its Latin-1 converted into `scratch`. nullopt when it
    // does.
    static std::optional<std::string_view> DecodeWithoutDecoder(std::string_view declared,
                                                                std::string_view text,
                                                                std::string& scratch);

  private:
    enum class Mode { Latin1, Utf8, Converter };
    static Mode ModeOf(std::string_view declared);

    Mode mode_ = Mode::Latin1;
    std::string declared_;
    std::shared_ptr<CharsetDecoder> decoder_;
};

}  // namespace lumo::dicom::detail
