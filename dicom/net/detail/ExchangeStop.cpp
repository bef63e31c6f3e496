#include "dicom/net/detail/ExchangeStop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "dicom/net/detail/ReadDeadline.h"

namespace lumo::dicom::detail {

namespace {

void Le16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Be32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// One element of the command group, implicit VR little endian.
void CommandUS(std::string& out, std::uint16_t element, std::uint16_t value) {
    Le16(out, 0x0000);
    Le16(out, element);
    Le16(out, 2);
    Le16(out, 0);
    Le16(out, value);
}

}  // namespace

std::string CancelRequestPdu(std::uint8_t presID, std::uint16_t messageID) {
    std::string fields;
    CommandUS(fields, 0x0100, 0x0FFF);     // Command Field: C-CANCEL-RQ
    CommandUS(fields, 0x0120, messageID);  // Message ID Being Responded To
    CommandUS(fields, 0x0800, 0x0101);     // Command Data Set Type: none
    std::string command;
    Le16(command, 0x0000);  // (0000,0000) Command Group Length, UL
    Le16(command, 0x0000);
    Le16(command, 4);
    Le16(command, 0);
    Le16(command, static_cast<std::uint16_t>(fields.size()));
    Le16(command, 0);
    command += fields;

    std::string pdv;
    Be32(pdv, static_cast<std::uint32_t>(command.size() + 2));
    pdv += static_cast<char>(presID);
    pdv += '\x03';  // a command, and its last fragment
    pdv += command;
    std::string pdu("\x04\x00", 2);  // P-DATA-TF
    Be32(pdu, static_cast<std::uint32_t>(pdv.size()));
    return pdu + pdv;
}

ExchangeStop::ExchangeStop() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void ExchangeStop::Raise() noexcept {
    raised_.store(true, std::memory_order_release);
    if (!wake_.IsOpen()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
}

void ExchangeStop::Arm(std::uint8_t presID, std::uint16_t messageID,
                       std::chrono::milliseconds bound) {
    cancel_ = CancelRequestPdu(presID, messageID);
    bound_ = bound;
    phase_ = Phase::Armed;
}

ExchangeStop::Action ExchangeStop::Handle(ReadDeadline& deadline) {
    if (!Raised() || phase_ == Phase::Done) return Action::Go;
    if (phase_ == Phase::Before) return Action::GiveUp;
    if (!sent_) {
        sent_ = true;
        // From the cancel on, the node has one response timeout to end the
        // query, however many responses it still sends.
        deadline.Start(bound_);
        if (writer_) writer_(cancel_, deadline);
    }
    return Action::Go;
}

}  // namespace lumo::dicom::detail
