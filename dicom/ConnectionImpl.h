#pragma once

// Private to dicom/: the state behind a DicomConnection handle, shared by the
// listener's thread for the association and the form's thread that answers.

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "dicom/DicomConnection.h"
#include "dicom/DicomDataSet.h"

class DcmDataset;

namespace lumo::dicom {

// One incoming association and its current C-FIND request. The listener's
// thread for the association creates it, lends it to the form's handlers and
// ends it before the association is freed; the form answers through it while
// that thread waits. Every field below the lock is read and written under it,
// and the network is touched only under it, so a late send finds the
// association gone instead of touching freed memory.
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

    std::string Root() const;
    DicomDataSet Request() const;
    bool Waiting() const;

    // Raise EDicomConnectionError when nothing waits or the send fails.
    void EnsureWaiting() const;
    void SendResponse(DcmDataset* identifier, std::uint16_t status);

  private:
    void CheckWaiting() const;  // lock held
    OFCondition Send(DcmDataset* identifier, std::uint16_t status,
                     const std::string& errorComment = {});  // lock held

    mutable std::mutex mutex_;
    T_ASC_Association* association_;  // not owned; null once ended
    RequestState state_ = RequestState::None;
    T_ASC_PresentationContextID presentationContext_ = 0;
    T_DIMSE_C_FindRQ request_{};
    std::string root_;
    DicomDataSet identifier_;
};

}  // namespace lumo::dicom
