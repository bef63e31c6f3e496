// The relay of listen mode end to end: dcmtk's findscu calls lumo4410-cli
// listening on loopback, which forwards each request as a worklist query to
// the test node and sends the node's responses back.

#include <arpa/inet.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/DateTime.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::WireItemText;
using testing::WireText;

using Lines = std::vector<std::string>;

constexpr auto kBound = std::chrono::seconds(60);

// What one findscu run printed and extracted.
struct FindResult {
    int exitCode = -1;
    std::string output;
    std::vector<std::string> files;  // the extracted responses, in order
};

bool Contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A copy of lumo4410-cli in a program folder of its own (its AppLogger.xml
// writes log.txt there; its settings store is inside too), listening on an
// ephemeral port and relaying to `node`.
class RelayNet : public ::testing::Test {
  protected:
    RelayNet() {
        node.Start();
        program_ = folder.Path() + "/lumo4410-cli";
        std::filesystem::copy_file(LUMO_CLI_PROGRAM, program_);
        StartRelay(node.Port());
    }

    // Starts the relay (ended first if it runs), relaying to `nodePort` with
    // the options `extra` besides the usual ones.
    void StartRelay(std::uint16_t nodePort, const Lines& extra = {}) {
        Stop();
        Lines args{"listen", "0", "--ip=127.0.0.1", "--port=" + std::to_string(nodePort),
                   "--modality=MR"};
        args.insert(args.end(), extra.begin(), extra.end());
        relay_ = std::make_unique<testing::ChildProgram>(program_, args, folder.Path());
        if (!relay_->WaitForErr("Écoute sur le port ", std::chrono::seconds(30))) {
            ADD_FAILURE() << "the relay did not start: " << relay_->ErrSoFar();
            return;
        }
        const std::string err = relay_->ErrSoFar();
        std::smatch match;
        if (std::regex_search(err, match, std::regex("Écoute sur le port ([0-9]+)"))) {
            port_ = match[1].str();
        }
    }

    ~RelayNet() override { Stop(); }

    // Ends the relay as SIGTERM does and returns what it printed.
    testing::ProgramResult Stop() {
        if (!relay_) return result_;
        relay_->Signal(SIGTERM);
        result_ = relay_->Wait(kBound);
        relay_.reset();
        return result_;
    }

    // The log the relay wrote, once it has ended.
    Lines RelayLog() {
        Stop();
        Lines lines;
        for (const std::string& line : testing::SplitLines(testing::ReadText(folder.LogFile()))) {
            lines.push_back(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
        }
        return lines;
    }

    FindResult Find(const std::string& model, const Lines& keys, const Lines& extra = {},
                    const std::string& calling = "MODALITY1") {
        const std::string out = folder.Path() + "/rsp" + std::to_string(++calls_);
        std::filesystem::create_directory(out);
        Lines args{"findscu", "-v", model, "-aet", calling, "-aec", called_, "-to",       "10",
                   "-ta",     "10", "-td", "30",   "-X",    "-od",  out,     "127.0.0.1", port_};
        for (const std::string& key : keys) {
            args.push_back("-k");
            args.push_back(key);
        }
        args.insert(args.end(), extra.begin(), extra.end());
        FindResult result;
        result.exitCode = lumo::testing::RunProgram(args, &result.output);
        result.files = testing::FileNames(out);
        for (std::string& file : result.files) file = out + "/" + file;
        return result;
    }

    static std::string Accession(const std::string& file) {
        return Text(file, DCM_AccessionNumber);
    }
    // The value of `key` at the top level of a saved response, or in its
    // first scheduled step.
    static std::string Text(const std::string& file, const DcmTagKey& key, bool inStep = false) {
        DcmFileFormat format;
        if (format.loadFile(file.c_str()).bad()) return "<unreadable>";
        DcmItem* item = format.getDataset();
        if (inStep && item->findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, item).bad())
            return "<no step>";
        OFString text;
        item->findAndGetOFStringArray(key, text);
        return text.c_str();
    }

    TestNode node;
    testing::ProgramFolder folder;
    std::string program_;
    std::string port_ = "0";
    std::unique_ptr<testing::ChildProgram> relay_;
    testing::ProgramResult result_;
    std::atomic<int> calls_ = 0;
    std::string called_ = "RELAY";  // the AE title callers ask for
};

const char* const kSuccess = "Received Final Find Response (Success)";

std::vector<DcmDataset> TwoEntries() {
    std::vector<DcmDataset> entries;
    entries.push_back(
        MakeDataSet({{DCM_AccessionNumber, "ACC1"},
                     {DCM_PatientID, "PID1"},
                     {DCM_ScheduledProcedureStepSequence, Items{{{DCM_Modality, "MR"}}}}}));
    entries.push_back(MakeDataSet({{DCM_AccessionNumber, "ACC2"}, {DCM_PatientID, "PID1"}}));
    return entries;
}

TEST_F(RelayNet, AWorklistQueryGetsTheNodesResponsesAndSuccess) {
    ASSERT_NE(port_, "0");
    node.SetResponses(TwoEntries());
    const FindResult found = Find("-W", {"0008,0050=ACC*", "0010,0020=PID1",
                                         "0040,0002=20261201-20261207", "0040,0100[0].0008,0060"});
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_NE(found.output.find(kSuccess), std::string::npos) << found.output;
    ASSERT_EQ(found.files.size(), 2u) << found.output;
    EXPECT_EQ(Accession(found.files[0]), "ACC1");
    EXPECT_EQ(Accession(found.files[1]), "ACC2");

    // The caller's titles and keys went into the fields, and from there,
    // with the console's modality, into the forwarded worklist query. The
    // date is taken from the request's top level.
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto relayed = node.Received()[0];
    EXPECT_EQ(relayed.sopClassUID, lumo::testing::kWorklistFind);
    EXPECT_EQ(relayed.callingAETitle, "MODALITY1");
    EXPECT_EQ(relayed.calledAETitle, "RELAY");
    EXPECT_EQ(WireText(relayed, DCM_AccessionNumber), "ACC*");
    EXPECT_EQ(WireText(relayed, DCM_PatientID), "PID1");
    EXPECT_EQ(WireItemText(relayed, DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "20261201-20261207");
    EXPECT_EQ(WireItemText(relayed, DCM_ScheduledProcedureStepSequence, DCM_Modality), "MR");

    const Lines log = RelayLog();
    EXPECT_EQ(result_.exitCode, 0) << result_.err;
    EXPECT_EQ(log,
              (Lines{"[100] Ouverture LUMO4410", "[250] Query Request :1 Début",
                     "[250] Query Request Connection.Root : WORKLIST",
                     "[250] Query Request Connection.Level : ", "[250] Query Request :1 Fin"}));
    // The listing of the forwarded query is printed.
    const Lines printed = testing::SplitLines(result_.out);
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed[0], "ACC1     PID1   ");
}

TEST_F(RelayNet, AStudyRootQueryIsAnsweredWithTheWorklistResponses) {
    ASSERT_NE(port_, "0");
    node.SetResponses(TwoEntries());
    const FindResult found = Find("-S", {"0008,0052=STUDY", "0010,0020=PID1", "0020,000D"});
    EXPECT_NE(found.output.find(kSuccess), std::string::npos) << found.output;
    EXPECT_EQ(found.files.size(), 2u) << found.output;
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].sopClassUID, lumo::testing::kWorklistFind);
    // No scheduled date in the request: today's.
    EXPECT_EQ(WireItemText(node.Received()[0], DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              FormatDateTime("yyyymmdd", Now()));
    const Lines log = RelayLog();
    EXPECT_TRUE(Contains(log, "[250] Query Request Connection.Root : STUDY")) << result_.err;
    EXPECT_TRUE(Contains(log, "[250] Query Request Connection.Level : STUDY"));
}

