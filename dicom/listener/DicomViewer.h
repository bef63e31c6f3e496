#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "dicom/listener/DicomConnection.h"
#include "dicom/listener/Dispatcher.h"
#include "dicom/net/DicomTls.h"

namespace lumo::dicom {

class DicomViewer;

// What callers may hold of the listener at once. A caller beyond either
// association limit is refused (A-ASSOCIATE-RJ: transient, local limit
// exceeded), but when every place is taken a caller from an address that
// holds at least two places fewer than another takes the place of that
// address's oldest caller still negotiating; a request whose identifier
// passes the size bound has its association aborted as the identifier
// arrives.
struct ViewerLimits {
    int maxAssociations = 32;           // in all, those in negotiation included
    int maxAssociationsPerAddress = 8;  // from one caller address
    std::size_t maxIdentifierBytes = std::size_t{4} << 20;
};

using AssociationRequestHandler =
    std::function<void(DicomViewer& sender, DicomConnection& connection, bool& isOK)>;
using QueryRequestHandler = std::function<void(DicomViewer& sender, DicomConnection& connection)>;

// The listener of listen mode (the hidden viewer control of the window). Owns
// the network thread that accepts associations and one thread per
// association (and per request while it is answered); raises its events on
// the dispatcher's thread while the association's thread waits, so callers
// are served side by side and only their events take turns on the form's
// thread. Every C-FIND request (Modality Worklist, Patient Root, Study
// Root) raises OnQueryRequest; its handler answers at once or leaves the
// answer to be done off the form's thread
// (DicomConnection::ConnectionContinueOffForm). A request left without a
// final status is answered with C000 (Cancel, FE00, when its caller
// cancelled it) so no caller waits forever. While a request is answered,
// the caller is heard at once: a C-CANCEL for its message ID, or the end of
// its association, requests the connection's stop token; a cancel for
// another message ID is dropped; a second C-FIND is refused (A700) and the
// first goes on; a cancel read after the final status is dropped without an
// answer. C-ECHO is answered. What a hostile caller sends never reaches the
// handlers: a blank AE title is rejected, callers beyond the limits are
// refused, a presentation context without a transfer syntax is refused as
// transfer-syntaxes-not-supported, an identifier nested deeper than any
// real one is answered A900, a larger one than the bound aborts its
// association, a caller that takes nothing it is sent for a message timeout
// is cut off. Construct, set the handlers and call ViewerListen on the
// form's thread; stopping (and the destructor) ends every thread it
// started before it returns.
class DicomViewer {
  public:
    explicit DicomViewer(Dispatcher& dispatcher);
    ~DicomViewer();
    DicomViewer(const DicomViewer&) = delete;
    DicomViewer& operator=(const DicomViewer&) = delete;

    // Starts accepting on `port` (0: an ephemeral port, see ListeningPort).
    // False when the port cannot be opened (e.g. in use); never raises.
    bool ViewerListen(int port);
    int ListeningPort() const;
    // Stops accepting and ends the listener's threads; harmless when idle.
    // Cuts the associations in progress at once, silent callers included,
    // and lets go of the events still waiting for the form's thread (their
    // tasks, run later, do nothing), so it returns once every thread it
    // started has ended. Call it on the form's thread, or from another
    // thread while the dispatcher still runs.
    void ViewerStop();
    // Seconds a caller has to send its whole association request (its TLS
    // handshake included) and each of its messages, and to take each
    // message it is sent (defaults 30 and 60); a caller slower than that is
    // dropped. Takes effect at once, for what comes next.
    void SetTimeouts(int associationSeconds, int messageSeconds);
    // Replaces the limits (a value of 0 or less stands for its default).
    // Takes effect at once, for the callers and requests that come next.
    void SetLimits(const ViewerLimits& limits);
    // DICOM over TLS for every caller (off unless set): this listener's
    // certificate and key, the certificates a caller's must chain to, and
    // whether it must show one. Takes effect at the next ViewerListen, which
    // fails when the files are unfit (CheckTlsFiles says why).
    void SetTls(const DicomTls& tls);

    AssociationRequestHandler OnAssociationRequest2;  // isOK false rejects
    QueryRequestHandler OnQueryRequest;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
