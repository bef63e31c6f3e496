#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "dicom/data/DicomDataSet.h"
#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomPeer.h"
#include "dicom/net/DicomQuery.h"
#include "dicom/net/DimseStatus.h"
#include "dicom/net/ReceivedInstances.h"

namespace lumo::dicom {

// The two ways to retrieve what a query found: C-MOVE, where the node opens
// associations of its own to a move destination (the console's storage
// receiver), and C-GET, where the instances come back on the same
// association.
enum class RetrieveService { Move, Get };

// Sub-operation counts as a node reports them in a response; absent where
// it sent none.
struct SubOperations {
    std::optional<std::uint32_t> remaining, completed, failed, warning;

    // Whether the node reported any sub-operation at all.
    bool Any() const;
};

// One pending response of a retrieval as it arrives: the node's counts and
// what this side received so far.
struct RetrieveProgress {
    SubOperations counts;
    std::uint64_t received = 0;
    int responses = 0;  // pending responses so far
    // C-MOVE: a response timeout has passed since the request, the node
    // reports sub-operations, and no association reached the receiver.
    bool noConnectionBack = false;
};

// A Study Root C-FIND asked on a C-GET's own association before its request
// (the census of what the node will send): each pending response goes to
// `onResponse` as it arrives; the final status is data in the result, a
// stop of the retrieval cancels it (DicomFindResult::cancel). Raises as a
// C-FIND does, also when the node refused the C-FIND's context.
using CensusFind = std::function<DicomFindResult(
    const DicomDataSet& identifier, const std::function<void(const DicomDataSet&)>& onResponse)>;

// What a retrieval sends and how it receives.
struct RetrieveRequest {
    RetrieveService service = RetrieveService::Move;
    // The information model: "PATIENT" (Patient Root) or "STUDY" (Study Root).
    std::string root = "STUDY";
    std::string moveDestination;  // C-MOVE
    // C-GET: the storage SOP classes the node will send, proposed with this
    // side as SCP; empty: a broad list of the common ones.
    std::vector<std::string> storageSopClasses;
    // C-GET: the census, run through the C-FIND it is given on the
    // retrieval's association (a Study Root FIND context proposed beside
    // the broad storage list) before the request; it returns the storage
    // SOP classes the node will send (empty: unknown) and must not raise.
    // The C-GET goes on the same association unless the classes named are
    // not all proposed there as a list of known classes would propose them,
    // or the census ended the association: then on a second one, proposing
    // them (`storageSopClasses` is not used).
    std::function<std::vector<std::string>(const CensusFind& find)> census;
    // The encoded bytes of one response (the instances are bound by the
    // ReceivedInstances they go to).
    std::size_t maxResponseBytes = std::size_t{64} * 1024 * 1024;
    // C-MOVE: how long this side goes on receiving when the node's final
    // status came before the instances it counted as completed; the wait
    // starts again with each instance, and never outlasts a response timeout.
    std::chrono::milliseconds grace{5000};
};

// A storage SOP class the node would not take on a C-GET (its contexts
// refused, or the SCP role not granted), and why in words.
struct RefusedStorage {
    std::string sopClass;
    std::string why;
};

// How a retrieval went as far as it went: the node's final status (data,
// not an error), its counts, the Failed SOP Instance UID List it sent, and
// what this side made of it. A plain value; any thread.
struct RetrieveResult {
    std::uint16_t status = DimseStatus::Success;
    bool finalReceived = false;  // the node sent its final response
    std::string errorComment;    // (0000,0902), on one line
    std::vector<std::uint32_t> offendingElements;
    SubOperations counts;                         // the final response's, or the last pending one's
    std::vector<std::string> failedSopInstances;  // (0008,0058) of the final response
    std::string peer;                             // "address:port (called AE title)"
    int responses = 0;                            // pending responses
    CancelReason cancel = CancelReason::None;
    bool cutOff = false;  // cancelled, and the node did not end it in time: aborted
    // C-MOVE: the final status came before every instance it counted as
    // completed had arrived; how many had then.
    bool earlySuccess = false;
    std::uint64_t receivedAtFinal = 0;
    bool noConnectionBack = false;               // as RetrieveProgress says, at any point
    std::vector<RefusedStorage> refusedStorage;  // C-GET
    // From the request to the last instance (or to the final response).
    std::chrono::milliseconds duration{0};
};

// "C-MOVE failed with status <status> from <peer>": the one wording of a
// retrieval that ended with a failure status, followed by ": <comment>"
// when the node sent an Error Comment.
std::string RetrieveFailureText(RetrieveService service, const std::string& status,
                                const std::string& peer, const std::string& errorComment);

// Sends a C-MOVE-RQ or C-GET-RQ with `identifier` and follows the
// retrieval to its end: every pending response (handed to `onProgress`, on
// the calling thread), and for a C-GET every C-STORE-RQ the node sends on
// the association, each instance given to `received` and answered. A
// C-MOVE's instances go to whatever feeds `received` (the storage
// receiver); after a final status that came early, this waits for them as
// RetrieveRequest::grace says.
//
// `result` and `report` hold what happened as far as it went, also when it
// raises: a lumo::Exception with a class name and a one-line message when the
// node cannot be reached, rejects the association or the service, times out,
// aborts, or breaks the protocol, exactly as a C-FIND does. A failure status
// is data in `result`.
//
// `stop` (from any thread) cancels it: a C-CANCEL-RQ at once, the node's
// final response awaited for one response timeout, then an abort; what
// arrived stays counted. On the calling thread.
void Retrieve(const DicomPeer& peer, const RetrieveRequest& request, const DicomDataSet& identifier,
              ReceivedInstances& received, RetrieveResult& result, AssociationReport& report,
              const std::function<void(const RetrieveProgress&)>& onProgress = nullptr,
              std::stop_token stop = {});

}  // namespace lumo::dicom
