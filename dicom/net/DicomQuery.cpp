#include "dicom/net/DicomQuery.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

#include "dicom/data/detail/DcmConvert.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/FindRequest.h"
#include "dicom/net/detail/ResponseReceiver.h"
#include "support/Exception.h"

namespace lumo::dicom {

struct DicomQuery::Impl {
    DicomPeer peer;
    std::string root;
    std::string level;
    DicomLimits limits;
    bool keepResponses = true;
    AssociationReport report;  // of the last exchange
};

// The names the rest of the program uses for the statuses are DCMTK's.
static_assert(DimseStatus::Success == STATUS_Success);
static_assert(DimseStatus::Pending == STATUS_Pending);
static_assert(DimseStatus::Cancel == STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest);
static_assert(DimseStatus::UnableToProcess == STATUS_FIND_Failed_UnableToProcess);
static_assert(DimseStatus::IsPending(0xFF01) && DimseStatus::IsWarning(0xB000));

namespace {

using detail::OneLine;
using detail::StatusHex;

constexpr ErrorClass kNetworkError = ErrorClass::EDicomNetworkError;
constexpr ErrorClass kDicomError = ErrorClass::EDicomError;
constexpr ErrorClass kStatusError = ErrorClass::EDicomStatusError;
constexpr const char* kCommand = "C-FIND";

// The query root's information model: its SOP class and the name the
// operator reads in messages.
struct Model {
    const char* sopClass;
    const char* name;
};

Model ModelForRoot(const std::string& root) {
    std::string upper = root;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "WORKLIST")
        return {UID_FINDModalityWorklistInformationModel, "Modality Worklist FIND"};
    if (upper == "PATIENT")
        return {UID_FINDPatientRootQueryRetrieveInformationModel, "Patient Root FIND"};
    if (upper == "STUDY")
        return {UID_FINDStudyRootQueryRetrieveInformationModel, "Study Root FIND"};
    throw Exception(kDicomError,
                    "Unknown query root \"" + root + "\": expected WORKLIST, PATIENT or STUDY");
}

// Command-group elements (0000,xxxx) belong to the DIMSE command, never to an
// identifier; a caller may have put some in, so they are taken out here.
void StripCommandGroup(DcmDataset& dataSet) {
    for (unsigned long i = dataSet.card(); i > 0; --i) {
        DcmElement* element = dataSet.getElement(i - 1);
        if (element->getGTag() == 0x0000) {
            std::unique_ptr<DcmElement> removed(dataSet.remove(element));
        }
    }
}

// Raises the exchange's stop: what a stop callback runs, on the thread
// that requests the stop.
struct RaiseStop {
    detail::ExchangeStop* stop;
    void operator()() const noexcept { stop->Raise(); }
};

// One C-FIND exchange on an association of its own: open it, send the
// request, read every response, release it; cancel it when asked to stop or
// when it has taken as many responses as the limit lets it. Owns the
// association (and through it the deadline every read is held to: the
// whole negotiation, then each response, then what follows a cancel) and
// the callback that raises its stop; an association still open when it
// goes (a failed exchange) is aborted. Writes the query's report. Used on
// the calling thread; only the stop may be requested from another.
class FindExchange {
  public:
    FindExchange(const DicomQuery::Impl& query, const Model& model, AssociationReport& report,
                 std::stop_token stop)
        : query_(query),
          model_(model),
          report_(report),
          association_(query.peer, report),
          onStop_(std::move(stop), RaiseStop{&association_.Stop()}) {
        report_.command = kCommand;
    }

    const std::string& Peer() const { return association_.Peer(); }
    void Open();
    // Sends the request and reads every response: the query's result once
    // the node ended it, or cut off after a cancel it let pass.
    DicomFindResult Run(DcmDataset& request, const DicomQuery::ResponseHandler& onResponse);
    // The end of a query stopped before its request went out, or cut off
    // after its cancel: nothing more is taken, the association is aborted.
    DicomFindResult CutOff(DicomDataSets responses);
    // Whether a stop came before there was a request to cancel.
    bool StoppedBeforeRequest() const {
        return association_.Stop().Raised() && !association_.Stop().RequestOut();
    }
    void NoteCancel();

  private:
    void Take(const DicomDataSet& response, DicomDataSets& responses,
              const DicomQuery::ResponseHandler& onResponse);
    DicomFindResult Finish(DicomDataSets responses, const detail::ResponseCommand& final);
    DicomFindResult Result(DicomDataSets responses);

