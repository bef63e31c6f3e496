#include "dicom/listener/DicomViewer.h"

#include <arpa/inet.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/listener/EventLoopDispatcher.h"
#include "support/Exception.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::dicom {
namespace {

using lumo::testing::RunProgram;
using lumo::testing::TempDir;

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// A response data set carrying one Patient ID.
DicomDataSet Response(const std::string& patientId) {
    DicomDataSet dataSet;
    dataSet.DataSetAttributes().AttributesAdd(0x0010, 0x0020, Variant(patientId));
    return dataSet;
}

std::string PatientIdInFile(const std::string& path) {
    DcmFileFormat file;
    if (file.loadFile(path.c_str()).bad()) return "<unreadable>";
    OFString value;
    file.getDataset()->findAndGetOFString(DCM_PatientID, value);
    return value.c_str();
}

// A plain TCP client on the listener's port, from `from` (any loopback
// address): for callers that do not speak DICOM. Owns the socket.
class RawSocket {
  public:
    explicit RawSocket(int port, const char* from = "127.0.0.1")
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &source.sin_addr);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ =
            ::bind(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0 &&
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawSocket() { ::close(fd_); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool Connected() const { return connected_; }
    void Send(const std::string& bytes) {
        [[maybe_unused]] ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // The type and body of the next protocol data unit; type 0 when the
    // listener closed the connection.
    std::pair<int, std::string> ReadPdu() {
        unsigned char header[6];
        if (::recv(fd_, header, sizeof header, MSG_WAITALL) != sizeof header) return {0, {}};
        std::size_t length = (std::size_t{header[2]} << 24) | (std::size_t{header[3]} << 16) |
                             (std::size_t{header[4]} << 8) | header[5];
        std::string body(length, '\0');
        if (length > 0 &&
            ::recv(fd_, body.data(), length, MSG_WAITALL) != static_cast<ssize_t>(length)) {
            return {0, {}};
        }
        return {header[0], body};
    }
    // Blocks until the listener closes the connection; true when it did.
    bool WaitForClose() {
        char buffer[256];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return true;
        }
    }
    // Sends `bytes` one at a time, `pause` apart; true when the listener
    // closed the connection before the last one.
    bool ClosedWhileDribbling(const std::string& bytes, std::chrono::milliseconds pause) {
        for (char byte : bytes) {
            Send(std::string(1, byte));
            pollfd fd{fd_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(pause.count())) > 0) return true;
        }
        return false;
    }

  private:
    int fd_;
    bool connected_ = false;
};

// Hand-made protocol data units, for a request DCMTK itself refuses to send.
std::string Be16(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}
std::string Be32(std::uint32_t v) {
    return Be16(static_cast<std::uint16_t>(v >> 16)) + Be16(static_cast<std::uint16_t>(v));
}
std::string Le16(std::uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string Le32(std::uint32_t v) {
    return Le16(static_cast<std::uint16_t>(v)) + Le16(static_cast<std::uint16_t>(v >> 16));
}
std::string Item(char type, const std::string& body) {
    return std::string{type, '\0'} + Be16(static_cast<std::uint16_t>(body.size())) + body;
}
std::string Title(std::string title) {
    title.resize(16, ' ');
    return title;
}
std::string Pdu(char type, const std::string& body) {
    return std::string{type, '\0'} + Be32(static_cast<std::uint32_t>(body.size())) + body;
}
std::string AssociateRequest(const std::string& sopClass, const std::string& calling = "RAWBYTES",
                             const std::string& called = "LUMO", bool transferSyntax = true) {
    const std::string context =
        std::string("\x01\0\0\0", 4) + Item('\x30', sopClass) +
        (transferSyntax ? Item('\x40', UID_LittleEndianImplicitTransferSyntax) : std::string());
    return Pdu('\x01', Be16(1) + Be16(0) + Title(called) + Title(calling) + std::string(32, '\0') +
                           Item('\x10', UID_StandardApplicationContext) + Item('\x20', context) +
                           Item('\x50', Item('\x51', Be32(16384)) + Item('\x52', "1.2.3.4")));
}
std::string CommandElement(std::uint16_t element, std::string value) {
    if (value.size() % 2 != 0) value.push_back('\0');
    return Le16(0) + Le16(element) + Le32(static_cast<std::uint32_t>(value.size())) + value;
}
// One PDV in a P-DATA-TF: `control` says command (1) or data set (0), and last (2).
std::string DataPdu(char control, const std::string& fragment) {
    return Pdu('\x04',
               Be32(static_cast<std::uint32_t>(fragment.size() + 2)) + '\x01' + control + fragment);
}
// A command (implicit VR little endian) in one PDV.
std::string CommandPdu(const std::string& elements) {
    return DataPdu(
        '\x03',
        CommandElement(0x0000, Le32(static_cast<std::uint32_t>(elements.size()))) + elements);
}
// A C-FIND request whose command says that no identifier follows, or that
// `identifier` follows (sent in fragments the listener's PDU size allows).
std::string FindRequest(const std::string& sopClass,
                        const std::optional<std::string>& identifier = std::nullopt,
                        std::uint16_t messageID = 1) {
    const std::uint16_t dataSetType = identifier ? 0x0000 : 0x0101;
    std::string pdus =
        CommandPdu(CommandElement(0x0002, sopClass) + CommandElement(0x0100, Le16(0x0020)) +
                   CommandElement(0x0110, Le16(messageID)) + CommandElement(0x0700, Le16(0)) +
                   CommandElement(0x0800, Le16(dataSetType)));
    for (std::size_t at = 0; identifier && at < identifier->size(); at += 16000) {
        const bool last = at + 16000 >= identifier->size();
        pdus += DataPdu(last ? '\x02' : '\x00', identifier->substr(at, 16000));
    }
    return pdus;
}
// A C-CANCEL-RQ for the request of `messageID`.
std::string CancelRequest(std::uint16_t messageID) {
    return CommandPdu(CommandElement(0x0100, Le16(0x0FFF)) +
                      CommandElement(0x0120, Le16(messageID)) +
                      CommandElement(0x0800, Le16(0x0101)));
}
// An identifier (implicit VR) whose sequences nest `depth` levels deep.
std::string NestedIdentifier(int depth) {
    const std::string open = Le16(0x0040) + Le16(0x0100) + Le32(0xFFFFFFFF) + Le16(0xFFFE) +
                             Le16(0xE000) + Le32(0xFFFFFFFF);
    const std::string close =
        Le16(0xFFFE) + Le16(0xE00D) + Le32(0) + Le16(0xFFFE) + Le16(0xE0DD) + Le32(0);
    std::string bytes;
    for (int i = 0; i < depth; ++i) bytes += open;
    for (int i = 0; i < depth; ++i) bytes += close;
    return bytes;
}
// An identifier (implicit VR) of one name `length` bytes long.
std::string NameIdentifier(std::uint32_t length) {
    return Le16(0x0010) + Le16(0x0010) + Le32(length) + std::string(length, 'A');
}
// The value of the command element (0000,`element`) in a P-DATA-TF body
// holding one command PDV, trailing blanks left out.
std::string CommandValue(const std::string& body, std::uint16_t element) {
    const auto le = [&](std::size_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(body[at + i]);
        return value;
    };
    for (std::size_t at = 6; at + 8 <= body.size(); at += 8 + le(at + 4, 4)) {
        if (le(at + 2, 2) != element) continue;
        const std::string value = body.substr(at + 8, le(at + 4, 4));
        return value.substr(0, value.find_last_not_of(std::string(" \0", 2)) + 1);
    }
    return {};
}
// What the listener answered, in words: an acceptance (and the contexts it
// refused, with their result), a rejection's result, source and reason, a
// response's status, the message it answers and its error comment, or the
// end.
std::string Answer(RawSocket& caller) {
    const std::pair<int, std::string> pdu = caller.ReadPdu();
    const int type = pdu.first;
    const std::string& body = pdu.second;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(body[i]); };
    if (type == 0x03) {
        return "A-ASSOCIATE-RJ " + std::to_string(byte(1)) + " " + std::to_string(byte(2)) + " " +
               std::to_string(byte(3));
    }
    if (type == 0x02) {
        std::string refused;
        for (std::size_t at = 68; at + 8 <= body.size();
             at += 4 + (byte(at + 2) << 8) + byte(at + 3))
            if (byte(at) == 0x21 && byte(at + 6) != 0)
                refused += " refusing " + std::to_string(byte(at + 4)) + " (" +
                           std::to_string(byte(at + 6)) + ")";
        return "A-ASSOCIATE-AC" + refused;
    }
    if (type != 0x04) {
        return type == 0x00 ? "closed" : type == 0x07 ? "A-ABORT" : "PDU " + std::to_string(type);
    }
    std::string status = CommandValue(body, 0x0900);
    std::string to = CommandValue(body, 0x0120);
    status.resize(2, '\0');
    to.resize(2, '\0');
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%02X", static_cast<unsigned char>(status[1]),
                  static_cast<unsigned char>(status[0]));
    const int id = static_cast<unsigned char>(to[0]) | static_cast<unsigned char>(to[1]) << 8;
    const std::string comment = CommandValue(body, 0x0902);
    return std::string("C-FIND-RSP ") + hex + " to " + std::to_string(id) +
           (comment.empty() ? "" : ": " + comment);
}
// Sends each of `requests` in turn and tells the answer to each.
std::string Exchange(RawSocket& caller, const std::vector<std::string>& requests) {
    std::string answers;
    for (const std::string& request : requests) {
        caller.Send(request);
        answers += (answers.empty() ? "" : ", ") + Answer(caller);
    }
    return answers;
}

