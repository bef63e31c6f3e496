#pragma once

// Private to dicom/: how the text values of a received data set become the
// toolkit's UTF-8 text, shared by the two readers of responses (from DCMTK's
// data set, and straight from the received bytes).

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "dicom/DataSetImpl.h"

class DcmSpecificCharacterSet;

namespace lumo::dicom::detail {

bool IsAscii(std::string_view text);

// A Specific Character Set value without the blanks around it.
std::string TrimmedCharset(std::string_view text);

// True when a received value needs no trimming: no padding (blank or NUL) at
// either end of any of its values, so DCMTK's normalised copy of it would be
// the very same text.
bool IsUnpadded(std::string_view text);

// How the text of a received data set (and of its items, unless they declare
// their own character set) is read into UTF-8. Owns DCMTK's converter for
// sets other than Latin-1 and UTF-8 (shared by copies); lives for one
// conversion, on its thread.
class IncomingText {
  public:
    enum class Mode { Latin1, Utf8, Converter };

    IncomingText() = default;  // Latin-1, the habit of nodes that declare nothing
    explicit IncomingText(const std::string& declared);

    Mode GetMode() const { return mode_; }

    std::string Decode(VrCode vr, const char* bytes, std::size_t length) const;

  private:
    Mode mode_ = Mode::Latin1;
    std::shared_ptr<DcmSpecificCharacterSet> converter_;
};

}  // namespace lumo::dicom::detail