    const DicomQuery::Impl& query_;
    const Model model_;
    AssociationReport& report_;
    detail::Association association_;
    const std::stop_callback<RaiseStop> onStop_;  // goes before the association it raises
    T_ASC_PresentationContextID presID_ = 0;
    bool limitReached_ = false;  // the stop came from the limit on responses
};

void FindExchange::Open() {
    association_.Propose(model_.sopClass);
    association_.Open();
    presID_ = association_.Require(model_.sopClass, model_.name);
}

DicomFindResult FindExchange::Run(DcmDataset& request,
                                  const DicomQuery::ResponseHandler& onResponse) {
    DicomDataSets responses;
    const std::optional<detail::ResponseCommand> final = detail::RunFindRequest(
        association_, presID_, model_.sopClass, request, query_.limits.maxResponseBytes,
        [&](const DicomDataSet& response) { Take(response, responses, onResponse); }, true);
    if (!final) return CutOff(std::move(responses));
    return Finish(std::move(responses), *final);
}

void FindExchange::Take(const DicomDataSet& response, DicomDataSets& responses,
                        const DicomQuery::ResponseHandler& onResponse) {
    if (query_.keepResponses) responses.DataSetsAppend(response);
    ++report_.responses;
    if (onResponse) onResponse(response);
    const std::uint32_t limit = query_.limits.maxResults;
    if (limit > 0 && static_cast<std::uint32_t>(report_.responses) >= limit && !limitReached_) {
        limitReached_ = true;
        association_.Stop().Raise();
    }
}

void FindExchange::NoteCancel() {
    const detail::ExchangeStop& stop = association_.Stop();
    if (!stop.Raised()) return;
    report_.cancel = limitReached_ ? CancelReason::Limit : CancelReason::Stop;
}

// The final response: every response is in, whatever its status says.
DicomFindResult FindExchange::Finish(DicomDataSets responses,
                                     const detail::ResponseCommand& final) {
    association_.Stop().Disarm();
    association_.Release();
    report_.finalStatus = final.status;
    report_.errorComment = OneLine(final.errorComment);
    report_.offendingElements = final.offendingElements;
    DicomFindResult result = Result(std::move(responses));
    result.status = final.status;
    result.errorComment = report_.errorComment;
    return result;
}

DicomFindResult FindExchange::CutOff(DicomDataSets responses) {
    association_.Stop().Disarm();
    association_.Abort();
    DicomFindResult result = Result(std::move(responses));
    result.cutOff = true;
    return result;
}

DicomFindResult FindExchange::Result(DicomDataSets responses) {
    NoteCancel();
    DicomFindResult result;
    result.responses = std::move(responses);
    result.peer = association_.Peer();
    result.cancel = report_.cancel;
    return result;
}

}  // namespace

DicomQuery::DicomQuery() : impl_(std::make_shared<Impl>()) {}

void DicomQuery::QuerySetCallingAETitle(const std::string& aeTitle) {
    impl_->peer.callingAETitle = aeTitle;
}
void DicomQuery::QuerySetCalledAETitle(const std::string& aeTitle) {
    impl_->peer.calledAETitle = aeTitle;
}
void DicomQuery::QuerySetNodeAddress(const std::string& address) { impl_->peer.address = address; }
void DicomQuery::QuerySetNodePort(std::int32_t port) { impl_->peer.port = port; }
void DicomQuery::QuerySetRoot(const std::string& root) { impl_->root = root; }
void DicomQuery::QuerySetLevel(const std::string& level) { impl_->level = level; }
std::string DicomQuery::QueryGetLevel() const { return impl_->level; }
std::string DicomQuery::QueryGetCalledAETitle() const { return impl_->peer.calledAETitle; }
void DicomQuery::SetTimeouts(const DicomTimeouts& timeouts) { impl_->peer.timeouts = timeouts; }
void DicomQuery::SetLimits(const DicomLimits& limits) { impl_->limits = limits; }
void DicomQuery::SetMaxPdu(std::uint32_t bytes) { impl_->peer.maxPdu = bytes; }
void DicomQuery::SetKeepResponses(bool keep) { impl_->keepResponses = keep; }
void DicomQuery::SetTls(const DicomTls& tls) { impl_->peer.tls = tls; }
const AssociationReport& DicomQuery::QueryLastReport() const { return impl_->report; }

std::string FindFailureText(const std::string& status, const std::string& peer,
                            const std::string& errorComment) {
    std::string message = "C-FIND failed with status " + status + " from " + peer;
    if (!errorComment.empty()) message += ": " + errorComment;
    return message;
}

std::string DicomFindResult::FailureText() const {
    return FindFailureText(StatusHex(status), peer, errorComment);
}

DicomFindResult DicomQuery::QueryFind(const DicomDataSet& identifier,
                                      const ResponseHandler& onResponse, std::stop_token stop) {
    impl_->report = AssociationReport();
    const Model model = ModelForRoot(impl_->root);
    FindExchange exchange(*impl_, model, impl_->report, std::move(stop));
    if (!dcmDataDict.isDictionaryLoaded())
        throw Exception(kDicomError, "No DICOM data dictionary loaded: check DCMDICTPATH");
    if (impl_->peer.port < 1 || impl_->peer.port > 65535)
        throw Exception(kNetworkError,
                        "Cannot connect to " + exchange.Peer() + ": invalid port number");

    std::unique_ptr<DcmDataset> request = detail::ToDcmDataset(identifier);
    StripCommandGroup(*request);
    // Stopped before anything went out: nothing to ask the node, nor to cancel.
    if (exchange.StoppedBeforeRequest()) return exchange.CutOff(DicomDataSets());
    try {
        exchange.Open();
        return exchange.Run(*request, onResponse);
    } catch (const Exception&) {
        // A stop that gave up the negotiation is what ended it, not the node.
        if (exchange.StoppedBeforeRequest()) return exchange.CutOff(DicomDataSets());
        exchange.NoteCancel();
        throw;
    }
}

DicomDataSets DicomQuery::QueryRun(const DicomDataSet& identifier,
                                   const ResponseHandler& onResponse, std::stop_token stop) {
    DicomFindResult result = QueryFind(identifier, onResponse, std::move(stop));
    if (!result.Completed()) throw Exception(kStatusError, result.FailureText());
    return std::move(result.responses);
}

}  // namespace lumo::dicom