TEST_F(RelayNet, EachNewAssociationIsServedAndNumbered) {
    ASSERT_NE(port_, "0");
    node.SetResponses(TwoEntries());
    const FindResult first = Find("-W", {"0010,0020=PID1"});
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "ACC9"}})});
    const FindResult second = Find("-W", {"0010,0020=PID9"});
    EXPECT_EQ(first.files.size(), 2u) << first.output;
    ASSERT_EQ(second.files.size(), 1u) << second.output;
    EXPECT_EQ(Accession(second.files[0]), "ACC9");
    EXPECT_NE(second.output.find(kSuccess), std::string::npos) << second.output;
    const Lines log = RelayLog();
    EXPECT_TRUE(Contains(log, "[250] Query Request :1 Fin"));
    EXPECT_TRUE(Contains(log, "[250] Query Request :2 Début"));
    EXPECT_TRUE(Contains(log, "[250] Query Request :2 Fin"));
}

TEST_F(RelayNet, AFailingForwardedQueryGivesTheCallerAFailureStatus) {
    ASSERT_NE(port_, "0");
    node.SetResponses(TwoEntries());
    node.SetFinalStatus(0xA700, "out of resources");
    const FindResult found = Find("-W", {"0010,0020=PID1"});
    EXPECT_EQ(found.output.find(kSuccess), std::string::npos) << found.output;
    EXPECT_NE(found.output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << found.output;
    // Each response went back as it came, before the node's failure.
    EXPECT_EQ(found.files.size(), 2u) << found.output;
    // The query itself ran to its end: the handler closes its log lines.
    EXPECT_TRUE(Contains(RelayLog(), "[250] Query Request :1 Fin"));
}

TEST_F(RelayNet, AnUnreachableNodeGivesTheCallerAFailureStatus) {
    ASSERT_NE(port_, "0");
    node.Stop();
    const FindResult found = Find("-W", {"0010,0020=PID1"});
    EXPECT_NE(found.output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << found.output;
}

// findscu cancels after three responses of a node that sends one every
// 100 ms: the responses reach the caller as they come, the caller's cancel
// goes on to the node at once, and the caller gets Cancel after the three.
TEST_F(RelayNet, ACallersCancelGoesOnToTheNode) {
    ASSERT_NE(port_, "0");
    node.SetSyntheticResponses(10);
    node.SetResponseDelay(std::chrono::milliseconds(100));
    const FindResult found = Find("-W", {"0010,0020="}, {"--cancel", "3"});
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_EQ(found.files.size(), 3u) << found.output;
    EXPECT_NE(found.output.find("Received Final Find Response (Cancel: "
                                "MatchingTerminatedDueToCancelRequest)"),
              std::string::npos)
        << found.output;
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.CancelsReceived(), std::vector<std::uint16_t>{node.Received()[0].messageID});
}

// Connects to the relay, writes `bytes` and closes.
void SendRaw(const std::string& port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// Big-endian and little-endian numbers as PDUs and commands write them.
void Be16(std::string& out, unsigned value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}
void Be32(std::string& out, unsigned value) {
    Be16(out, value >> 16);
    Be16(out, value & 0xFFFF);
}
void Le16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void Le32(std::string& out, unsigned value) {
    Le16(out, value & 0xFFFF);
    Le16(out, value >> 16);
}
std::string Item(unsigned char type, const std::string& body) {
    std::string item(1, static_cast<char>(type));
    item += '\0';
    Be16(item, static_cast<unsigned>(body.size()));
    return item + body;
}
std::string Pdu(unsigned char type, const std::string& body) {
    std::string pdu(1, static_cast<char>(type));
    pdu += '\0';
    Be32(pdu, static_cast<unsigned>(body.size()));
    return pdu + body;
}
std::string AeTitle(const std::string& title) {
    std::string padded = title;
    padded.resize(16, ' ');
    return padded;
}
// One element of a command (implicit VR little endian).
std::string CommandElement(unsigned element, const std::string& value) {
    std::string out;
    Le16(out, 0x0000);
    Le16(out, element);
    Le32(out, static_cast<unsigned>(value.size()));
    return out + value;
}
std::string Us(unsigned value) {
    std::string out;
    Le16(out, value);
    return out;
}

// A connection to the relay whose reads give up after `seconds`.
int ConnectBounded(const std::string& port, int seconds) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval bound{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// An association request for Modality Worklist FIND.
std::string AssociatePdu() {
    std::string request;
    Be16(request, 1);  // protocol version
    Be16(request, 0);
    request += AeTitle("RELAY") + AeTitle("RAWPEER") + std::string(32, '\0');
    request += Item(0x10, "1.2.840.10008.3.1.1.1");
    std::string context("\x01\x00\x00\x00", 4);
    context += Item(0x30, std::string(lumo::testing::kWorklistFind));
    context += Item(0x40, "1.2.840.10008.1.2");
    request += Item(0x20, context);
    std::string maxLength;
    Be32(maxLength, 16384);
    request += Item(0x50, Item(0x51, maxLength) + Item(0x52, "1.2.826.0.1.3680043.2.1"));
    return Pdu(0x01, request);
}

// One PDV in a P-DATA-TF: `control` 3 for a command, 2 for a data set.
std::string DataPdu(char control, const std::string& fragment) {
    std::string pdv;
    Be32(pdv, static_cast<unsigned>(fragment.size() + 2));
    pdv += '\x01';  // presentation context
    pdv += control;
    return Pdu(0x04, pdv + fragment);
}

// A C-FIND request for Modality Worklist FIND, followed by an identifier
// asking every Patient ID when `identifier`, else saying none follows
// (what no ordinary tool sends).
std::string FindPdus(bool identifier) {
    std::string uid(lumo::testing::kWorklistFind);
    if (uid.size() % 2 != 0) uid += '\0';
    std::string fields = CommandElement(0x0002, uid) + CommandElement(0x0100, Us(0x0020)) +
                         CommandElement(0x0110, Us(1)) + CommandElement(0x0700, Us(0)) +
                         CommandElement(0x0800, Us(identifier ? 0x0000 : 0x0101));
    std::string groupLength;
    Le32(groupLength, static_cast<unsigned>(fields.size()));
    std::string pdus = DataPdu('\x03', CommandElement(0x0000, groupLength) + fields);
    if (identifier) pdus += DataPdu('\x02', std::string("\x10\x00\x20\x00\x00\x00\x00\x00", 8));
    return pdus;
}

// An association for Modality Worklist FIND, then a C-FIND request whose
// command says no identifier follows, then a release. Reads what comes
// back, within a bound; never waits forever.
void SendFindWithoutIdentifier(const std::string& port) {
    const int fd = ConnectBounded(port, 10);
    ASSERT_GE(fd, 0);
    const std::string associate = AssociatePdu();
    ASSERT_EQ(write(fd, associate.data(), associate.size()),
              static_cast<ssize_t>(associate.size()));
    char reply[4096];
    const ssize_t got = read(fd, reply, sizeof reply);
    ASSERT_GT(got, 0);
    EXPECT_EQ(reply[0], 0x02) << "association not accepted";
    const std::string data = FindPdus(false);
    EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    // Whatever the relay answers (a failure status or an abort), it answers.
    EXPECT_GT(read(fd, reply, sizeof reply), 0);
    const std::string release = Pdu(0x05, std::string(4, '\0'));
    (void)!write(fd, release.data(), release.size());
    close(fd);
}

// Whether the relay closed `fd` (what it sent before is read and dropped)
// before the reads gave up.
bool ClosedByRelay(int fd) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) continue;
        return n == 0 || errno == ECONNRESET;
    }
}