// A DICOM caller built from DCMTK's association calls, for what findscu
// cannot do: abort, or stay silent. Owns its network and association; used
// from one thread.
class RawCaller {
  public:
    RawCaller() { ASC_initializeNetwork(NET_REQUESTOR, 0, 10, &network_); }
    ~RawCaller() {
        if (association_ != nullptr) {
            ASC_abortAssociation(association_);
            ASC_destroyAssociation(&association_);
        }
        if (network_ != nullptr) ASC_dropNetwork(&network_);
    }
    RawCaller(const RawCaller&) = delete;
    RawCaller& operator=(const RawCaller&) = delete;

    bool Associate(int port, const char* sopClass) {
        T_ASC_Parameters* params = nullptr;
        if (ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU).bad()) return false;
        ASC_setAPTitles(params, "RAWCALLER", "LUMO", nullptr);
        const std::string peer = "127.0.0.1:" + std::to_string(port);
        ASC_setPresentationAddresses(params, "localhost", peer.c_str());
        const char* syntaxes[] = {UID_LittleEndianImplicitTransferSyntax};
        ASC_addPresentationContext(params, 1, sopClass, syntaxes, 1);
        if (ASC_requestAssociation(network_, params, &association_, nullptr, nullptr, DUL_NOBLOCK,
                                   10)
                .bad()) {
            ASC_destroyAssociation(&association_);
            return false;
        }
        return ASC_countAcceptedPresentationContexts(association_->params) == 1;
    }

    void Abort() {
        ASC_abortAssociation(association_);
        ASC_destroyAssociation(&association_);
    }
    // Closes the connection without a word.
    void Drop() {
        ASC_dropAssociation(association_);
        ASC_destroyAssociation(&association_);
    }

    // Sends a C-FIND request (one key) and reads nothing back.
    bool SendFind(const char* sopClass) {
        T_DIMSE_Message message{};
        message.CommandField = DIMSE_C_FIND_RQ;
        T_DIMSE_C_FindRQ& request = message.msg.CFindRQ;
        request.MessageID = 1;
        OFStandard::strlcpy(request.AffectedSOPClassUID, sopClass,
                            sizeof request.AffectedSOPClassUID);
        request.DataSetType = DIMSE_DATASET_PRESENT;
        request.Priority = DIMSE_PRIORITY_MEDIUM;
        DcmDataset identifier;
        identifier.putAndInsertString(DCM_PatientID, "RAW");
        return DIMSE_sendMessageUsingMemoryData(association_, 1, &message, nullptr, &identifier,
                                                nullptr, nullptr)
            .good();
    }

  private:
    T_ASC_Network* network_ = nullptr;
    T_ASC_Association* association_ = nullptr;
};

