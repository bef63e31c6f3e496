#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"

namespace lumo::dicom {

// An incoming association and its current C-FIND request, as the listener
// lends it to the form's handlers. A reference-counted handle that may
// outlive the request; once the request has its final status (or the
// association has ended), sending on it raises EDicomConnectionError instead
// of touching the network. Used on the dispatcher's (the form's) thread, or
// on the listener's thread that runs what the handler left to be done off
// the form's thread (ConnectionContinueOffForm); the stop token and
// ConnectionCancelled may be read from any thread.
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
    // A response from a node goes out in the bytes it came in where it can
    // (unchanged, and in the caller's transfer syntax).
    void ConnectionSendResponse(const DicomDataSet& response, std::uint16_t status);
    // The same without its top-level attribute (group, element), if it has
    // one; the response given is not changed.
    void ConnectionSendResponseWithout(const DicomDataSet& response, std::uint16_t status,
                                       std::uint16_t group, std::uint16_t element);
    // The final status (0: success) ends the request.
    void ConnectionSendStatus(std::uint16_t status);
    // Whether a request still waits for its final status (false once the
    // caller has ended its association).
    bool ConnectionIsWaiting() const;

    // Requested as soon as the caller cancels the current request (a
    // C-CANCEL-RQ for its message ID; one for another ID is read and
    // dropped) or ends its association (A-ABORT, release, closed
    // connection), also when the listener stops or a send to the caller
    // fails. Work done for the request (a relayed query) stops on it. Each
    // request has its own.
    std::stop_token ConnectionStopToken() const;
    // The caller sent a C-CANCEL-RQ for the current request (and has not
    // ended its association): it waits for the final status Cancel (0xFE00).
    // A request left without a status after a cancel gets that one.
    bool ConnectionCancelled() const;

    // Runs a task on the form's thread and waits for it; false when the
    // listener has stopped, and the task did not run.
    using FormTask = std::function<bool(const std::function<void()>& task)>;
    // For a handler whose answer takes long (a relayed query): `work` runs
    // as soon as the handler has returned, on a thread of the listener's and
    // not the form's, while the request still waits for its responses and
    // final status (sent from `work`, or C000 / Cancel when it leaves none);
    // what it must do on the form's thread it does through `onForm`. Other
    // callers are served meanwhile. Call it from the handler, at most once
    // per request.
    void ConnectionContinueOffForm(std::function<void(const FormTask& onForm)> work);

    struct Impl;
    explicit DicomConnection(std::shared_ptr<Impl> impl);
    const std::shared_ptr<Impl>& GetImpl() const { return impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
