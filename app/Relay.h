#pragma once

#include <functional>
#include <stop_token>

#include "app/QueryOutcome.h"
#include "app/QueryRun.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/listener/DicomConnection.h"

namespace lumo::app {

class TFormTestWL;

// The relay of listen mode: an incoming query is answered with the node's
// worklist answers. The caller's AE titles and keys go into the form's
// fields, the form's worklist query runs as the button runs it, each answer
// goes back to the caller as it arrives, and the caller's request ends with
// the status that says how the exchange ended, whatever became of the
// listing. Free functions and a handler class; the form's thread, but for
// the forwarder (the query's thread).

// What an incoming request that waits for the relayed query adds to a
// query button's run: each response passed on to the caller, the caller's
// cancel (or its going), which stops the query, and the caller's final
// status once the query and its listing are over.
struct RelayedRequest {
    ResponseHandler onResponse;
    std::stop_token callerStop;
    std::function<void(const QueryOutcome& outcome)> onEnd;
};

// The form's handler of an incoming query (DicomViewer1QueryRequest): the
// log lines "Query Request :N Début" and "… Fin", the fields, the relayed
// worklist query, and the caller's final status. A caller the relayed query
// could not answer (the node failed, or the request was unusable) is told so
// with a failure status rather than left waiting. An error of the steps is
// logged ("Exception dans Query Request :N (class):message"), not raised.
void AnswerIncomingQuery(TFormTestWL& form, dicom::DicomConnection& connection);

// The caller's AE titles, Scheduled Procedure Step Start Date (today's date
// when it has none), accession number and patient ID into the fields, where
// the operator sees them; the root and level go to the log.
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
// runs it (never while another thread sends on the connection).
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
// when the caller cancelled or the console cut the query short (its stop,
// its limit on responses: the caller has not had every match), Success
// when the query was `answered`, and nothing otherwise (the listener's
// handler answers a failure status), nor to a caller that has gone. On the
// thread that ran the query, or the form's once it has.
void FinishRelay(dicom::DicomConnection& connection, bool answered, bool cutShort);

}  // namespace lumo::app
