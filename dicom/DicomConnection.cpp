#include "dicom/DicomConnection.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmnet/dimse.h>

#include <new>
#include <utility>

#include "dicom/ConnectionImpl.h"
#include "dicom/DcmConvert.h"
#include "dicom/DcmtkCheck.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace {

constexpr ErrorClass kConnectionError = ErrorClass::EDicomConnectionError;

bool IsPending(std::uint16_t status) { return (status & 0xFF00) == 0xFF00; }

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
    std::lock_guard lock(mutex_);
    presentationContext_ = presentationContext;
    request_ = request;
    root_ = std::move(root);
    identifier_ = std::move(identifier);
    state_ = RequestState::Received;
}

void DicomConnection::Impl::LendRequest() {
    std::lock_guard lock(mutex_);
    if (state_ == RequestState::Received) state_ = RequestState::Waiting;
}

bool DicomConnection::Impl::FinishRequest(std::uint16_t status,
                                          const std::string& errorComment) noexcept {
    std::lock_guard lock(mutex_);
    if (state_ == RequestState::None) return true;
    state_ = RequestState::None;
    if (association_ == nullptr) return false;
    try {
        if (Send(nullptr, status, errorComment).good()) return true;
    } catch (const std::bad_alloc&) {
        // Out of memory for the comment: the association is given up below.
    }
    association_ = nullptr;
    return false;
}

void DicomConnection::Impl::EndAssociation() noexcept {
    std::lock_guard lock(mutex_);
    association_ = nullptr;
    state_ = RequestState::None;
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
    return state_ == RequestState::Waiting && association_ != nullptr;
}

void DicomConnection::Impl::SendResponse(DcmDataset* identifier, std::uint16_t status) {
    std::lock_guard lock(mutex_);
    CheckWaiting();
    // A status that is not pending ends the request, even if the send fails.
    if (!IsPending(status)) state_ = RequestState::None;
    const OFCondition cond = Send(identifier, status);
    if (cond.bad()) association_ = nullptr;
    detail::CheckCondition(cond, kConnectionError,
                           "Sending a response on connection " + std::to_string(number));
}

void DicomConnection::Impl::EnsureWaiting() const {
    std::lock_guard lock(mutex_);
    CheckWaiting();
}

void DicomConnection::Impl::CheckWaiting() const {
    if (association_ == nullptr) {
        throw Exception(kConnectionError,
                        "Connection " + std::to_string(number) + ": the association has ended");
    }
    if (state_ != RequestState::Waiting) {
        throw Exception(kConnectionError, "Connection " + std::to_string(number) +
                                              ": no request is waiting for a response");
    }
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
    for (int i = 1; i <= count; ++i) {
        const std::unique_ptr<DcmDataset> identifier =
            detail::ToDcmDataset(responses.DataSetsItem(i));
        impl_->SendResponse(identifier.get(), status);
    }
}

void DicomConnection::ConnectionSendStatus(std::uint16_t status) {
    impl_->SendResponse(nullptr, status);
}

bool DicomConnection::ConnectionIsWaiting() const { return impl_->Waiting(); }

}  // namespace lumo::dicom
