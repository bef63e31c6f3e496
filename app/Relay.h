#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/listener/DicomConnection.h"
#include "support/DateTime.h"

namespace lumo::app {

class TFormTestWL;

// The relay of listen mode: an incoming query is answered with the node's
// worklist answers. On the form's thread, the caller's AE titles and keys go
// into the form's fields and the form makes its worklist query from them as
// the button makes it, with the caller's other keys asked back. The
// exchange with the node then runs off the form's thread, on the listener's
// thread for that caller, so that callers are served side by side (within a
// bound, RelayPlaces); each answer goes back to the caller as it arrives.
// Once the node has answered, the query is listed on the form's thread, one
// relayed query after another in the order they end, and the caller gets
// the final status that says how the exchange ended, whatever became of the
// listing. Free functions and small classes; each says its thread.

// A relayed query as the form made it, taken off the form's thread: the
// request and identifier, whether its blocks are built as the responses
// arrive (no save files), and when it was asked. A plain value.
struct RelayedQuery {
    QueryRequest request;
    dicom::DicomDataSet identifier;
    bool listAsArrives = true;
    TDateTime requested = 0;
};

// The relayed queries under way at once, within a bound (the setting
// MaxRelayedQueries): a caller's query beyond it waits for a place as long
// as the caller has neither cancelled nor gone. Owned by the form; any
// thread.
class RelayPlaces {
  public:
    explicit RelayPlaces(int bound = 8) : bound_(bound) {}
    // Takes effect at once: queries waiting may start.
    void SetBound(int bound);
    // Waits for a place; false when `stop` came first (no place taken).
    bool Take(std::stop_token stop);
    void Give();

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    int bound_;         // under mutex_
    int underWay_ = 0;  // under mutex_
};

// The form's handler of an incoming query (DicomViewer1QueryRequest), on
// the form's thread: the log line "Query Request :N Début", the fields, and
// the relayed worklist query, left to run off the form's thread; it logs
// "… Fin" once listed. A caller the relayed query could not answer (the
// node failed, or the request was unusable) is told so with a failure
// status rather than left waiting. An error of the steps is logged
// ("Exception dans Query Request :N (class):message"), not raised.
void AnswerIncomingQuery(TFormTestWL& form, dicom::DicomConnection& connection);

// The caller's AE titles, Scheduled Procedure Step Start Date, accession
// number and patient ID into the fields, where the operator sees them; the
// root and level go to the log. The date is the caller's top-level one when
// it has one, else the one of its first scheduled step, else today's.
void CopyIncomingRequestToFields(TFormTestWL& form, const dicom::DicomConnection& connection);

// Passes each response of the relayed query on to the caller as it arrives,
// at status Pending, while the node prepares the next: the caller's wait is
// the node's, not the node's plus a second pass over every response. A
// response holding the Issuer of Accession Number Sequence (0008,0051) goes
// without it, since some modalities refuse a worklist entry that carries
// it; the response itself is not changed. Call it before anything reads the
// response's attributes: a response still held as it came is passed on in
// those bytes, which reading it lets go. Once the caller has cancelled or
// gone it passes nothing more (the relayed query stops on the connection's
// stop token meanwhile); a send that fails means the caller has gone, and
// ends the forwarding, not the query. The query's response handler: holds
// the connection by reference and lives for the query, on the thread that
// runs it.
class RelayForwarder {
  public:
    explicit RelayForwarder(dicom::DicomConnection& connection);

    void operator()(const dicom::DicomDataSet& response);
    int Forwarded() const { return forwarded_; }

  private:
    dicom::DicomConnection& connection_;
    const std::stop_token callerStop_;
    bool ended_ = false;  // the caller cancelled or went: nothing more goes
    int forwarded_ = 0;
};

// The caller's final status once the relayed query has ended: Cancel (FE00)
// when the caller cancelled or the console cut the query short (its limit
// on responses: the caller has not had every match), Success when the query
// was `answered`, and nothing otherwise (the listener answers a failure
// status), nor to a caller that has gone. On the thread that ran the query.
void FinishRelay(dicom::DicomConnection& connection, bool answered, bool cutShort);

}  // namespace lumo::app
