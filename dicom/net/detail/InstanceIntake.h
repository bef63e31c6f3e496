#pragma once

// Private to dicom/: how the receiving sides of a retrieval (the storage
// receiver's associations, the C-GET exchange) hand their instances and
// associations to the tally of ReceivedInstances.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "dicom/net/ReceivedInstances.h"
#include "dicom/net/detail/ResponseReceiver.h"

namespace lumo::dicom {

struct ReceivedInstances::Impl {
    explicit Impl(Settings given) : settings(std::move(given)) {}

    const Settings settings;
    std::atomic<std::uint64_t> received{0};
    std::atomic<int> connections{0};
    mutable std::mutex mutex;
    mutable std::condition_variable_any changed;
    ReceivedTally tally;  // under mutex
};

namespace detail {

// The status a C-STORE-RSP answers an instance with, its Error Comment
// (plain ASCII, as a command carries no character set) and, for the
// operator, why.
struct StoreAnswer {
    std::uint16_t status = 0x0000;
    std::string wireComment;
    std::string why;
};

// C-STORE's statuses as the console answers them.
inline constexpr std::uint16_t kStoreOutOfResources = 0xA700;
inline constexpr std::uint16_t kStoreCannotUnderstand = 0xC000;
inline constexpr std::uint16_t kStoreSopClassNotSupported = 0x0122;

// One instance whose bytes came whole, encoded in `xfer` (`transferSyntax`
// by UID), under the C-STORE-RQ `request`, on the association numbered
// `connection` (OpenConnection): checked, kept when a folder is set,
// counted. Any thread.
StoreAnswer TakeInstance(ReceivedInstances::Impl& intake, const ResponseCommand& request,
                         std::string_view bytes, E_TransferSyntax xfer,
                         const std::string& transferSyntax, std::size_t connection);

// An instance this side refused without reading it (no context for its
// SOP class, larger than the bound): counted as a failure, named.
void RefuseInstance(ReceivedInstances::Impl& intake, const std::string& sopInstanceUid,
                    const std::string& why);

// An association that came to deliver instances, noted as it is accepted;
// its number for TakeInstance.
std::size_t OpenConnection(ReceivedInstances::Impl& intake, const std::string& address,
                           const std::string& callingAETitle, const std::string& calledAETitle);

// The C-STORE-RSP to `request` on `presID`: the answer's status, and its
// comment as the Error Comment.
OFCondition SendStoreResponse(T_ASC_Association* assoc, T_ASC_PresentationContextID presID,
                              const ResponseCommand& request, const StoreAnswer& answer);

// The report of a store association, once it ended.
void CloseConnection(ReceivedInstances::Impl& intake, AssociationReport report);

}  // namespace detail
}  // namespace lumo::dicom
