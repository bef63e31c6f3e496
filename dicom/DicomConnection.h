#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dicom/DicomDataSet.h"
#include "dicom/DicomDataSets.h"

namespace lumo::dicom {

// An incoming association and its current C-FIND request, as the listener
// lends it to the form's handlers. A reference-counted handle that may
// outlive the request; once the request has its final status (or the
// association has ended), sending on it raises EDicomConnectionError instead
// of touching the network. Used on the dispatcher's (the form's) thread.
class DicomConnection {
  public:
    int ConnectionNumber() const;        // 1, 2, 3, ... per association since start
    std::string ConnectionRoot() const;  // "WORKLIST", "PATIENT" or "STUDY"
    std::string ConnectionCallingAETitle() const;
    std::string ConnectionCalledAETitle() const;
    // The request identifier, decoded to UTF-8; an empty data set when the
    // request carried none.
    DicomDataSet ConnectionRequest() const;

    // Each data set is sent as one response with `status` (0xFF00: pending).
    void ConnectionSendResponses(const DicomDataSets& responses, std::uint16_t status);
    // The final status (0: success) ends the request.
    void ConnectionSendStatus(std::uint16_t status);
    // Whether a request still waits for its final status.
    bool ConnectionIsWaiting() const;

    struct Impl;
    explicit DicomConnection(std::shared_ptr<Impl> impl);
    const std::shared_ptr<Impl>& GetImpl() const { return impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
