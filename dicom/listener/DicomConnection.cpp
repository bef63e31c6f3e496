#include "dicom/listener/DicomConnection.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <cerrno>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmConvert.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/detail/DcmtkCheck.h"
#include "dicom/listener/detail/DicomConnectionState.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace {

constexpr ErrorClass kConnectionError = ErrorClass::EDicomConnectionError;

bool IsPending(std::uint16_t status) { return (status & 0xFF00) == 0xFF00; }

// Whether the data set has the top-level attribute `tag`, asked of its bytes
// while it still holds them: reading its elements would let them go.
bool Carries(const DicomDataSet& dataSet, std::uint32_t tag) {
    const DicomDataSet::Impl& impl = *dataSet.GetImpl();
    if (const std::optional<std::string_view> bytes = impl.elements.Encoded()) {
        std::string scratch;
        const detail::EncodedText found = detail::FindEncodedText(*bytes, tag, scratch);
        if (found.kind == detail::EncodedText::Kind::Absent) return false;
    }
    return impl.Find(tag) != nullptr;
}

// The bytes a response came in from its node, where it holds them unchanged
// and they are in `xfer`: a relay passes them on as they are, which costs a
// copy, where encoding it again costs more than all the rest of the relay.
std::optional<std::string_view> WireBytes(const DicomDataSet& response, E_TransferSyntax xfer) {
    const DicomDataSet::Impl& impl = *response.GetImpl();
    if (xfer == EXS_LittleEndianExplicit) {
        if (std::optional<std::string_view> bytes = impl.elements.Encoded()) return bytes;
    }
    if (impl.received && impl.received->transferSyntax == xfer) {
        return std::string_view(impl.received->bytes);
    }
    return std::nullopt;
}

void Le16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
void Le32(std::string& out, std::uint32_t value) {
    Le16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Le16(out, static_cast<std::uint16_t>(value >> 16));
}
void Be32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}
void CommandElement(std::string& out, std::uint16_t element, std::string_view value) {
    Le16(out, 0x0000);
    Le16(out, element);
    Le32(out, static_cast<std::uint32_t>(value.size()));
    out += value;
}
void CommandUS(std::string& out, std::uint16_t element, std::uint16_t value) {
    std::string bytes;
    Le16(bytes, value);
    CommandElement(out, element, bytes);
}

// The command of a C-FIND-RSP as DCMTK writes it (implicit VR little endian),
// with an Error Comment when `comment` is not empty.
std::string FindResponseCommand(const T_DIMSE_C_FindRQ& request, bool dataSet, std::uint16_t status,
                                std::string_view comment) {
    std::string uid = request.AffectedSOPClassUID;
    if (uid.size() % 2 != 0) uid += '\0';
    std::string fields;
    CommandElement(fields, 0x0002, uid);
    CommandUS(fields, 0x0100, 0x8020);  // C-FIND-RSP
    CommandUS(fields, 0x0120, request.MessageID);
    CommandUS(fields, 0x0800, dataSet ? 0x0001 : 0x0101);
    CommandUS(fields, 0x0900, status);
    if (!comment.empty()) {
        std::string text(comment);
        if (text.size() % 2 != 0) text += ' ';
        CommandElement(fields, 0x0902, text);
    }
    std::string length;
    Le32(length, static_cast<std::uint32_t>(fields.size()));
    std::string command;
    CommandElement(command, 0x0000, length);
    return command + fields;
}

// Why a second C-FIND on a busy association is refused.
constexpr std::string_view kBusyComment = "A C-FIND is already in progress on this association";
constexpr std::uint16_t kOutOfResources = 0xA700;

// One P-DATA-TF holding one PDV: `control` says command (1) or data set
// (0), and last fragment (2).
void AppendDataPdu(std::string& out, T_ASC_PresentationContextID context, char control,
                   std::string_view fragment) {
    const auto pdv = static_cast<std::uint32_t>(fragment.size() + 2);
    out += '\x04';
    out += '\0';
    Be32(out, pdv + 4);
    Be32(out, pdv);
    out += static_cast<char>(context);
    out += control;
    out += fragment;
}

}  // namespace

