#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "dicom/net/DicomTls.h"

namespace lumo::dicom {

// How long an exchange may wait at each stage before it fails with a
// timeout: to connect, for the whole association negotiation, and for the
// whole of each response (however slowly its bytes come).
struct DicomTimeouts {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds association{30'000};
    std::chrono::milliseconds response{60'000};
};

// The largest PDU this side says it takes: DCMTK's default, and the range
// DCMTK (and so the console) accepts.
inline constexpr std::uint32_t kDefaultMaxPdu = 16384;
inline constexpr std::uint32_t kSmallestMaxPdu = 4096;
inline constexpr std::uint32_t kLargestMaxPdu = 131072;

// A node as every exchange with it needs it. A plain value; any thread.
struct DicomPeer {
    std::string address;
    std::int32_t port = 104;
    std::string calledAETitle;
    std::string callingAETitle;
    DicomTimeouts timeouts;
    std::uint32_t maxPdu = kDefaultMaxPdu;
    DicomTls tls;  // every exchange with the node speaks TLS when enabled

    // "address:port (called AE title)", as messages name the node.
    std::string Text() const;
};

}  // namespace lumo::dicom
