#pragma once

// Private to dicom/: how the text values of a received data set become the
// toolkit's UTF-8 text, and what its Specific Character Set says afterwards,
// shared by the two readers of responses (from DCMTK's data set, and straight
// from the received bytes); the outgoing conversion names the same sets.

#include <cstddef>
#include <cstdint>
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

// How text without a declared character set was read, a bit for each way
// met in one data set: as UTF-8 (its bytes were valid UTF-8), or as Latin-1
// (Windows-1252 for the bytes 80 to 9F, which Latin-1 leaves to controls).
enum UndeclaredReading : std::uint8_t {
    kReadAsDeclared = 0,
    kReadAsUtf8 = 1,
    kReadAsLatin1 = 2,
};

// How the text of a received data set (and of its items, unless they declare
// their own character set) is read into UTF-8. Every set of the standard is
// decoded as declared; bytes that are not what the data set declares, or a
// set nobody knows, are shown as U+FFFD, never silently taken for Latin-1.
// Text that declares no set (no (0008,0005), or an empty one) and is not
// ASCII is read as UTF-8 when its bytes are valid UTF-8, else as Latin-1
// (Windows-1252): nodes that omit the declaration send either. Owns the
// decoder for sets other than Latin-1 and UTF-8 (shared by copies); lives
// for one conversion, on its thread.
class IncomingText {
  public:
    IncomingText() = default;  // nothing declared
    explicit IncomingText(const std::string& declared);

    // `undecodable`, when given, is set when some bytes could not be read;
    // `undeclared`, when given, gains the UndeclaredReading of the text.
    std::string Decode(VrCode vr, const char* bytes, std::size_t length,
                       bool* undecodable = nullptr, std::uint8_t* undeclared = nullptr) const;

    // The UndeclaredReading Decode notes for `text`, without decoding it.
    std::uint8_t ReadingOf(std::string_view text) const;

    // What (0008,0005) of the data set that declared this set says once it
    // is read: text converted from another set is UTF-8 now, and says so
    // (kUtf8Charset), so that it goes out to a file or a peer as it is.
    // nullopt: the declared value stands, read like any other.
    std::optional<std::string_view> RewrittenCharset() const;

    // The declared value, as given ("" when nothing is declared).
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
    enum class Mode { Undeclared, Latin1, Utf8, Converter };
    static Mode ModeOf(std::string_view declared);

    Mode mode_ = Mode::Undeclared;
    std::string declared_;
    std::shared_ptr<CharsetDecoder> decoder_;
};

}  // namespace lumo::dicom::detail
