#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomPeer.h"
#include "dicom/net/DimseStatus.h"

namespace lumo::dicom {

// How much of a node's answer a query takes in before it refuses it.
struct DicomLimits {
    // The encoded bytes of one response's data set (and of its command).
    std::size_t maxResponseBytes = std::size_t{64} * 1024 * 1024;
    // The pending responses taken before the query is cancelled: the node
    // gets a C-CANCEL-RQ right after this many, and what it sends after is
    // not taken (0: no limit).
    std::uint32_t maxResults = 0;
};

// What a C-FIND brought back once the node ended it: every pending response,
// in order, and the final status. A failure status is data here, not an
// error: the exchange itself went through. A query this side cancelled
// (a stop, the limit on responses) holds the responses taken before the
// cancel and the node's answer to it — or, when the node did not end the
// query within the response timeout after the cancel (or the stop came
// before the request went out), no final status: it was cut off (the
// association aborted). A node may also end with Cancel unasked (the
// report's CancelledByNode): the query completed as far as the node went.
// A plain value; any thread.
struct DicomFindResult {
    DicomDataSets responses;
    std::uint16_t status = DimseStatus::Success;
    std::string errorComment;  // (0000,0902) of the final response, on one line
    std::string peer;          // "address:port (called AE title)", for messages
    CancelReason cancel = CancelReason::None;
    bool cutOff = false;  // `status` means nothing then

    // Whether the query ended with every match in, or as far as this side
    // wanted it: a success, a warning, the end of a cancel, or cut off after
    // a cancel.
    bool Completed() const { return cutOff || DimseStatus::IsCompleted(status); }
    // What the operator reads when it did not: "C-FIND failed with status
    // C000 from <peer>" and the node's comment, if any.
    std::string FailureText() const;
};

// "C-FIND failed with status <status> from <peer>", and ": <comment>" when
// the node sent an Error Comment: the one wording of a C-FIND that ended
// with a failure status. `status` as the caller words it ("C000", or with
// the status's name).
std::string FindFailureText(const std::string& status, const std::string& peer,
                            const std::string& errorComment);

// A C-FIND query to a remote node (the query object of the console). Holds
// the node's address and AE titles; each QueryRun opens its own association
// and closes it before returning. A reference-counted handle; use it from one
// thread at a time.
class DicomQuery {
  public:
    DicomQuery();  // a new query object

    void QuerySetCallingAETitle(const std::string& aeTitle);
    void QuerySetCalledAETitle(const std::string& aeTitle);
    void QuerySetNodeAddress(const std::string& address);
    void QuerySetNodePort(std::int32_t port);
    // "WORKLIST" (Modality Worklist FIND), "PATIENT" (Patient Root FIND) or
    // "STUDY" (Study Root FIND).
    void QuerySetRoot(const std::string& root);
    void QuerySetLevel(const std::string& level);
    std::string QueryGetLevel() const;
    std::string QueryGetCalledAETitle() const;

    void SetTimeouts(const DicomTimeouts& timeouts);
    void SetLimits(const DicomLimits& limits);
    // The largest PDU this side says it takes (kDefaultMaxPdu unless set).
    void SetMaxPdu(std::uint32_t bytes);
    // Whether QueryRun and QueryFind return the responses (the default), or
    // only hand each to the handler: a listing of a million responses that
    // nothing reads again need not hold them as well.
    void SetKeepResponses(bool keep);
    // DICOM over TLS for every exchange from now on (off unless set).
    void SetTls(const DicomTls& tls);

    // The association report of the last QueryRun or QueryFind, as far as
    // it went, also when it raised; empty before the first.
    const AssociationReport& QueryLastReport() const;

    // Sends the identifier (command-group elements stripped, text encoded as
    // the identifier declares, ISO_IR 100 by default) and returns every
    // pending response, in order, decoded to UTF-8. Raises a lumo::Exception
    // with a class name and a one-line message when the node cannot be
    // reached, rejects the association, accepts no presentation context,
    // times out, aborts, breaks the protocol (a response to another request,
    // a transfer syntax that was not proposed), sends a response it cannot
    // safely read (larger than the limit, sequences nested too deeply), or
    // ends with a failure status.
    //
    // `onResponse`, when given, sees each pending response as it arrives,
    // on the calling thread, before the next one is read: a caller can do
    // its work on a response while the node is still preparing the next. An
    // exception from it ends the query (the association is aborted) and
    // leaves QueryRun.
    //
    // `stop`, once requested (from any thread), ends the query early: a
    // C-CANCEL-RQ goes out at once for the request, even while a read waits
    // on a silent node; the responses that follow it are not taken; the
    // node then has one response timeout to send its final response before
    // the association is aborted. Stopped before its request went out, the
    // query sends nothing more and the association is aborted. A stopped
    // query is no failure: it ends as DicomFindResult says.
    using ResponseHandler = std::function<void(const DicomDataSet& response)>;
    DicomDataSets QueryRun(const DicomDataSet& identifier,
                           const ResponseHandler& onResponse = nullptr, std::stop_token stop = {});

    // The same exchange, ending with the node's final status as data: only
    // a failure of the exchange itself (no connection, no association, a
    // timeout, an abort, a broken response) raises.
    DicomFindResult QueryFind(const DicomDataSet& identifier,
                              const ResponseHandler& onResponse = nullptr,
                              std::stop_token stop = {});

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
