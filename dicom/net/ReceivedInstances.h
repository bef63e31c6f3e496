#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "dicom/net/AssociationReport.h"

namespace lumo::dicom {

// What a retrieval asked for, so that each instance that arrives can be
// checked against it: the level and the keys of that level and above (a
// list of UIDs where several were asked; empty where the level asks none).
struct RetrieveKeys {
    std::string level;  // "PATIENT", "STUDY", "SERIES" or "IMAGE"
    std::string patientId;
    std::vector<std::string> studyUids;
    std::vector<std::string> seriesUids;
    std::vector<std::string> sopUids;
};

// The store associations a node opened to the console's receiver (C-MOVE)
// from one address under one pair of AE titles, and whether that is as
// expected: called by the move destination's AE title, from the node's own
// address.
struct StoreConnection {
    std::string address;         // the node's side, dotted
    std::string callingAETitle;  // the node's title on it
    std::string calledAETitle;   // the title it called the console by
    bool expectedTitle = true;
    bool expectedAddress = true;
    std::uint64_t associations = 0;
    std::uint64_t instances = 0;  // that came whole on them
};

// An instance that came but was refused or not as asked, and why, in words.
struct InstanceFailure {
    std::string sopInstanceUid;
    std::string why;
};

// How many of one kind (a SOP class, a transfer syntax) arrived.
struct UidCount {
    std::string uid;
    std::uint64_t count = 0;
};

// What arrived so far, as a plain value: counts and the few names the end
// of a retrieval shows, never the instances themselves.
struct ReceivedTally {
    std::uint64_t received = 0;  // instances whose bytes came whole
    std::uint64_t accepted = 0;  // of those, readable, as asked, and kept when a folder is set
    std::uint64_t bytes = 0;     // of the instances received
    std::vector<UidCount> sopClasses;             // of the instances accepted, in order of arrival
    std::vector<UidCount> transferSyntaxes;       // the same
    std::vector<InstanceFailure> failures;        // the first kMaxFailuresKept
    std::uint64_t failureCount = 0;               // all of them
    std::vector<StoreConnection> connections;     // the first kMaxKinds kinds
    std::vector<AssociationReport> storeReports;  // the first kMaxReportsKept, as each ended
    std::uint64_t storeAssociations = 0;          // all of them

    static constexpr std::size_t kMaxFailuresKept = 100;
    static constexpr std::size_t kMaxReportsKept = 16;
    // More distinct SOP classes or transfer syntaxes than this are counted
    // under the last entry, "…".
    static constexpr std::size_t kMaxKinds = 64;
};

// The tally of a retrieval's instances, fed by whatever receives them (the
// storage receiver's associations of a C-MOVE, the exchange of a C-GET):
// each is checked (readable, the SOP Instance UID its command announced, the
// keys asked for), written as <SOP Instance UID>.dcm into the store folder
// when there is one, then dropped. Memory stays bounded whatever the count:
// one instance at a time per association, at most `maxInstanceBytes` each,
// and counts. Owns its state behind a shared handle; every member may be
// called from any thread.
class ReceivedInstances {
  public:
    struct Settings {
        RetrieveKeys keys;
        std::string storeFolder;  // empty: checked and counted, not kept
        std::size_t maxInstanceBytes = std::size_t{256} << 20;
        // What a connection back is expected to look like (C-MOVE).
        std::string expectedCalledAETitle;
        std::string expectedAddress;
    };

    explicit ReceivedInstances(Settings settings);

    const Settings& GetSettings() const;
    // Instances whose bytes came whole, and associations that reached the
    // receiver: cheap, for live counts.
    std::uint64_t Received() const;
    int Connections() const;
    ReceivedTally Tally() const;
    // Waits until more than `count` instances have come, `until` passes or
    // `stop` is requested; true when more came.
    bool WaitBeyond(std::uint64_t count, std::chrono::steady_clock::time_point until,
                    std::stop_token stop) const;

    struct Impl;
    Impl& Internals() const { return *impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
