// lumo-replay-node: a Study Root C-FIND node that costs next to nothing, so
// that what a benchmark measures is the client. Its N responses (the study
// answers of lumo-testnode's --synthetic mode) are encoded once, at start,
// as the P-DATA PDUs a DCMTK node sends (one PDU for each command, one for
// each data set, explicit VR little endian); a query gets them written
// straight to its socket. DCMTK only negotiates the association and reads
// the request. Serves one association at a time on 127.0.0.1, prints the
// port when ready, and runs until it is killed.
//
// usage: lumo-replay-node --responses N [--port P]

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/oflog/oflog.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

constexpr std::uint16_t kFindResponse = 0x8020;
constexpr std::uint16_t kPending = 0xFF00;
constexpr std::uint16_t kDataSetPresent = 0x0001;
constexpr std::uint16_t kNoDataSet = 0x0101;
constexpr const char* kStudyRoot = UID_FINDStudyRootQueryRetrieveInformationModel;
constexpr const char* kUidRoot = "1.2.826.0.1.3680043.9.7433.1.";

void PutU16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutU32BigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// One element of a data set in explicit VR little endian; every VR here has
// a 2-byte length. UIDs are padded with NUL, texts with a space.
void PutText(std::string& out, std::uint16_t group, std::uint16_t element, const char* vr,
             std::string_view value) {
    const bool odd = value.size() % 2 != 0;
    PutU16(out, group);
    PutU16(out, element);
    out.append(vr, 2);
    PutU16(out, static_cast<std::uint16_t>(value.size() + (odd ? 1 : 0)));
    out.append(value);
    if (odd) out += std::string_view(vr) == "UI" ? '\0' : ' ';
}

// The response's command in implicit VR little endian, group length first,
// as DCMTK writes it; the message ID is patched per request.
std::string FindResponseCommand(std::uint16_t status, bool dataSet) {
    std::string uid = kStudyRoot;
    if (uid.size() % 2 != 0) uid += '\0';
    std::string body;
    const auto put16 = [&body](std::uint16_t element, std::uint16_t value) {
        PutU16(body, 0x0000);
        PutU16(body, element);
        PutU32(body, 2);
        PutU16(body, value);
    };
    PutU16(body, 0x0000);
    PutU16(body, 0x0002);
    PutU32(body, static_cast<std::uint32_t>(uid.size()));
    body += uid;
    put16(0x0100, kFindResponse);
    put16(0x0120, 1);  // MessageIDBeingRespondedTo
    put16(0x0800, dataSet ? kDataSetPresent : kNoDataSet);
    put16(0x0900, status);
    std::string command;
    PutU16(command, 0x0000);
    PutU16(command, 0x0000);
    PutU32(command, 4);
    PutU32(command, static_cast<std::uint32_t>(body.size()));
    return command + body;
}

// Where the message ID's value lies in a command built above.
std::size_t MessageIdOffset() {
    const std::string command = FindResponseCommand(kPending, true);
    const std::size_t uid = std::string(kStudyRoot).size() + std::string(kStudyRoot).size() % 2;
    const std::size_t at = 12 + 8 + uid + 10 + 8;
    if (command.size() < at + 2 || command[at] != 1 || command[at + 1] != 0)
        throw std::logic_error("message ID not where expected");
    return at;
}