// A listener on an ephemeral loopback port whose events run on the test's
// thread, and a findscu run as its real caller.
class ViewerNet : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(viewer.ViewerListen(0));
        port = viewer.ListeningPort();
        ASSERT_GT(port, 0);
    }

    // Runs `work` on another thread while this thread serves the events.
    void Serving(const std::function<void()>& work) {
        std::atomic<bool> done = false;
        std::thread runner([&] {
            work();
            done = true;
            dispatcher.Post([] {});
        });
        dispatcher.RunUntil([&] { return done.load(); });
        runner.join();
    }
    Outcome RunServing(const std::vector<std::string>& arguments) {
        Outcome outcome;
        Serving([&] { outcome.exitCode = RunProgram(arguments, &outcome.output); });
        return outcome;
    }

    // findscu with short timeouts of its own (never waits forever), writing
    // every response it receives into `folder`.
    Outcome Findscu(const std::string& model, const std::vector<std::string>& keys,
                    const std::string& folder, const std::string& calling = "CALLER",
                    const std::string& called = "LUMO") {
        std::vector<std::string> arguments = {"findscu", "-v",  model, "-aet", calling, "-aec",
                                              called,    "-to", "20",  "-ta",  "20",    "-td",
                                              "20",      "-X",  "-od", folder};
        // findscu insists on at least one key.
        for (const auto& key : keys.empty() ? std::vector<std::string>{"0010,0020="} : keys) {
            arguments.push_back("-k");
            arguments.push_back(key);
        }
        arguments.push_back("127.0.0.1");
        arguments.push_back(std::to_string(port));
        return RunServing(arguments);
    }

    // A handler that answers with one response per Patient ID, then success.
    void AnswerWith(std::vector<std::string> patientIds) {
        viewer.OnQueryRequest = [patientIds](DicomViewer&, DicomConnection& connection) {
            DicomDataSets responses;
            for (const auto& id : patientIds) responses.DataSetsAppend(Response(id));
            connection.ConnectionSendResponses(responses, 0xFF00);
            connection.ConnectionSendStatus(0);
        };
    }

    EventLoopDispatcher dispatcher;
    DicomViewer viewer{dispatcher};
    int port = 0;
    TempDir folder{"lumo-viewer"};
};

// --- answering queries ---------------------------------------------------