// ---------------------------------------------------------------------------
// The shared state

DicomConnection::Impl::Impl(int number, std::string callingAETitle, std::string calledAETitle,
                            T_ASC_Association* association)
    : number(number),
      callingAETitle(std::move(callingAETitle)),
      calledAETitle(std::move(calledAETitle)),
      association_(association) {}

void DicomConnection::Impl::BeginRequest(T_ASC_PresentationContextID presentationContext,
                                         const T_DIMSE_C_FindRQ& request, std::string root,
                                         DicomDataSet identifier) {
    T_ASC_PresentationContext accepted{};
    E_TransferSyntax xfer = EXS_Unknown;
    std::lock_guard lock(mutex_);
    if (association_ != nullptr &&
        ASC_findAcceptedPresentationContext(association_->params, presentationContext, &accepted)
            .good()) {
        xfer = DcmXfer(accepted.acceptedTransferSyntax).getXfer();
    }
    transferSyntax_ = xfer;
    presentationContext_ = presentationContext;
    request_ = request;
    root_ = std::move(root);
    identifier_ = std::move(identifier);
    state_ = RequestState::Received;
    stop_ = std::stop_source();
    cancelled_ = false;
}

void DicomConnection::Impl::LendRequest() {
    std::lock_guard lock(mutex_);
    if (state_ == RequestState::Received) state_ = RequestState::Waiting;
}

bool DicomConnection::Impl::FinishRequest(std::uint16_t status,
                                          const std::string& errorComment) noexcept {
    std::stop_source lost(std::nostopstate);
    {
        std::lock_guard lock(mutex_);
        if (state_ == RequestState::None) return true;
        state_ = RequestState::None;
        if (association_ == nullptr) return false;
        // Nobody listens: the listener reads how the caller ended next.
        if (callerEnded_) return true;
        try {
            const OFCondition cond = errorComment.empty() ? SendEncoded(std::nullopt, status)
                                                          : Send(nullptr, status, errorComment);
            if (cond.good()) return true;
        } catch (const std::bad_alloc&) {
            // Out of memory for the comment: the association is given up below.
        }
        lost = LoseCaller();
    }
    lost.request_stop();
    return false;
}

void DicomConnection::Impl::EndAssociation() noexcept {
    std::stop_source lost(std::nostopstate);
    {
        std::lock_guard lock(mutex_);
        lost = LoseCaller();
        state_ = RequestState::None;
    }
    lost.request_stop();
}

void DicomConnection::Impl::CancelHeard(std::uint16_t messageID) noexcept {
    std::stop_source stop(std::nostopstate);
    {
        std::lock_guard lock(mutex_);
        // Said after the final status, or of another message, it is about no
        // request of ours.
        if (state_ == RequestState::None || messageID != request_.MessageID) return;
        cancelled_ = true;
        stop = stop_;
    }
    stop.request_stop();
}

void DicomConnection::Impl::CallerEnded() noexcept {
    std::stop_source stop(std::nostopstate);
    {
        std::lock_guard lock(mutex_);
        callerEnded_ = true;
        stop = stop_;
    }
    stop.request_stop();
}

bool DicomConnection::Impl::RefuseBusy(T_ASC_PresentationContextID presentationContext,
                                       const T_DIMSE_C_FindRQ& request) noexcept {
    std::stop_source lost(std::nostopstate);
    {
        std::lock_guard lock(mutex_);
        if (association_ == nullptr || callerEnded_) return false;
        const T_ASC_PresentationContextID current = presentationContext_;
        presentationContext_ = presentationContext;
        OFCondition cond = EC_Normal;
        try {
            cond = SendEncoded(std::nullopt, kOutOfResources, request, kBusyComment);
        } catch (const std::bad_alloc&) {
            cond = DUL_NETWORKCLOSED;
        }
        presentationContext_ = current;
        if (cond.good()) return true;
        lost = LoseCaller();
    }
    lost.request_stop();
    return false;
}

