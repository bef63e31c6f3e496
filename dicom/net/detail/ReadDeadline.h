#pragma once

// Private to dicom/: the reads of an association held to a deadline for a
// whole stage of the exchange — the negotiation, one response — however the
// node spaces its bytes, and cut short by a stop. DCMTK bounds each read at
// most, so a node that sends a byte now and then would keep the console
// waiting without end, and a stop would wait for the node.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dcmlayer.h>

#include <chrono>
#include <string>

#include "dicom/net/AssociationReport.h"
#include "dicom/net/detail/ExchangeStop.h"
#include "dicom/net/detail/PeerWatch.h"

namespace lumo::dicom::detail {

class TlsContext;

// When the stage under way must be over, and whether a read ran into it.
// Owned by the exchange and read by its connection, both on the exchange's
// thread (DCMTK reads on the thread that calls it).
class ReadDeadline {
  public:
    // The stage starts now and may last `bound`.
    void Start(std::chrono::milliseconds bound);
    // What is left of the stage; zero or less once it is over.
    std::chrono::milliseconds Left() const;
    // Whether a read gave up because the stage was over.
    bool Expired() const { return expired_; }
    void Expire() { expired_ = true; }

  private:
    std::chrono::steady_clock::time_point end_ = std::chrono::steady_clock::time_point::max();
    bool expired_ = false;
};

// The transport DCMTK builds an association's connection with: TCP, or TLS
// over it when UseTls was called, whose reads fail, as on a lost
// connection, once the deadline has passed or when a stop comes before
// there is a request to cancel, whose waits a stop wakes (ExchangeStop says
// what then), and whose bytes the watch follows. The negotiation's stage
// starts as the connection opens, and bounds the TLS handshake too. Holds
// references to the deadline, the watch, the stop and the TLS context and
// report, which must outlive the network the transport is set on; used on
// the exchange's thread.
class DeadlineTransport : public DcmTransportLayer {
  public:
    DeadlineTransport(ReadDeadline& deadline, PeerWatch& watch, ExchangeStop& stop,
                      std::chrono::milliseconds negotiation)
        : deadline_(deadline), watch_(watch), stop_(stop), negotiation_(negotiation) {}

    // Every connection from now on speaks TLS with `context`, checks the
    // node's certificate against `peerAddress`, and tells `report` how the
    // handshake went and why TLS failed, if it did.
    void UseTls(const TlsContext& context, const std::string& peerAddress, TlsReport& report) {
        tls_ = &context;
        peerAddress_ = peerAddress;
        tlsReport_ = &report;
    }

    DcmTransportConnection* createConnection(DcmNativeSocketType openSocket,
                                             OFBool useSecureLayer) override;

    // Every connection from now on asks for its acknowledgements at once
    // (SocketOptions.h): a C-GET's node sends its instances as requests, a
    // command then a data set, and one that leaves Nagle's algorithm on holds
    // the data set until this side acknowledges the command.
    void AckAtOnce() { ackAtOnce_ = true; }

    // This side's address on the last connection made ("10.0.0.2"); empty
    // before one.
    const std::string& LocalAddress() const { return localAddress_; }

  private:
    ReadDeadline& deadline_;
    PeerWatch& watch_;
    ExchangeStop& stop_;
    std::chrono::milliseconds negotiation_;
    const TlsContext* tls_ = nullptr;
    std::string peerAddress_;
    TlsReport* tlsReport_ = nullptr;
    std::string localAddress_;
    bool ackAtOnce_ = false;
};

}  // namespace lumo::dicom::detail
