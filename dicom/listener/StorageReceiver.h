#pragma once

#include <memory>

#include "dicom/net/DicomTls.h"
#include "dicom/net/ReceivedInstances.h"

namespace lumo::dicom {

// How the storage receiver waits and what it lets in.
struct StorageReceiverSettings {
    int associationSeconds = 30;  // for a caller's whole association request
    int messageSeconds = 60;      // for each of its messages, an instance's bytes included
    DicomTls tls;                 // DICOM over TLS for every caller
    int maxAssociations = 4;      // at once; a caller beyond is refused (local limit exceeded)
};

// The console's own storage SCP for the time of a C-MOVE: the move
// destination the node connects back to. Accepts any calling and called AE
// title (a connection that does not match what was expected is noted, not
// refused) and every storage SOP class and Verification, with a transfer
// syntax proposed that DCMTK knows; hands each instance to the
// ReceivedInstances it was given and answers it as that says. Owns its
// listening socket, an accepting thread and one thread per association;
// Listen and Stop on one thread.
class StorageReceiver {
  public:
    StorageReceiver(ReceivedInstances received, StorageReceiverSettings settings);
    ~StorageReceiver();  // Stop()
    StorageReceiver(const StorageReceiver&) = delete;
    StorageReceiver& operator=(const StorageReceiver&) = delete;

    // Listens on `port` (0: an ephemeral one) on every address: the node
    // connects from wherever it is. Raises lumo::Exception
    // (EDicomNetworkError) with the cause in words when the port cannot be
    // had, or (EDicomError) when the TLS files are unfit.
    void Listen(int port);
    int Port() const;
    // Lets the associations under way end for a moment (a node releases its
    // store association after the last instance), then cuts what is left
    // and joins every thread. Harmless when not listening.
    void Stop();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