void DicomConnection::Impl::SetContinuation(std::function<void(const FormTask&)> work) {
    std::lock_guard lock(mutex_);
    continuation_ = std::move(work);
}

std::function<void(const DicomConnection::FormTask&)> DicomConnection::Impl::TakeContinuation() {
    std::lock_guard lock(mutex_);
    return std::exchange(continuation_, nullptr);
}

std::stop_source DicomConnection::Impl::LoseCaller() {
    association_ = nullptr;
    callerEnded_ = true;
    return stop_;
}

std::string DicomConnection::Impl::Root() const {
    std::lock_guard lock(mutex_);
    return root_;
}

DicomDataSet DicomConnection::Impl::Request() const {
    std::lock_guard lock(mutex_);
    return identifier_;
}

bool DicomConnection::Impl::Waiting() const {
    std::lock_guard lock(mutex_);
    return state_ == RequestState::Waiting && association_ != nullptr && !callerEnded_;
}

std::stop_token DicomConnection::Impl::StopToken() const {
    std::lock_guard lock(mutex_);
    return stop_.get_token();
}

bool DicomConnection::Impl::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

template <typename Writing>
void DicomConnection::Impl::SendChecked(std::uint16_t status, const Writing& write) {
    OFCondition cond = EC_Normal;
    std::stop_source lost(std::nostopstate);
    {
        std::lock_guard lock(mutex_);
        CheckWaiting();
        // A status that is not pending ends the request, even if the send fails.
        if (!IsPending(status)) state_ = RequestState::None;
        cond = write();
        if (cond.bad()) lost = LoseCaller();
    }
    // Whatever still works for this caller (a relayed query) may stop.
    lost.request_stop();
    detail::CheckCondition(cond, kConnectionError,
                           "Sending a response on connection " + std::to_string(number));
}

void DicomConnection::Impl::SendResponse(const DicomDataSet& response, std::uint16_t status,
                                         std::optional<std::uint32_t> leftOut) {
    E_TransferSyntax xfer = EXS_Unknown;
    {
        std::lock_guard lock(mutex_);
        CheckWaiting();
        xfer = transferSyntax_;
    }
    // The response is made ready outside the lock: a cancel heard meanwhile
    // is not held up by it.
    DicomDataSet sent = response;
    if (leftOut && Carries(response, *leftOut)) {
        sent = response.DataSetCopy();
        sent.GetImpl()->Remove(*leftOut);
    }
    const std::optional<std::string_view> bytes = WireBytes(sent, xfer);
    const std::unique_ptr<DcmDataset> identifier = bytes ? nullptr : detail::ToDcmDataset(sent);
    SendChecked(status, [&] {
        return bytes ? SendEncoded(*bytes, status) : Send(identifier.get(), status);
    });
}

void DicomConnection::Impl::SendStatus(std::uint16_t status) {
    SendChecked(status, [&] { return SendEncoded(std::nullopt, status); });
}

void DicomConnection::Impl::EnsureWaiting() const {
    std::lock_guard lock(mutex_);
    CheckWaiting();
}

void DicomConnection::Impl::CheckWaiting() const {
    const auto ended = [this] {
        throw Exception(kConnectionError,
                        "Connection " + std::to_string(number) + ": the association has ended");
    };
    if (association_ == nullptr) ended();
    // A send after the final status is the handler's own mistake, whether or
    // not the caller has released meanwhile: say that one.
    if (state_ != RequestState::Waiting) {
        throw Exception(kConnectionError, "Connection " + std::to_string(number) +
                                              ": no request is waiting for a response");
    }
    if (callerEnded_) ended();
}