TEST_F(ViewerNet, SendsEveryResponseAsPendingThenTheFinalStatus) {
    AnswerWith({"PAT1", "PAT2", "PAT3"});
    const Outcome outcome = Findscu("-W", {"0010,0020="}, folder.Path());
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "PAT1");
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0002.dcm")), "PAT2");
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0003.dcm")), "PAT3");
    EXPECT_FALSE(std::filesystem::exists(folder.File("rsp0004.dcm")));
    EXPECT_NE(outcome.output.find("Received Final Find Response (Success)"), std::string::npos)
        << outcome.output;
}

TEST_F(ViewerNet, AnEmptyCollectionGivesOnlyTheFinalStatus) {
    AnswerWith({});
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_FALSE(std::filesystem::exists(folder.File("rsp0001.dcm")));
    EXPECT_NE(outcome.output.find("Received Final Find Response (Success)"), std::string::npos)
        << outcome.output;
}

TEST_F(ViewerNet, RaisesEventsOnTheDispatcherThread) {
    std::vector<std::thread::id> threads;
    viewer.OnAssociationRequest2 = [&](DicomViewer&, DicomConnection&, bool& isOK) {
        threads.push_back(std::this_thread::get_id());
        isOK = true;
    };
    viewer.OnQueryRequest = [&](DicomViewer& sender, DicomConnection& connection) {
        threads.push_back(std::this_thread::get_id());
        EXPECT_EQ(&sender, &viewer);
        EXPECT_TRUE(connection.ConnectionIsWaiting());
        connection.ConnectionSendStatus(0);
        EXPECT_FALSE(connection.ConnectionIsWaiting());
    };
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads[0], std::this_thread::get_id());
    EXPECT_EQ(threads[1], std::this_thread::get_id());
}

TEST_F(ViewerNet, TellsTheRootOfEachFindClass) {
    std::vector<std::string> roots;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        roots.push_back(connection.ConnectionRoot());
        connection.ConnectionSendStatus(0);
    };
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(Findscu("-P", {"0008,0052=PATIENT"}, folder.Path()).exitCode, 0);
    EXPECT_EQ(Findscu("-S", {"0008,0052=STUDY"}, folder.Path()).exitCode, 0);
    EXPECT_EQ(roots, (std::vector<std::string>{"WORKLIST", "PATIENT", "STUDY"}));
}

TEST_F(ViewerNet, LendsTheCallersTitlesAndIdentifier) {
    std::string calling, called, patientId, accession;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        calling = connection.ConnectionCallingAETitle();
        called = connection.ConnectionCalledAETitle();
        patientId = connection.ConnectionRequest().DataSetPatientID();
        accession = connection.ConnectionRequest().DataSetAccessionNumber();
        connection.ConnectionSendStatus(0);
    };
    const Outcome outcome = Findscu("-W", {"0010,0020=DOS123", "0008,0050=ACC9"}, folder.Path(),
                                    "MODALITY1", "RELAY_AE");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(calling, "MODALITY1");
    EXPECT_EQ(called, "RELAY_AE");
    EXPECT_EQ(patientId, "DOS123");
    EXPECT_EQ(accession, "ACC9");
}

// --- requests left unanswered ---------------------------------------------

TEST_F(ViewerNet, AHandlerThatSendsNothingGivesUnableToProcess) {
    int requests = 0;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection&) { ++requests; };
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_EQ(requests, 1);
    EXPECT_NE(outcome.output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << outcome.output;
}

TEST_F(ViewerNet, AHandlerThatSendsOnlyPendingResponsesStillGetsAFinalStatus) {
    viewer.OnQueryRequest = [](DicomViewer&, DicomConnection& connection) {
        DicomDataSets responses;
        responses.DataSetsAppend(Response("ONLY"));
        connection.ConnectionSendResponses(responses, 0xFF00);
    };
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "ONLY");
    EXPECT_NE(outcome.output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << outcome.output;
}

TEST_F(ViewerNet, AThrowingHandlerGivesUnableToProcessAndTheListenerGoesOn) {
    viewer.OnQueryRequest = [](DicomViewer&, DicomConnection&) {
        throw Exception(ErrorClass::EDicomNetworkError, "relay failed");
    };
    const Outcome failed = Findscu("-W", {}, folder.Path());
    EXPECT_NE(failed.output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << failed.output;

    AnswerWith({"AFTER"});
    const Outcome next = Findscu("-W", {}, folder.Path());
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "AFTER");
}

