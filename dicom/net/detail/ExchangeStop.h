#pragma once

// Private to dicom/: a stop asked of a C-FIND under way, from any thread,
// and what the association's connection does about it on the exchange's
// thread: the C-CANCEL-RQ the standard has a requester send, at once, even
// while a read waits on a silent node.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "support/FileDescriptor.h"

namespace lumo::dicom::detail {

class ReadDeadline;

// The C-CANCEL-RQ for the request of `messageID`, as the P-DATA-TF PDU that
// carries it on presentation context `presID`.
std::string CancelRequestPdu(std::uint8_t presID, std::uint16_t messageID);

// A request to stop an exchange, and the cancel it becomes. Raise may be
// called from any thread (a stop callback, the exchange itself when it has
// taken enough responses); it wakes the exchange from any wait of its
// connection. The rest runs on the exchange's thread. Before the request is
// out there is nothing to cancel and reads give up; once it is out (Arm),
// the first read after the stop writes the C-CANCEL-RQ at once through the
// connection's writer (TLS-protected when the connection is) — nothing else
// writes on the connection meanwhile, so it may go out in the middle of a
// response — and holds the rest of the exchange to
// one response timeout; once the final response is in (Disarm), a stop no
// longer matters. Owns the wake-up descriptor; owned by the association.
class ExchangeStop {
  public:
    ExchangeStop();
    ExchangeStop(const ExchangeStop&) = delete;
    ExchangeStop& operator=(const ExchangeStop&) = delete;

    // Any thread.
    void Raise() noexcept;
    bool Raised() const noexcept { return raised_.load(std::memory_order_acquire); }
    // Readable once raised; -1 when no descriptor could be had (a stop then
    // waits for the next byte or the deadline).
    int WakeFd() const noexcept { return wake_.Get(); }

    // The exchange's thread. What writes the cancel onto the connection:
    // all of the bytes unless the connection fails or the deadline passes
    // first. Set by the connection for as long as it lives.
    using Writer = std::function<void(const std::string& bytes, const ReadDeadline& deadline)>;
    void SetWriter(Writer writer) { writer_ = std::move(writer); }
    void Arm(std::uint8_t presID, std::uint16_t messageID, std::chrono::milliseconds bound);
    void Disarm() { phase_ = Phase::Done; }
    // Whether the request has gone out (armed, or done since).
    bool RequestOut() const { return phase_ != Phase::Before; }
    bool CancelSent() const { return sent_; }

    // What a read does about the stop: go on (none raised, or the cancel
    // is out now), or give up (raised before the request was out).
    enum class Action { Go, GiveUp };
    Action Handle(ReadDeadline& deadline);

  private:
    enum class Phase { Before, Armed, Done };

    std::atomic<bool> raised_{false};
    FileDescriptor wake_;
    Writer writer_;
    Phase phase_ = Phase::Before;
    std::string cancel_;
    std::chrono::milliseconds bound_{0};
    bool sent_ = false;
};

}  // namespace lumo::dicom::detail