OFCondition DicomConnection::Impl::SendEncoded(std::optional<std::string_view> dataSet,
                                               std::uint16_t status,
                                               const T_DIMSE_C_FindRQ& request,
                                               std::string_view errorComment) {
    DcmTransportConnection* transport = DUL_getTransportConnection(association_->DULassociation);
    if (transport == nullptr) return DUL_NETWORKCLOSED;
    // Command and data set go out in one write: as DCMTK writes them (four
    // writes, each its own packet on a socket without delay), they cost the
    // relay as much again in the network stack as the rest of its work.
    message_.clear();
    AppendDataPdu(message_, presentationContext_, '\x03',
                  FindResponseCommand(request, dataSet.has_value(), status, errorComment));
    // What the caller takes in one PDV, as DCMTK reckons it. An empty data
    // set still goes, as one empty fragment.
    const std::size_t most = association_->sendPDVLength > 0 ? association_->sendPDVLength : 16372;
    for (std::size_t at = 0; dataSet && (at == 0 || at < dataSet->size()); at += most) {
        const bool last = dataSet->size() - at <= most;
        AppendDataPdu(message_, presentationContext_, last ? '\x02' : '\x00',
                      dataSet->substr(at, most));
    }
    for (std::size_t at = 0; at < message_.size();) {
        const ssize_t written = transport->write(message_.data() + at, message_.size() - at);
        if (written > 0) {
            at += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return DUL_NETWORKCLOSED;
        }
    }
    // One response may be large; the next is usually like it.
    if (message_.capacity() > std::size_t{1} << 20) message_ = std::string();
    return EC_Normal;
}

OFCondition DicomConnection::Impl::Send(DcmDataset* identifier, std::uint16_t status,
                                        const std::string& errorComment) {
    T_DIMSE_C_FindRSP response{};
    response.DimseStatus = status;
    DcmDataset detail;
    if (!errorComment.empty()) detail.putAndInsertString(DCM_ErrorComment, errorComment.c_str());
    return DIMSE_sendFindResponse(association_, presentationContext_, &request_, &response,
                                  identifier, errorComment.empty() ? nullptr : &detail);
}

// ---------------------------------------------------------------------------
// The handle

DicomConnection::DicomConnection(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

int DicomConnection::ConnectionNumber() const { return impl_->number; }

std::string DicomConnection::ConnectionRoot() const { return impl_->Root(); }

std::string DicomConnection::ConnectionCallingAETitle() const { return impl_->callingAETitle; }

std::string DicomConnection::ConnectionCalledAETitle() const { return impl_->calledAETitle; }

DicomDataSet DicomConnection::ConnectionRequest() const { return impl_->Request(); }

void DicomConnection::ConnectionSendResponses(const DicomDataSets& responses,
                                              std::uint16_t status) {
    // Even with nothing to send, a send on a finished request is a fault.
    impl_->EnsureWaiting();
    const int count = responses.DataSetsCount();
    for (int i = 1; i <= count; ++i) ConnectionSendResponse(responses.DataSetsItem(i), status);
}

void DicomConnection::ConnectionSendResponse(const DicomDataSet& response, std::uint16_t status) {
    impl_->SendResponse(response, status);
}

void DicomConnection::ConnectionSendResponseWithout(const DicomDataSet& response,
                                                    std::uint16_t status, std::uint16_t group,
                                                    std::uint16_t element) {
    impl_->SendResponse(response, status, detail::MakeTag(group, element));
}

void DicomConnection::ConnectionSendStatus(std::uint16_t status) { impl_->SendStatus(status); }

bool DicomConnection::ConnectionIsWaiting() const { return impl_->Waiting(); }

std::stop_token DicomConnection::ConnectionStopToken() const { return impl_->StopToken(); }

bool DicomConnection::ConnectionCancelled() const { return impl_->Cancelled(); }

void DicomConnection::ConnectionContinueOffForm(std::function<void(const FormTask& onForm)> work) {
    impl_->SetContinuation(std::move(work));
}

}  // namespace lumo::dicom
