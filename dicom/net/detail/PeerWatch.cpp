#include "dicom/net/detail/PeerWatch.h"

#include <algorithm>
#include <cerrno>

namespace lumo::dicom::detail {

namespace {

constexpr unsigned char kAbortPdu = 0x07;
constexpr std::size_t kHeaderSize = 6;

}  // namespace

void PeerWatch::Read(const void* bytes, ssize_t got) {
    if (got == 0) closed_ = true;
    if (got < 0 && errno == ECONNRESET && !heard_) resetUnheard_ = true;
    if (got <= 0) return;
    heard_ = true;
    const auto* at = static_cast<const unsigned char*>(bytes);
    std::size_t left = static_cast<std::size_t>(got);
    while (left > 0) {
        if (headerHave_ < kHeaderSize) {
            const std::size_t take = std::min(kHeaderSize - headerHave_, left);
            std::copy_n(at, take, header_.begin() + static_cast<std::ptrdiff_t>(headerHave_));
            headerHave_ += take;
            at += take;
            left -= take;
            if (headerHave_ < kHeaderSize) return;
            // A TLS record (content type 20-23, major version 3) where the
            // first protocol data unit should be: the port speaks TLS.
            if (!headerSeen_)
                tlsRecord_ = header_[0] >= 0x14 && header_[0] <= 0x17 && header_[1] == 0x03;
            headerSeen_ = true;
            bodyLeft_ = std::uint32_t{header_[2]} << 24 | std::uint32_t{header_[3]} << 16 |
                        std::uint32_t{header_[4]} << 8 | header_[5];
            bodyAt_ = 0;
            if (bodyLeft_ == 0) headerHave_ = 0;
            continue;
        }
        const std::size_t take = std::min<std::size_t>(bodyLeft_, left);
        Body(at, take);
        at += take;
        left -= take;
    }
}

// A-ABORT: two reserved bytes, then the source and the reason.
void PeerWatch::Body(const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count && header_[0] == kAbortPdu; ++i) {
        const std::uint32_t offset = bodyAt_ + static_cast<std::uint32_t>(i);
        if (offset == 2) pending_.source = bytes[i];
        if (offset == 3) {
            pending_.reason = bytes[i];
            abort_ = pending_;
        }
    }
    bodyAt_ += static_cast<std::uint32_t>(count);
    bodyLeft_ -= static_cast<std::uint32_t>(count);
    if (bodyLeft_ == 0) headerHave_ = 0;
}

}  // namespace lumo::dicom::detail