// The study answer n (from 1), with lumo-testnode's synthetic values.
std::string StudyResponse(std::size_t n) {
    const std::string number = std::to_string(n);
    std::string out;
    PutText(out, 0x0008, 0x0005, "CS", "ISO_IR 100");
    PutText(out, 0x0008, 0x0020, "DA", "20260101");
    PutText(out, 0x0008, 0x0030, "TM", "080000");
    PutText(out, 0x0008, 0x0050, "SH", "ACC" + number);
    PutText(out, 0x0008, 0x0052, "CS", "STUDY");
    PutText(out, 0x0008, 0x0060, "CS", "CT");
    PutText(out, 0x0008, 0x0080, "LO", "SYNTHETIC HOSPITAL");
    PutText(out, 0x0008, 0x0090, "PN", "REFERRING^DOCTOR");
    PutText(out, 0x0010, 0x0010, "PN", "SYNTHETIC^PATIENT" + number);
    PutText(out, 0x0010, 0x0020, "LO", "PID" + number);
    PutText(out, 0x0010, 0x0030, "DA", "19700101");
    PutText(out, 0x0020, 0x000D, "UI", kUidRoot + number);
    PutText(out, 0x0020, 0x1206, "IS", "2");
    PutText(out, 0x0020, 0x1208, "IS", "10");
    return out;
}

// One P-DATA-TF PDU holding one whole PDV (a command when `command`).
void PutPdu(std::string& out, std::string_view fragment, bool command) {
    out += '\x04';  // P-DATA-TF
    out += '\0';
    PutU32BigEndian(out, static_cast<std::uint32_t>(fragment.size() + 6));
    PutU32BigEndian(out, static_cast<std::uint32_t>(fragment.size() + 2));
    out += static_cast<char>(1);  // presentation context, patched per request
    out += static_cast<char>(command ? 0x03 : 0x02);
    out.append(fragment);
}

// Every PDU of one query's answer, built once; Retarget patches the
// presentation context and the message ID in place when a request needs
// others than the last one. Owned by main; one thread.
class Answer {
  public:
    explicit Answer(std::size_t count) : idOffset_(MessageIdOffset()) {
        const std::string pending = FindResponseCommand(kPending, true);
        bytes_.reserve(count * (pending.size() + 300) + 256);
        for (std::size_t n = 1; n <= count; ++n) {
            PutPdu(bytes_, pending, true);
            PutPdu(bytes_, StudyResponse(n), false);
        }
        PutPdu(bytes_, FindResponseCommand(0x0000, false), true);
    }

    void Retarget(std::uint8_t context, std::uint16_t messageId) {
        if (context == context_ && messageId == messageId_) return;
        for (std::size_t at = 0; at + 12 <= bytes_.size();) {
            const auto* pdu = reinterpret_cast<const unsigned char*>(bytes_.data() + at);
            const std::size_t length = (std::size_t{pdu[2]} << 24) | (std::size_t{pdu[3]} << 16) |
                                       (std::size_t{pdu[4]} << 8) | pdu[5];
            bytes_[at + 10] = static_cast<char>(context);
            if ((pdu[11] & 0x01) != 0) {
                bytes_[at + 12 + idOffset_] = static_cast<char>(messageId & 0xFF);
                bytes_[at + 12 + idOffset_ + 1] = static_cast<char>(messageId >> 8);
            }
            at += 6 + length;
        }
        context_ = context;
        messageId_ = messageId;
    }

    std::string_view Bytes() const { return bytes_; }

  private:
    std::size_t idOffset_;
    std::string bytes_;
    std::uint8_t context_ = 1;
    std::uint16_t messageId_ = 1;
};

// The socket DCMTK keeps to itself (a protected member).
struct SocketOf : DcmTransportConnection {
    static int Get(T_ASC_Association* assoc) {
        DcmTransportConnection* connection = DUL_getTransportConnection(assoc->DULassociation);
        return connection == nullptr ? -1 : (connection->*(&SocketOf::getSocket))();
    }
};

