#pragma once

// Private to dicom/: the state behind a DicomConnection handle, shared by the
// listener's thread for the association and the form's thread that answers.

#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "dicom/data/DicomDataSet.h"
#include "dicom/listener/DicomConnection.h"

class DcmDataset;

namespace lumo::dicom {

// One incoming association and its current C-FIND request. The listener's
// thread for the association creates it, lends it to the form's handlers and
// ends it before the association is freed; the form (or the work it left to
// be done off its thread) answers through it while that thread reads what
// the caller says meanwhile and tells it when the caller cancels or goes.
// Every field below the lock is read and written under it, and the network
// is written to only under it, so a late send finds the association gone
// instead of touching freed memory, and two sends never mix.
struct DicomConnection::Impl {
    enum class RequestState {
        None,      // no request yet, or the last one has its final status
        Received,  // read from the network, not yet lent to the handler
        Waiting,   // lent to the handler, waiting for responses and a status
    };

    Impl(int number, std::string callingAETitle, std::string calledAETitle,
         T_ASC_Association* association);

    const int number;
    const std::string callingAETitle;
    const std::string calledAETitle;

    // The request read by the listener's thread; it becomes the current one.
    void BeginRequest(T_ASC_PresentationContextID presentationContext,
                      const T_DIMSE_C_FindRQ& request, std::string root, DicomDataSet identifier);
    // On the form's thread, just before the handler runs.
    void LendRequest();
    // Sends the final status `status` (with `errorComment` when not empty)
    // unless the request already has one. False when that send failed (the
    // association is then unusable).
    bool FinishRequest(std::uint16_t status, const std::string& errorComment = {}) noexcept;
    // The association is about to be freed: later sends raise.
    void EndAssociation() noexcept;
    // The caller sent a C-CANCEL-RQ for `messageID` while the current
    // request waited for its final status: when that is the request's own
    // message ID, its stop is requested; another is dropped. Any thread.
    void CancelHeard(std::uint16_t messageID) noexcept;
    // The caller ended its association while the current request waited:
    // its stop is requested, sends raise and no final status goes out.
    void CallerEnded() noexcept;
    // A second C-FIND-RQ while the current one runs: it is refused at once
    // with A700 (Refused: Out of Resources) and a comment saying why, on
    // its own message ID; the current request goes on. False when the send
    // failed (the association is then unusable).
    bool RefuseBusy(T_ASC_PresentationContextID presentationContext,
                    const T_DIMSE_C_FindRQ& request) noexcept;

    // What the handler left to be done off the form's thread, once.
    void SetContinuation(std::function<void(const FormTask&)> work);
    std::function<void(const FormTask&)> TakeContinuation();

    std::string Root() const;
    DicomDataSet Request() const;
    bool Waiting() const;
    // The current request's stop, requested when the caller cancels or goes.
    std::stop_token StopToken() const;
    bool Cancelled() const;

    // Raise EDicomConnectionError when nothing waits or the send fails.
    void EnsureWaiting() const;
    // `response` at `status`, without its top-level attribute `leftOut` if
    // it has one (the response given is not changed).
    void SendResponse(const DicomDataSet& response, std::uint16_t status,
                      std::optional<std::uint32_t> leftOut = std::nullopt);
    void SendStatus(std::uint16_t status);

  private:
    void CheckWaiting() const;  // lock held
    // The caller cannot be written to any more; returns the stop to request
    // once the lock is let go (its callbacks may take locks of their own).
    std::stop_source LoseCaller();  // lock held
    // Sends through `write` (lock held) after the checks; raises what the
    // checks raise, and EDicomConnectionError when the send fails.
    template <typename Writing>
    void SendChecked(std::uint16_t status, const Writing& write);
    // A message whose data set (if any) is already encoded in the request's
    // transfer syntax, written whole at once.
    OFCondition SendEncoded(std::optional<std::string_view> dataSet, std::uint16_t status,
                            const T_DIMSE_C_FindRQ& request,
                            std::string_view errorComment = {});  // lock held
    OFCondition SendEncoded(std::optional<std::string_view> dataSet, std::uint16_t status) {
        return SendEncoded(dataSet, status, request_);
    }
    // Through DCMTK, which encodes the data set (and an error comment).
    OFCondition Send(DcmDataset* identifier, std::uint16_t status,
                     const std::string& errorComment = {});  // lock held

    mutable std::mutex mutex_;
    T_ASC_Association* association_;  // not owned; null once ended
    RequestState state_ = RequestState::None;
    T_ASC_PresentationContextID presentationContext_ = 0;
    T_DIMSE_C_FindRQ request_{};
    E_TransferSyntax transferSyntax_ = EXS_Unknown;  // of the request's presentation context
    std::string message_;                            // the last message written, reused
    std::string root_;
    DicomDataSet identifier_;
    std::stop_source stop_;     // the current request's; a new one for each
    bool cancelled_ = false;    // the caller cancelled the current request
    bool callerEnded_ = false;  // the caller ended its association
    std::function<void(const FormTask&)> continuation_;
};

}  // namespace lumo::dicom