TEST_F(ViewerNet, NoHandlerAtAllStillAnswers) {
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_NE(outcome.output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << outcome.output;
}

// --- associations -----------------------------------------------------------

TEST_F(ViewerNet, NumbersAssociationsAndServesASecondAfterTheFirst) {
    std::vector<int> atAssociation, atQuery;
    viewer.OnAssociationRequest2 = [&](DicomViewer&, DicomConnection& connection, bool& isOK) {
        atAssociation.push_back(connection.ConnectionNumber());
        isOK = true;
    };
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        atQuery.push_back(connection.ConnectionNumber());
        connection.ConnectionSendStatus(0);
    };
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(Findscu("-S", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(Findscu("-P", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(atAssociation, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(atQuery, (std::vector<int>{1, 2, 3}));
}

TEST_F(ViewerNet, NumbersGoOnAfterARestart) {
    std::vector<int> numbers;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        numbers.push_back(connection.ConnectionNumber());
        connection.ConnectionSendStatus(0);
    };
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    viewer.ViewerStop();
    ASSERT_TRUE(viewer.ViewerListen(0));
    port = viewer.ListeningPort();
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2}));
}

TEST_F(ViewerNet, AHandlerThatSaysNoRejectsTheAssociation) {
    bool queried = false;
    viewer.OnAssociationRequest2 = [](DicomViewer&, DicomConnection&, bool& isOK) { isOK = false; };
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        queried = true;
        connection.ConnectionSendStatus(0);
    };
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_NE(outcome.exitCode, 0);
    EXPECT_NE(outcome.output.find("Association Rejected"), std::string::npos) << outcome.output;
    EXPECT_FALSE(queried);
}

TEST_F(ViewerNet, AnswersEcho) {
    const Outcome outcome = RunServing(
        {"echoscu", "-to", "20", "-ta", "20", "-td", "20", "127.0.0.1", std::to_string(port)});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

// --- sending on a finished request or a dead association ---------------------

TEST_F(ViewerNet, ASendAfterTheFinalStatusRaises) {
    std::string error;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        connection.ConnectionSendStatus(0);
        try {
            connection.ConnectionSendResponses(DicomDataSets(), 0xFF00);
        } catch (const Exception& e) {
            error = e.ClassName() + ":" + e.Message();
        }
    };
    const Outcome outcome = Findscu("-W", {}, folder.Path());
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(error, "EDicomConnectionError:Connection 1: no request is waiting for a response");
}

TEST_F(ViewerNet, AConnectionKeptAfterItsAssociationEndedRefusesToSend) {
    std::optional<DicomConnection> kept;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        kept = connection;
        connection.ConnectionSendStatus(0);
    };
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    // findscu has released; stopping waits until the listener has ended the
    // association, so what follows does not race with it.
    viewer.ViewerStop();
    ASSERT_TRUE(kept.has_value());
    EXPECT_FALSE(kept->ConnectionIsWaiting());
    try {
        kept->ConnectionSendStatus(0);
        FAIL() << "a send on an ended association must raise";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EDicomConnectionError");
        EXPECT_EQ(e.Message(), "Connection 1: the association has ended");
    }
}

// --- a caller that cancels or goes while the handler works ------------------

// Waits up to `bound` for `stop`; true when it was requested.
bool StopWithin(const std::stop_token& stop, std::chrono::seconds bound) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    return never.wait_for(lock, stop, bound, [&stop] { return stop.stop_requested(); });
}

// findscu cancels after two responses: the handler, waiting on a silent
// upstream as a relay would, hears it at once and ends with Cancel after the
// responses sent. The next query on the association (a second query file)
// has a stop of its own and is served as usual.
TEST_F(ViewerNet, ACancelStopsTheHandlerAndTheCallerGetsCancelAfterTheResponsesSent) {
    std::vector<std::pair<bool, bool>> heard;  // stop requested, cancelled
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        const std::stop_token stop = connection.ConnectionStopToken();
        connection.ConnectionSendResponse(Response("R1"), 0xFF00);
        connection.ConnectionSendResponse(Response("R2"), 0xFF00);
        const bool first = heard.empty();
        const bool stopped =
            first ? StopWithin(stop, std::chrono::seconds(20)) : stop.stop_requested();
        heard.emplace_back(stopped, connection.ConnectionCancelled());
        connection.ConnectionSendStatus(connection.ConnectionCancelled() ? 0xFE00 : 0);
    };
    std::vector<std::string> arguments = {"findscu",  "-v",   "-W",        "-aet",
                                          "CALLER",   "-aec", "LUMO",      "-to",
                                          "20",       "-ta",  "20",        "-td",
                                          "20",       "-X",   "-od",       folder.Path(),
                                          "--cancel", "2",    "127.0.0.1", std::to_string(port)};
    for (const char* name : {"q1.dcm", "q2.dcm"}) {
        DcmFileFormat query;
        query.getDataset()->putAndInsertString(DCM_PatientID, "");
        ASSERT_TRUE(query.saveFile(folder.File(name).c_str(), EXS_LittleEndianExplicit).good());
        arguments.push_back(folder.File(name));
    }
    const Outcome outcome = RunServing(arguments);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(heard, (std::vector<std::pair<bool, bool>>{{true, true}, {false, false}}));
    // findscu numbers its files on across queries, the final response included.
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0002.dcm")), "R2");
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0005.dcm")), "R2");
    const std::size_t cancel =
        outcome.output.find("Received Final Find Response (Cancel: MatchingTerminatedDueToCancel");
    EXPECT_LT(outcome.output.find("rsp0002.dcm"), cancel) << outcome.output;
    EXPECT_NE(outcome.output.find("Received Final Find Response (Success)", cancel),
              std::string::npos)
        << outcome.output;
}