bool SendAll(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

struct NetworkDeleter {
    void operator()(T_ASC_Network* network) const { ASC_dropNetwork(&network); }
};

// Drops and frees an association, its parameters with it.
struct AssociationDeleter {
    void operator()(T_ASC_Association* assoc) const {
        ASC_dropSCPAssociation(assoc);
        ASC_destroyAssociation(&assoc);
    }
};
using Association = std::unique_ptr<T_ASC_Association, AssociationDeleter>;

// Every request of one association, until the caller releases it.
void Serve(T_ASC_Association* assoc, Answer& answer) {
    const int socket = SocketOf::Get(assoc);
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    while (true) {
        T_ASC_PresentationContextID context = 0;
        T_DIMSE_Message request{};
        OFCondition cond =
            DIMSE_receiveCommand(assoc, DIMSE_BLOCKING, 0, &context, &request, nullptr);
        if (cond == DUL_PEERREQUESTEDRELEASE) {
            ASC_acknowledgeRelease(assoc);
            return;
        }
        if (cond.bad() || request.CommandField != DIMSE_C_FIND_RQ) break;
        DcmDataset* received = nullptr;
        cond = DIMSE_receiveDataSetInMemory(assoc, DIMSE_BLOCKING, 0, &context, &received, nullptr,
                                            nullptr);
        std::unique_ptr<DcmDataset> identifier(received);
        if (cond.bad()) break;
        answer.Retarget(context, request.msg.CFindRQ.MessageID);
        if (!SendAll(socket, answer.Bytes())) break;
    }
    ASC_abortAssociation(assoc);
}

// A listening socket on 127.0.0.1 that DCMTK's network takes over: DCMTK
// binds its own to every interface.
void ListenOnLoopback(T_ASC_Network* network, std::uint16_t port) {
    const int own = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (own < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int reuse = 1;
    ::setsockopt(own, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::bind(own, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(own, 16) == 0 &&
                    ::dup3(own, DUL_networkSocket(network->network), O_CLOEXEC) >= 0;
    const int error = errno;
    ::close(own);
    if (!ok) throw std::runtime_error(std::string("cannot listen: ") + std::strerror(error));
}

std::uint16_t PortOf(T_ASC_Network* network) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(DUL_networkSocket(network->network), reinterpret_cast<sockaddr*>(&address),
                  &length);
    return ntohs(address.sin_port);
}

void Run(std::size_t count, std::uint16_t port) {
    Answer answer(count);
    T_ASC_Network* raw = nullptr;
    if (ASC_initializeNetwork(NET_ACCEPTOR, 0, 30, &raw).bad())
        throw std::runtime_error("cannot start the network");
    const std::unique_ptr<T_ASC_Network, NetworkDeleter> network(raw);
    ListenOnLoopback(network.get(), port);
    std::printf("%u\n", PortOf(network.get()));
    std::fflush(stdout);

    const char* syntaxes[] = {kStudyRoot};
    const char* transfer[] = {UID_LittleEndianExplicitTransferSyntax};
    while (true) {
        T_ASC_Association* accepted = nullptr;
        const OFCondition cond =
            ASC_receiveAssociation(network.get(), &accepted, ASC_DEFAULTMAXPDU);
        Association assoc(accepted);
        if (cond.bad()) continue;
        ASC_acceptContextsWithPreferredTransferSyntaxes(assoc->params, syntaxes, 1, transfer, 1);
        if (ASC_acknowledgeAssociation(assoc.get()).bad()) continue;
        Serve(assoc.get(), answer);
    }
}

// A whole number from `text`, or nullopt.
std::optional<unsigned long long> Number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long count = 0;
    unsigned long long port = 0;
    bool usable = argc % 2 == 1;
    bool counted = false;
    for (int i = 1; usable && i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::optional<unsigned long long> value = Number(argv[i + 1]);
        usable = value.has_value();
        if (usable && option == "--responses") {
            count = *value;
            counted = true;
        } else if (usable && option == "--port") {
            port = *value;
            usable = port <= 65535;
        } else {
            usable = false;
        }
    }
    if (!usable || !counted) {
        std::fprintf(stderr, "usage: lumo-replay-node --responses N [--port P]\n");
        return 2;
    }
    OFLog::configure(OFLogger::ERROR_LOG_LEVEL);
    try {
        Run(static_cast<std::size_t>(count), static_cast<std::uint16_t>(port));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumo-replay-node: %s\n", e.what());
        return 1;
    }
}
