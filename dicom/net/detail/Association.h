#pragma once

// Private to dicom/: the one association layer of the console's own
// exchanges (queries, echo, probe). It connects, proposes, negotiates,
// records the association report as it goes, reads under per-stage
// deadlines, and releases or aborts; every failure becomes the one-line
// error text the operator reads.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/ofstd/ofcond.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomPeer.h"
#include "dicom/net/detail/PeerWatch.h"
#include "dicom/net/detail/ReadDeadline.h"
#include "dicom/net/detail/TlsContext.h"

namespace lumo::dicom::detail {

// DCMTK waits in whole seconds; a configured part of a second still waits.
int WholeSeconds(std::chrono::milliseconds timeout);
// The text with its line breaks made blanks.
std::string OneLine(std::string text);
// "C001": a status or a command field as the operator reads it.
std::string StatusHex(std::uint16_t value);

// One association requested of a node, and the report of it. Owns the
// network, the association and its parameters, the TLS context when the
// node is called over TLS, the deadline every read is held to, the watch over what the node sends
// and the stop that may cut the exchange short (raised from any thread); writes into the caller's
// report, which must outlive it. The destructor aborts an association still open (a failed
// exchange), frees everything in DCMTK's order and never throws. Used on the calling thread only.
class Association {
  public:
    Association(const DicomPeer& peer, AssociationReport& report);
    ~Association();
    Association(const Association&) = delete;
    Association& operator=(const Association&) = delete;

    // "address:port (called AE title)".
    const std::string& Peer() const { return peerText_; }

    // Proposes a service on a presentation context of its own, with the
    // transfer syntaxes the console reads. Before Open.
    void Propose(const std::string& sopClass);
    // The same with these transfer syntaxes, in order of preference, and this
    // side's role (SCP/SCU role selection unless Default). At most 128
    // contexts in all.
    void Propose(const std::string& sopClass, const std::vector<std::string>& transferSyntaxes,
                 ContextRole role);
    // The transfer syntaxes the console reads, in its order of preference.
    static std::vector<std::string> PlainTransferSyntaxes();

    // The node's requests on this association (a C-GET's instances) are
    // acknowledged at once. Before Open.
    void AckAtOnce() { transport_.AckAtOnce(); }

    // Proposes, for a service proposed too, a SOP Class Extended Negotiation
    // sub-item of these bytes; the report says what the node sent back.
    // Before Open.
    void ProposeExtended(const std::string& sopClass, std::vector<std::uint8_t> info);

    // Connects (over TLS when the peer asks for it) and negotiates. Raises,
    // with the report filled as far as it went, when a TLS file is unfit
    // (before connecting), the node cannot be reached, the TLS handshake
    // fails, the node rejects the association, stays silent, aborts or
    // closes the connection.
    void Open();

    // The context the node accepted for `sopClass` with a proposed transfer
    // syntax. Raises (and aborts) when it refused the context (`name` is the
    // service as messages name it) or chose a transfer syntax of its own.
    T_ASC_PresentationContextID Require(const std::string& sopClass, const std::string& name);
    // The same for a service the exchange can do without: 0 when the node
    // refused it (nothing aborted), `why` then saying so as Require would.
    T_ASC_PresentationContextID Accepted(const std::string& sopClass, const std::string& name,
                                         std::string& why);
    // Whether the association is open: negotiated, neither released nor
    // aborted (a failure aborts it).
    bool IsOpen() const { return open_; }

    T_ASC_Association* Get() const { return assoc_; }
    // The next message ID of a request on this association.
    std::uint16_t NextMessageID();
    // Starts the wait for one response: it must be in whole within the
    // response timeout.
    void StartResponse();
    // The response timeout as the reads count it.
    std::chrono::milliseconds ResponseBound() const;
    // The stop of this exchange; its Raise may be called from any thread.
    ExchangeStop& Stop() { return stop_; }
    const ExchangeStop& Stop() const { return stop_; }
    // Sends the cancel of a stop raised since the request went out.
    void HandleStop() { stop_.Handle(deadline_); }
    // Whether the last read gave up at its stage's deadline.
    bool Expired() const { return deadline_.Expired(); }

    // The request went out; a response's command came in: their times go
    // into the report.
    void NoteRequestSent();
    void NoteResponse();

    // Ends a completed exchange politely; a node that does not confirm the
    // release in time is aborted instead.
    void Release();
    void Abort();

    // The failure of `command` ("C-FIND") during the exchange, told the
    // operator's way; `after` follows an abort or a closed connection
    // (" after 2 responses"). Aborts the association.
    [[noreturn]] void Fail(const OFCondition& cond, const std::string& command,
                           const std::string& after);
    // A message that breaks the exchange's rules: nothing the node sends
    // after it can be trusted.
    [[noreturn]] void FailProtocol(const std::string& command, const std::string& what);

  private:
    struct NetworkDeleter {
        void operator()(T_ASC_Network* network) const { ASC_dropNetwork(&network); }
    };

    void Prepare();
    void PrepareExtended();
    ExchangeTimes::Duration Since(std::chrono::steady_clock::time_point when) const;
    void PrepareTls();
    // Why TLS failed, or why the node's answer suggests it was needed; empty
    // when TLS had nothing to do with the failure.
    std::string TlsCause() const;
    void NoteNegotiation(const OFCondition& cond);
    // How the node ended the association, if it did, into the report.
    void NoteFailure();
    [[noreturn]] void FailToAssociate(const OFCondition& cond);
    [[noreturn]] void FailToConnect(const OFCondition& cond);
    void CheckTransferSyntax(T_ASC_PresentationContextID id);

    const DicomPeer peer_;
    AssociationReport& report_;
    const std::string peerText_;
    // Declared before the network and the association, which use them.
    ReadDeadline deadline_;
    PeerWatch watch_;
    ExchangeStop stop_;
    std::unique_ptr<TlsContext> tls_;  // outlives the connections made with it
    DeadlineTransport transport_;
    std::unique_ptr<T_ASC_Network, NetworkDeleter> network_;
    T_ASC_Parameters* params_ = nullptr;  // the association's once it exists
    T_ASC_Association* assoc_ = nullptr;
    bool open_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace lumo::dicom::detail