// A cancel that comes after the final status is about nothing: it is read,
// never answered, and the next query on the association is served.
TEST_F(ViewerNet, ALateCancelIsDroppedAndTheAssociationGoesOn) {
    AnswerWith({"ONLY"});
    std::vector<std::string> arguments = {
        "findscu",  "-v",  "-W",  "-aet",        "CALLER",    "-aec",
        "LUMO",     "-to", "20",  "-ta",         "20",        "-td",
        "20",       "-X",  "-od", folder.Path(), "--cancel",  "1",
        "--repeat", "2",   "-k",  "0010,0020=",  "127.0.0.1", std::to_string(port)};
    const Outcome outcome = RunServing(arguments);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0003.dcm")), "ONLY") << outcome.output;
    EXPECT_EQ(outcome.output.find("Aborting"), std::string::npos) << outcome.output;
}

// A caller that aborts or drops its association mid-request: the handler's
// stop comes at once, sending raises, and the next caller is served.
TEST_F(ViewerNet, ACallerThatGoesStopsTheHandlerAndLeavesTheListenerServing) {
    for (const bool abort : {true, false}) {
        SCOPED_TRACE(abort ? "abort" : "drop");
        std::atomic<bool> lent = false;
        bool stopped = false, cancelled = true, waiting = true;
        std::string error;
        viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
            lent = true;
            stopped = StopWithin(connection.ConnectionStopToken(), std::chrono::seconds(20));
            cancelled = connection.ConnectionCancelled();
            waiting = connection.ConnectionIsWaiting();
            try {
                connection.ConnectionSendResponse(Response("LATE"), 0xFF00);
            } catch (const Exception& e) {
                error = e.ClassName() + ":" + e.Message();
            }
        };
        Serving([&] {
            RawCaller caller;
            if (!caller.Associate(port, UID_FINDModalityWorklistInformationModel) ||
                !caller.SendFind(UID_FINDModalityWorklistInformationModel)) {
                return;
            }
            for (int i = 0; i < 2000 && !lent; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            abort ? caller.Abort() : caller.Drop();
        });
        EXPECT_TRUE(stopped);
        EXPECT_FALSE(cancelled);
        EXPECT_FALSE(waiting);
        EXPECT_EQ(error.rfind("EDicomConnectionError:Connection ", 0), 0u) << error;
    }
    AnswerWith({"NEXT"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "NEXT");
}

// --- the port ---------------------------------------------------------------

TEST_F(ViewerNet, APortInUseGivesFalse) {
    DicomViewer second(dispatcher);
    EXPECT_FALSE(second.ViewerListen(port));
    EXPECT_EQ(second.ListeningPort(), 0);
    EXPECT_FALSE(second.ViewerListen(70000));
}

// --- hostile and broken callers ---------------------------------------------

TEST_F(ViewerNet, GarbageBytesAreDroppedAndTheNextCallerIsServed) {
    RawSocket garbage(port);
    ASSERT_TRUE(garbage.Connected());
    garbage.Send(std::string("\x07\x00\x00\x00\xff\xff\xff\xffnot dicom at all", 24));
    EXPECT_TRUE(garbage.WaitForClose());

    AnswerWith({"NEXT"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "NEXT");
}

TEST_F(ViewerNet, ASilentCallerDoesNotHoldUpTheNextOne) {
    RawSocket silentTcp(port);  // connects and never says a word
    ASSERT_TRUE(silentTcp.Connected());
    RawCaller silentDicom;  // associates and then says nothing more
    std::atomic<bool> associated = false;
    std::thread associating([&] {
        associated = silentDicom.Associate(port, UID_FINDModalityWorklistInformationModel);
        dispatcher.Post([] {});
    });
    dispatcher.RunUntil([&] { return associated.load(); });
    associating.join();
    ASSERT_TRUE(associated);

    AnswerWith({"SERVED"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "SERVED");
    // Both silent callers are still connected: stopping must cut them.
    viewer.ViewerStop();
    EXPECT_TRUE(silentTcp.WaitForClose());
}

TEST_F(ViewerNet, AnAbortedAssociationLeavesTheListenerServing) {
    {
        RawCaller aborting;
        std::atomic<bool> associated = false;
        std::thread associating([&] {
            associated = aborting.Associate(port, UID_FINDStudyRootQueryRetrieveInformationModel);
            dispatcher.Post([] {});
        });
        dispatcher.RunUntil([&] { return associated.load(); });
        associating.join();
        ASSERT_TRUE(associated);
        aborting.Abort();
    }
    AnswerWith({"AFTER_ABORT"});
    EXPECT_EQ(Findscu("-S", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "AFTER_ABORT");
}

TEST_F(ViewerNet, ARequestWithoutIdentifierIsAbortedAndTheListenerGoesOn) {
    bool queried = false;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        queried = true;
        connection.ConnectionSendStatus(0);
    };
    int accepted = -1, answer = -1;
    std::atomic<bool> done = false;
    std::thread calling([&] {
        RawSocket caller(port);
        caller.Send(AssociateRequest(UID_FINDModalityWorklistInformationModel));
        accepted = caller.ReadPdu().first;
        caller.Send(FindRequest(UID_FINDModalityWorklistInformationModel));
        answer = caller.ReadPdu().first;
        done = true;
        dispatcher.Post([] {});
    });
    dispatcher.RunUntil([&] { return done.load(); });
    calling.join();
    EXPECT_EQ(accepted, 0x02);  // A-ASSOCIATE-AC
    EXPECT_EQ(answer, 0x07);    // A-ABORT: a broken request ends its association
    EXPECT_FALSE(queried);

    AnswerWith({"AFTER_BROKEN"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "AFTER_BROKEN");
}

// Callers that would crash the listener, fill its memory or hold it.
TEST_F(ViewerNet, HostileRequestsAreRefusedAndTheListenerGoesOn) {
    viewer.SetTimeouts(2, 60);  // a request must come whole within 2 s
    ASSERT_TRUE(viewer.ViewerListen(0));
    port = viewer.ListeningPort();
    bool queried = false;
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection&) { queried = true; };
    const std::string wl = UID_FINDModalityWorklistInformationModel;
    const std::string request = AssociateRequest(wl);
    const struct {
        std::vector<std::string> requests;
        std::string expected;
    } cases[] = {
        {{AssociateRequest(wl, "  ")}, "A-ASSOCIATE-RJ 1 1 3"},
        {{AssociateRequest(wl, "RAWBYTES", "")}, "A-ASSOCIATE-RJ 1 1 7"},
        {{request, FindRequest(wl, NestedIdentifier(10000))},
         "A-ASSOCIATE-AC, C-FIND-RSP A900 to 1: Sequences in the identifier nest deeper than 64 "
         "levels"},
        {{request, FindRequest(wl, NameIdentifier(5 << 20))}, "A-ASSOCIATE-AC, A-ABORT"},
        // DCMTK alone would answer nothing, and lose memory on the way.
        {{AssociateRequest(wl, "RAWBYTES", "LUMO", false)}, "A-ASSOCIATE-AC refusing 1 (4)"},
    };
    for (const auto& c : cases) {
        std::string answers;
        Serving([&] {
            RawSocket caller(port);
            answers = Exchange(caller, c.requests);
        });
        EXPECT_EQ(answers, c.expected);
    }
    RawSocket dribbling(port);
    EXPECT_TRUE(
        dribbling.ClosedWhileDribbling(request.substr(0, 60), std::chrono::milliseconds(200)));
    EXPECT_FALSE(queried);
    AnswerWith({"STILL_SERVING"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "STILL_SERVING");
}

TEST_F(ViewerNet, HalfOpenRequestsDoNotHoldUpOtherCallers) {
    const std::string request = AssociateRequest(UID_FINDModalityWorklistInformationModel);
    std::vector<std::unique_ptr<RawSocket>> silent;  // from one host, 40 bytes each
    for (int i = 0; i < 64; ++i) {
        silent.push_back(std::make_unique<RawSocket>(port, "127.0.0.2"));
        silent.back()->Send(request.substr(0, 40));
    }
    AnswerWith({"SERVED"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "SERVED");
    std::string answer;  // that host holds as many associations as one host may
    Serving([&] {
        RawSocket more(port, "127.0.0.2");
        answer = Exchange(more, {request});
    });
    EXPECT_EQ(answer, "A-ASSOCIATE-RJ 2 3 2");
}

TEST_F(ViewerNet, SetLimitsBoundTheAssociationsInAllAndTheIdentifiers) {
    viewer.SetLimits({.maxAssociations = 3, .maxIdentifierBytes = 1024});
    ASSERT_TRUE(viewer.ViewerListen(0));
    port = viewer.ListeningPort();
    const std::string wl = UID_FINDModalityWorklistInformationModel;
    RawSocket first(port, "127.0.0.2"), second(port, "127.0.0.3");  // silent, in negotiation
    std::string answers;
    Serving([&] {
        RawSocket third(port, "127.0.0.4"), fourth(port, "127.0.0.5");
        answers = Exchange(third, {AssociateRequest(wl)});
        answers += ", " + Exchange(fourth, {AssociateRequest(wl)});
        answers += ", " + Exchange(third, {FindRequest(wl, NameIdentifier(1024))});
    });
    EXPECT_EQ(answers, "A-ASSOCIATE-AC, A-ASSOCIATE-RJ 2 3 2, A-ABORT");
}

// While a request runs, only a C-CANCEL for its own message ID stops it:
// one for another ID is dropped, and a second C-FIND is refused on its own
// message ID (A700) while the first goes on.
TEST_F(ViewerNet, WhileARequestRunsOnlyItsOwnCancelStopsItAndASecondFindIsRefused) {
    std::atomic<bool> refusalRead = false, checked = false;
    bool stoppedBefore = true, stoppedAfter = false;
    const auto await = [](const std::atomic<bool>& flag) {
        for (int i = 0; i < 2000 && !flag; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    viewer.OnQueryRequest = [&](DicomViewer&, DicomConnection& connection) {
        await(refusalRead);
        stoppedBefore = connection.ConnectionStopToken().stop_requested();
        checked = true;
        stoppedAfter = StopWithin(connection.ConnectionStopToken(), std::chrono::seconds(20));
        connection.ConnectionSendStatus(connection.ConnectionCancelled() ? 0xFE00 : 0);
    };
    const std::string wl = UID_FINDModalityWorklistInformationModel;
    std::string answers;
    Serving([&] {
        RawSocket caller(port);
        answers = Exchange(caller, {AssociateRequest(wl)});
        caller.Send(FindRequest(wl, NameIdentifier(4), 7) + CancelRequest(8));
        answers += ", " + Exchange(caller, {FindRequest(wl, NameIdentifier(4), 9)});
        refusalRead = true;
        await(checked);
        answers += ", " + Exchange(caller, {CancelRequest(7)});
    });
    EXPECT_EQ(answers,
              "A-ASSOCIATE-AC, C-FIND-RSP A700 to 9: A C-FIND is already in progress on this "
              "association, C-FIND-RSP FE00 to 7");
    EXPECT_FALSE(stoppedBefore);
    EXPECT_TRUE(stoppedAfter);
}

// Callers from other addresses that connect and never finish their
// association request hold every place: a caller from an address that
// holds none takes the place of one of them, and is served.
TEST_F(ViewerNet, HalfOpenCallersGiveWayToACallerFromAnAddressHoldingNothing) {
    viewer.SetLimits({.maxAssociations = 8, .maxAssociationsPerAddress = 4});
    ASSERT_TRUE(viewer.ViewerListen(0));
    port = viewer.ListeningPort();
    const std::string request = AssociateRequest(UID_FINDModalityWorklistInformationModel);
    std::vector<std::unique_ptr<RawSocket>> flood;
    for (const char* from : {"127.0.0.2", "127.0.0.3"}) {
        for (int i = 0; i < 4; ++i) {
            flood.push_back(std::make_unique<RawSocket>(port, from));
            flood.back()->Send(request.substr(0, 40));
        }
    }
    AnswerWith({"SERVED"});
    EXPECT_EQ(Findscu("-W", {}, folder.Path()).exitCode, 0);
    EXPECT_EQ(PatientIdInFile(folder.File("rsp0001.dcm")), "SERVED");
}

// A dispatcher that holds every task until the test runs it, to stop the
// viewer while an association's thread waits for the form's thread.
class HoldingDispatcher : public Dispatcher {
  public:
    void Invoke(const std::function<void()>& task) override {
        std::promise<void> done;
        Post([&] {
            task();
            done.set_value();
        });
        done.get_future().get();
    }
    bool Post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            held_.push_back(std::move(task));
        }
        changed_.notify_all();
        return true;
    }
    // A guard against a broken listener, not a measure of speed.
    bool WaitForTask() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return !held_.empty(); });
    }
    void RunHeld() {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(held_);
        }
        for (auto& task : tasks) task();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::function<void()>> held_;
};

// The threads of this process.
std::size_t ThreadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// Stopping lets go of the event waiting for the form's thread: every thread
// of the listener has ended when it returns (a thread left behind would
// still be inside DCMTK while the program ends), and the event, run late,
// does nothing.
TEST(ViewerStopNet, StoppingWhileAnEventWaitsForTheFormThreadNeitherHangsNorRaisesIt) {
    const std::size_t before = ThreadCount();
    HoldingDispatcher dispatcher;
    bool handled = false;
    bool associated = true;
    RawCaller caller;
    std::thread calling;
    {
        DicomViewer viewer(dispatcher);
        viewer.OnAssociationRequest2 = [&](DicomViewer&, DicomConnection&, bool&) {
            handled = true;
        };
        ASSERT_TRUE(viewer.ViewerListen(0));
        const int port = viewer.ListeningPort();
        calling = std::thread(
            [&] { associated = caller.Associate(port, UID_FINDModalityWorklistInformationModel); });
        ASSERT_TRUE(dispatcher.WaitForTask());
        viewer.ViewerStop();  // on the form's thread, with the event still held
        calling.join();
        EXPECT_EQ(ThreadCount(), before);
    }
    dispatcher.RunHeld();  // the form's thread gets to the event after the viewer is gone
    EXPECT_FALSE(handled);
    EXPECT_FALSE(associated);
}

}  // namespace
}  // namespace lumo::dicom
