#pragma once

// Private to dicom/: what a node said on the wire that DCMTK does not keep
// for its caller. DCMTK tells an A-ABORT only as "peer aborted", without its
// source and reason, and a connection the node closed without a word as one
// of several read failures; the operator needs both.

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "dicom/net/AssociationReport.h"

namespace lumo::dicom::detail {

// Follows the protocol data units in the bytes an association's connection
// reads, and notes when the connection and its TLS handshake were made. Owned by the exchange and
// fed by its connection, both on the exchange's thread.
class PeerWatch {
  public:
    using Clock = std::chrono::steady_clock;

    void Connected() {
        connected_ = true;
        connectedAt_ = Clock::now();
    }
    void TlsEstablished() { tlsAt_ = Clock::now(); }
    // One read of the connection: `got` bytes at `bytes`, 0 at the end of the
    // connection, negative on an error (errno says which).
    void Read(const void* bytes, ssize_t got);

    bool WasConnected() const { return connected_; }
    const std::optional<Clock::time_point>& ConnectedAt() const { return connectedAt_; }
    const std::optional<Clock::time_point>& TlsAt() const { return tlsAt_; }
    bool Closed() const { return closed_; }
    const std::optional<AssociationAbort>& Abort() const { return abort_; }
    // Whether the node's first bytes were a TLS record, not a protocol
    // data unit: a plain association asked of a TLS port.
    bool SpokeTls() const { return tlsRecord_; }
    // Whether the node reset the connection before it sent a single byte:
    // what a TLS port does with a plain association request.
    bool ResetUnheard() const { return resetUnheard_; }

  private:
    void Body(const unsigned char* bytes, std::size_t count);

    bool connected_ = false;
    bool closed_ = false;
    bool headerSeen_ = false;
    bool tlsRecord_ = false;
    bool heard_ = false;
    bool resetUnheard_ = false;
    std::optional<AssociationAbort> abort_;
    std::array<unsigned char, 6> header_{};  // type, reserved, length (big endian)
    std::size_t headerHave_ = 0;
    std::uint32_t bodyLeft_ = 0;
    std::uint32_t bodyAt_ = 0;
    AssociationAbort pending_;  // an A-ABORT's fields as they come
    std::optional<Clock::time_point> connectedAt_;
    std::optional<Clock::time_point> tlsAt_;
};

}  // namespace lumo::dicom::detail
