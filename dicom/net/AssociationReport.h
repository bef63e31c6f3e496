#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumo::dicom {

// The values below are those of the DICOM upper layer protocol, kept as the
// node sent them so that a value the standard reserves is still shown; the
// names in DicomNames.h word them.

// How a node answered one proposed presentation context (its Result/Reason
// field): 0 acceptance, 1 user rejection, 2 no reason, 3 abstract syntax not
// supported, 4 transfer syntaxes not supported.
enum class ContextResult : std::uint8_t {
    Acceptance = 0,
    UserRejection = 1,
    NoReason = 2,
    AbstractSyntaxNotSupported = 3,
    TransferSyntaxesNotSupported = 4,
    NotAnswered = 255,  // the association never got as far
};

// Which side plays which part of a service on a context (SCP/SCU role
// selection): left to the standard's default, or this side as SCU, SCP or
// both. A C-GET proposes this side as the storage SCP, as the instances
// come back on the same association.
enum class ContextRole : std::uint8_t { Default, Scu, Scp, Both };

// One presentation context as proposed and as answered.
struct ProposedContext {
    std::uint8_t id = 0;
    std::string abstractSyntax;                 // the service's SOP class UID
    std::vector<std::string> transferSyntaxes;  // proposed, in order of preference
    ContextResult result = ContextResult::NotAnswered;
    std::string acceptedTransferSyntax;  // when accepted
    ContextRole proposedRole = ContextRole::Default;
    ContextRole acceptedRole = ContextRole::Default;  // as the node answered it

    bool Accepted() const { return result == ContextResult::Acceptance; }
    // Accepted with one of the transfer syntaxes proposed. A node that
    // accepts with another breaks the protocol: nothing could be exchanged
    // in an encoding nobody agreed on.
    bool AcceptedAsProposed() const {
        return Accepted() && std::find(transferSyntaxes.begin(), transferSyntaxes.end(),
                                       acceptedTransferSyntax) != transferSyntaxes.end();
    }
};

// An A-ASSOCIATE-RJ: result 1 permanent, 2 transient; source 1 service
// user, 2 service provider (ACSE), 3 service provider (presentation); the
// reason's meaning depends on the source.
struct AssociationRejection {
    std::uint8_t result = 0;
    std::uint8_t source = 0;
    std::uint8_t reason = 0;
};

// An A-ABORT the node sent: source 0 service user, 2 service provider; the
// reason is meaningful for a provider's abort only.
struct AssociationAbort {
    std::uint8_t source = 0;
    std::uint8_t reason = 0;
};

// Why this side cancelled a C-FIND before its end: the operator (or a
// signal) asked it to stop, or it reached the number of responses it takes.
enum class CancelReason : std::uint8_t { None, Stop, Limit };

// DICOM over TLS on one association, when it was asked for: what the
// handshake settled, and the other side's certificate as it showed it.
struct TlsReport {
    bool established = false;  // the handshake went through
    std::string protocol;      // "TLSv1.3"
    std::string cipherSuite;   // by its standard name: "TLS_AES_256_GCM_SHA384"
    std::string peerSubject;   // the other side's certificate, RFC 2253 names
    std::string peerIssuer;
    std::string peerNotBefore;  // "2026-12-08 13:59:00 UTC"
    std::string peerNotAfter;
    // The node's certificate was checked for its chain only, not for the
    // name called (--tls-verify chain).
    bool nameNotChecked = false;
    std::string failure;  // why TLS failed, in words; empty when it did not
};

// One HTTP request to a DICOMweb service and what came back, as far as it
// went (the URL as sent, never with a credential in it).
struct HttpExchange {
    std::string method = "GET";
    std::string url;
    int status = 0;  // 0: no answer
    std::string reason;
    std::string contentType;
    std::uint64_t bytes = 0;  // of the body, as received
    std::chrono::milliseconds duration{0};
    std::optional<int> answers;  // the data sets of a search's page
    std::string authenticate;    // WWW-Authenticate: what the service asks for
    std::string warning;         // the Warning header (299: answers left out)
};