TEST_F(RelayNet, HostileAndBrokenPeersLeaveTheRelayServing) {
    ASSERT_NE(port_, "0");
    node.SetResponses(TwoEntries());
    SendRaw(port_, "GET / HTTP/1.1\r\nHost: relay\r\n\r\n");
    SendRaw(port_, std::string("\x01\x00\xff\xff\xff\xff", 6));  // a PDU far too long
    SendRaw(port_, std::string("\x07\x00\x00\x00\x00\x04\x00\x00\x00\x00", 10));  // A-ABORT
    SendRaw(port_, "");                                                           // connect and go
    SendFindWithoutIdentifier(port_);
    // A caller that cancels after the first response.
    Find("-W", {"0010,0020=PID1"}, {"--cancel", "1"});
    // A caller that aborts its association instead of releasing it.
    Find("-W", {"0010,0020=PID1"}, {"--abort"});

    const FindResult found = Find("-W", {"0010,0020=PID1"});
    EXPECT_NE(found.output.find(kSuccess), std::string::npos) << found.output;
    EXPECT_EQ(found.files.size(), 2u);
    Stop();
    EXPECT_EQ(result_.exitCode, 0) << result_.err;
}

}  // namespace
}  // namespace lumo::app

namespace lumo::app {
namespace {

// The listener's timeouts are the options': a caller that asks and never
// reads its answers is cut off after --response-timeout, holding no other
// caller up meanwhile, and one that never finishes its association request
// is dropped after --assoc-timeout.
TEST_F(RelayNet, TheOptionsTimeoutsBoundSilentCallersAndNoneHoldsAnotherUp) {
    std::vector<DcmDataset> large;
    for (int i = 0; i < 200; ++i)
        large.push_back(MakeDataSet({{DCM_AccessionNumber, "BIG" + std::to_string(i)},
                                     {DCM_TextValue, std::string(100000, 'x')}}));
    node.SetResponses(std::move(large));
    StartRelay(node.Port(), {"--response-timeout=3"});
    ASSERT_NE(port_, "0");
    const int neverReads = ConnectBounded(port_, 30);
    ASSERT_GE(neverReads, 0);
    const std::string asks = AssociatePdu() + FindPdus(true);
    EXPECT_EQ(write(neverReads, asks.data(), asks.size()), static_cast<ssize_t>(asks.size()));
    ASSERT_TRUE(node.WaitForRequests(1, std::chrono::seconds(30)));
    node.SetResponses(TwoEntries());
    const FindResult found = Find("-W", {"0010,0020=PID1"});
    EXPECT_NE(found.output.find(kSuccess), std::string::npos) << found.output;
    EXPECT_EQ(found.files.size(), 2u);
    EXPECT_TRUE(ClosedByRelay(neverReads));
    close(neverReads);

    StartRelay(node.Port(), {"--assoc-timeout=2"});
    const int halfOpen = ConnectBounded(port_, 20);
    ASSERT_GE(halfOpen, 0);
    EXPECT_EQ(write(halfOpen, "\x01\x00", 2), 2);
    EXPECT_TRUE(ClosedByRelay(halfOpen));
    close(halfOpen);
}

// A modality asks for its day's worklist the standard way, the date inside
// its scheduled step, with keys of its own to be returned: the relay asks
// dcmtk's wlmscpfs for that day and those keys, and the caller gets them.
TEST_F(RelayNet, TheCallersStepDateAndReturnKeysReachTheNode) {
    const lumo::testing::WorklistServer worklists;
    StartRelay(worklists.Port(), {"--modality="});
    called_ = "OFFIS";
    const FindResult found =
        Find("-W", {"0040,0100[0].0040,0002=19951015", "0010,0030", "0010,0040",
                    "0040,0100[0].0040,0003", "0040,0100[0].0040,0001"});
    ASSERT_EQ(found.files.size(), 1u) << found.output;
    const std::string& file = found.files[0];
    EXPECT_EQ(Accession(file), "00000");
    EXPECT_EQ(Text(file, DCM_PatientBirthDate), "16780304");
    EXPECT_EQ(Text(file, DCM_PatientSex), "M");
    EXPECT_EQ(Text(file, DCM_ScheduledProcedureStepStartTime, true), "085607");
    EXPECT_EQ(Text(file, DCM_ScheduledStationAETitle, true), "AA32\\AA33");
}

// Eight modalities ask at once, each for its own day, through the relay to
// wlmscpfs (a process for each association): each gets its own entry, and
// the relay lists each query whole, one after another.
TEST_F(RelayNet, CallersAtOnceEachGetTheirOwnAnswersListedWhole) {
    const lumo::testing::WorklistServer worklists;
    StartRelay(worklists.Port(), {"--modality="});
    called_ = "OFFIS";
    const std::map<std::string, std::string> days = {
        {"19951015", "00000"}, {"19960805", "00001"}, {"19960406", "00002"}, {"19960123", "00003"},
        {"19960103", "00004"}, {"19951206", "00005"}, {"19930606", "00006"}, {"19960502", "00007"}};
    std::vector<FindResult> found(days.size());
    std::vector<std::thread> callers;
    for (const auto& [day, accession] : days)
        callers.emplace_back([&, day, i = callers.size()] {
            found[i] = Find("-W", {"0040,0100[0].0040,0002=" + day, "0008,0050"});
        });
    for (std::thread& caller : callers) caller.join();
    std::size_t i = 0;
    std::set<std::string> headers;
    for (const auto& [day, accession] : days) {
        ASSERT_EQ(found[i].files.size(), 1u) << found[i].output;
        EXPECT_EQ(Accession(found[i++].files[0]), accession);
        headers.insert(accession + "     ");
    }
    const Lines printed = testing::SplitLines(Stop().out);
    ASSERT_EQ(printed.size(), 13 * days.size());
    std::set<std::string> listed;
    for (std::size_t at = 0; at < printed.size(); at += 13) {
        listed.insert(printed[at].substr(0, 10));
        EXPECT_EQ(printed[at + 12], "---------------------") << at;
    }
    EXPECT_EQ(listed, headers);
}

// Two callers at once, one of which cancels: its cancel reaches its own
// query at the node, and the other caller gets every answer.
TEST_F(RelayNet, ACancelReachesOnlyItsOwnQuery) {
    ASSERT_NE(port_, "0");
    node.SetSyntheticResponses(10);
    node.SetResponseDelay(std::chrono::milliseconds(100));
    FindResult cancelling, whole;
    std::thread other([&] { whole = Find("-W", {"0010,0020="}, {}, "MODB"); });
    cancelling = Find("-W", {"0010,0020="}, {"--cancel", "3"}, "MODA");
    other.join();
    EXPECT_EQ(cancelling.files.size(), 3u) << cancelling.output;
    EXPECT_NE(cancelling.output.find("Received Final Find Response (Cancel: "), std::string::npos);
    EXPECT_EQ(whole.files.size(), 10u) << whole.output;
    EXPECT_NE(whole.output.find(kSuccess), std::string::npos) << whole.output;
    EXPECT_EQ(node.CancelsReceived().size(), 1u);
}

}  // namespace
}  // namespace lumo::app