// A SOP Class Extended Negotiation sub-item: the service it speaks of and
// its service-class-application-information bytes, as they went on the wire.
struct ExtendedNegotiation {
    std::string sopClass;
    std::vector<std::uint8_t> info;
};

// When each stage of an exchange ended, counted from the moment the exchange
// began (before the connection), for an operator who wants to know where a
// slow node spends its time. A stage not reached (or not asked for: TLS on a
// plain connection) stays unset.
struct ExchangeTimes {
    using Duration = std::chrono::microseconds;
    std::optional<Duration> connected;       // the TCP connection made
    std::optional<Duration> tlsEstablished;  // the TLS handshake done
    std::optional<Duration> accepted;        // the node's acceptance read
    std::optional<Duration> requestSent;     // the request written
    std::optional<Duration> firstResponse;   // the first response's command read
    std::optional<Duration> lastResponse;    // the last response's command read
    std::optional<Duration> ended;           // the association released or aborted
    // The time from each response to the next, for the first kMaxGaps of
    // them: a query of a million responses does not keep a million gaps.
    std::vector<Duration> gaps;
    static constexpr std::size_t kMaxGaps = 1000;
};

// What one association with a node was, for an operator who wants to know
// why a node does not answer: who spoke to whom, what was proposed and what
// the node made of it, how it ended, and the final status of the exchange.
// Filled by the toolkit as the exchange goes, also when it fails; the
// console words it. A plain value; any thread.
struct AssociationReport {
    std::string command;  // the exchange: "C-FIND", "C-ECHO", "C-MOVE", "C-STORE"
    std::string callingAETitle;
    std::string calledAETitle;
    std::string peerAddress;
    std::int32_t peerPort = 0;
    // This side's address on the association, as the node sees it (what a
    // node must be told to connect back to); empty when not connected.
    std::string localAddress;

    std::vector<ProposedContext> contexts;
    std::uint32_t ourMaxPdu = 0;   // what this side said it takes
    std::uint32_t peerMaxPdu = 0;  // what the node said it takes (0: no limit or not known)
    std::string peerImplementationClassUID;
    std::string peerImplementationVersionName;

    std::optional<TlsReport> tls;  // set when the exchange asked for TLS

    // The extended negotiation sub-items proposed, and those the node sent
    // back (none when it answered none).
    std::vector<ExtendedNegotiation> extendedProposed;
    std::vector<ExtendedNegotiation> extendedAccepted;

    bool connected = false;  // the TCP connection was made
    bool accepted = false;   // the node accepted the association
    std::optional<AssociationRejection> rejection;
    std::optional<AssociationAbort> abort;  // the node aborted
    bool peerClosed = false;                // the node closed the connection without a word
    bool released = false;                  // ended by a release the node confirmed
    std::chrono::milliseconds duration{0};  // from the connection to the end
    ExchangeTimes times;

    int responses = 0;  // pending responses received (and taken: none after a cancel)
    // Set once this side sent a C-CANCEL-RQ, or stopped before its request
    // went out.
    CancelReason cancel = CancelReason::None;
    std::optional<std::uint16_t> finalStatus;
    std::string errorComment;                      // (0000,0902), on one line
    std::vector<std::uint32_t> offendingElements;  // (0000,0901), as group << 16 | element

    // Whether the node ended the exchange with Cancel (FE00) although this
    // side never cancelled it: the node cut its answers short on its own (a
    // limit on results of its own, most often), and not every match came.
    bool CancelledByNode() const {
        return cancel == CancelReason::None && finalStatus == std::uint16_t{0xFE00};
    }

    // An exchange with a DICOMweb service rather than an association: the
    // service's base URL, the credentials the console showed (their kind,
    // "Basic (user)" or "Bearer"; never a secret), each request in order,
    // and whether the service left answers out that could not be had by
    // asking on. The upper-layer fields above stay empty.
    std::string serviceUrl;
    std::string credentials;
    std::vector<HttpExchange> http;
    struct Truncation {
        int after = 0;               // the answers that came
        bool offsetIgnored = false;  // a later page's offset brought the first page again
        std::string warning;         // what the service said (Warning 299), if anything
    };
    std::optional<Truncation> truncation;
};

}  // namespace lumo::dicom
