// QueryRun against independent DICOM nodes: dcmtk's worklist server
// (wlmscpfs) with its sample worklists, and dcmtk's query/retrieve server
// (dcmqrscp) holding a few studies sent to it with storescu.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "dicom/net/NodeChecks.h"
#include "tests/dicom/QueryTestHelpers.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::dicom {
namespace {

using namespace std::chrono_literals;
using lumo::testing::ArchiveServer;
using lumo::testing::Instance;
using lumo::testing::OrthancServer;
using lumo::testing::StartServer;
using lumo::testing::TempDir;
using lumo::testing::WaitForPort;
using testing::Add;
using testing::FailureOf;
using testing::MakeQuery;
using testing::TextOf;

DicomPeer PeerAt(std::uint16_t port, const std::string& called,
                 const std::string& calling = "Lumo4410") {
    DicomPeer peer;
    peer.address = "127.0.0.1";
    peer.port = port;
    peer.calledAETitle = called;
    peer.callingAETitle = calling;
    peer.timeouts = testing::ShortTimeouts();
    return peer;
}

// --- wlmscpfs ---------------------------------------------------------------

using lumo::testing::WorklistServer;  // dcmtk's ten sample worklists, AE title OFFIS

DicomDataSet WorklistIdentifier(const std::string& accession, const std::string& modality) {
    DicomDataSet id;
    DicomDataSets steps;
    DicomDataSet step;
    steps.DataSetsAppend(step);
    Add(id, 0x0008, 0x0050, Variant(accession));
    Add(id, 0x0010, 0x0020, "");
    Add(id, 0x0040, 0x0100, Variant(steps));
    Add(step, 0x0008, 0x0060, Variant(modality));
    Add(step, 0x0010, 0x0010, "");
    Add(step, 0x0040, 0x0002, "");
    Add(step, 0x0040, 0x0009, "");
    return id;
}

std::string StepId(const DicomDataSet& response) {
    DicomDataSets steps =
        response.DataSetAttributes().AttributesFind(0x0040, 0x0100).AttributeValue().AsCollection();
    return steps.DataSetsCount() == 0 ? "" : TextOf(steps.DataSetsItem(1), 0x0040, 0x0009);
}

TEST(QueryPeersNet, WorklistFromWlmscpfsListsEverySample) {
    WorklistServer server;
    DicomQuery query = MakeQuery(server.Port(), "WORKLIST", "OFFIS");
    query.QuerySetLevel("STUDY");

    DicomDataSets responses = query.QueryRun(WorklistIdentifier("", ""));

    ASSERT_EQ(responses.DataSetsCount(), 10);
    std::set<std::string> accessions;
    for (int i = 1; i <= responses.DataSetsCount(); ++i)
        accessions.insert(responses.DataSetsItem(i).DataSetAccessionNumber());
    EXPECT_EQ(accessions, (std::set<std::string>{"00000", "00001", "00002", "00003", "00004",
                                                 "00005", "00006", "00007", "00008", "00009"}));
}

TEST(QueryPeersNet, WorklistFromWlmscpfsMatchesKeys) {
    WorklistServer server;
    DicomQuery query = MakeQuery(server.Port(), "WORKLIST", "OFFIS");
    query.QuerySetLevel("STUDY");

    DicomDataSets byAccession = query.QueryRun(WorklistIdentifier("00004", ""));
    ASSERT_EQ(byAccession.DataSetsCount(), 1);
    EXPECT_EQ(StepId(byAccession.DataSetsItem(1)), "SPD73843");

    DicomDataSets byModality = query.QueryRun(WorklistIdentifier("", "CT"));
    std::set<std::string> accessions;
    for (int i = 1; i <= byModality.DataSetsCount(); ++i)
        accessions.insert(byModality.DataSetsItem(i).DataSetAccessionNumber());
    EXPECT_EQ(accessions, (std::set<std::string>{"00002", "00006", "00008", "00009"}));
}

TEST(QueryPeersNet, WlmscpfsRejectsAnUnknownCalledTitle) {
    WorklistServer server;
    DicomQuery query = MakeQuery(server.Port(), "WORKLIST", "NOSUCHAE");

    EXPECT_EQ(FailureOf(query, WorklistIdentifier("", "")),
              "EDicomAssociationRejected: Association rejected by 127.0.0.1:" +
                  std::to_string(server.Port()) + " (NOSUCHAE): called AE title not recognized");
}

TEST(QueryPeersNet, WlmscpfsRejectsStudyRootWithoutReason) {
    // wlmscpfs turns down an association that offers nothing it serves.
    WorklistServer server;
    DicomQuery query = MakeQuery(server.Port(), "STUDY", "OFFIS");

    EXPECT_EQ(FailureOf(query, testing::StudyIdentifier()),
              "EDicomAssociationRejected: Association rejected by 127.0.0.1:" +
                  std::to_string(server.Port()) + " (OFFIS): no reason given");
}

// A worklist-only node: the probe finds Verification and the worklist, and
// the two query roots refused, from one association.
TEST(QueryPeersNet, ProbeOfWlmscpfsFindsTheWorklistOnly) {
    WorklistServer server;
    DicomPeer peer = PeerAt(server.Port(), "OFFIS");

    const DicomProbeResult probe = DicomProbe(peer);

    ASSERT_EQ(probe.services.size(), 4u);
    EXPECT_TRUE(probe.services[0].Accepted());
    EXPECT_TRUE(probe.services[1].Accepted());
    ASSERT_TRUE(probe.services[1].find);
    EXPECT_EQ(probe.services[1].find->status, 0x0000);
    EXPECT_EQ(probe.services[1].find->responses, 0);
    for (int i : {2, 3}) {
        ASSERT_TRUE(probe.services[i].context) << i;
        EXPECT_EQ(probe.services[i].context->result, ContextResult::AbstractSyntaxNotSupported);
    }
    EXPECT_EQ(probe.reports.size(), 2u);
}

// --- dcmqrscp ---------------------------------------------------------------

const char* const kStudy1 = "1.2.826.0.1.3680043.9.7433.2.1";
const char* const kStudy2 = "1.2.826.0.1.3680043.9.7433.2.2";
const char* const kSeries1a = "1.2.826.0.1.3680043.9.7433.2.1.1";
const char* const kSeries1b = "1.2.826.0.1.3680043.9.7433.2.1.2";
const char* const kSeries2 = "1.2.826.0.1.3680043.9.7433.2.2.1";

const std::vector<Instance>& Instances() {
    static const std::vector<Instance> instances{
        {"P1", "DOE^JOHN", kStudy1, "A1", "CT", kSeries1a, "1",
         "1.2.826.0.1.3680043.9.7433.2.1.1.1"},
        {"P1", "DOE^JOHN", kStudy1, "A1", "CT", kSeries1a, "1",
         "1.2.826.0.1.3680043.9.7433.2.1.1.2"},
        {"P1", "DOE^JOHN", kStudy1, "A1", "CT", kSeries1b, "2",
         "1.2.826.0.1.3680043.9.7433.2.1.2.1"},
        // Latin-1 bytes, as an ISO_IR 100 node stores them.
        {"P2", "M\xFCller^Zo\xEB", kStudy2, "A2", "MR", kSeries2, "1",
         "1.2.826.0.1.3680043.9.7433.2.2.1.1"},
    };
    return instances;
}

// A C-FIND identifier of the console's shape, with the command-group
// elements it carries.
DicomDataSet FindIdentifier(const std::string& level, const std::string& sopClass) {
    DicomDataSet id;
    Add(id, 0x0000, 0x0002, Variant(sopClass));
    Add(id, 0x0000, 0x0800, "0");
    Add(id, 0x0008, 0x0005, "ISO_IR 100");
    Add(id, 0x0008, 0x0052, Variant(level));
    Add(id, 0x0010, 0x0010, "");
    Add(id, 0x0010, 0x0020, "");
    return id;
}

std::set<std::string> Texts(const DicomDataSets& responses, std::uint16_t group,
                            std::uint16_t element) {
    std::set<std::string> texts;
    for (int i = 1; i <= responses.DataSetsCount(); ++i)
        texts.insert(TextOf(responses.DataSetsItem(i), group, element));
    return texts;
}

class QueryArchiveNet : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<ArchiveServer>(Instances()); }
    static void TearDownTestSuite() { server_.reset(); }
    static std::uint16_t Port() { return server_->Port(); }

  private:
    static std::unique_ptr<ArchiveServer> server_;
};
std::unique_ptr<ArchiveServer> QueryArchiveNet::server_;

TEST_F(QueryArchiveNet, PatientLevel) {
    DicomQuery query = MakeQuery(Port(), "PATIENT", "COMMON");

    DicomDataSets responses =
        query.QueryRun(FindIdentifier("PATIENT", UID_FINDPatientRootQueryRetrieveInformationModel));

    ASSERT_EQ(responses.DataSetsCount(), 2);
    EXPECT_EQ(Texts(responses, 0x0010, 0x0020), (std::set<std::string>{"P1", "P2"}));
    EXPECT_EQ(Texts(responses, 0x0010, 0x0010),
              (std::set<std::string>{"DOE^JOHN", "M\xC3\xBCller^Zo\xC3\xAB"}));
}

TEST_F(QueryArchiveNet, StudyLevel) {
    DicomQuery query = MakeQuery(Port(), "STUDY", "COMMON");
    DicomDataSet id = FindIdentifier("STUDY", UID_FINDStudyRootQueryRetrieveInformationModel);
    Add(id, 0x0008, 0x0050, "A1");
    Add(id, 0x0020, 0x000D, "");

    DicomDataSets responses = query.QueryRun(id);

    ASSERT_EQ(responses.DataSetsCount(), 1);
    EXPECT_EQ(responses.DataSetsItem(1).DataSetStudyUID(), kStudy1);
    EXPECT_EQ(responses.DataSetsItem(1).DataSetPatientID(), "P1");
}

TEST_F(QueryArchiveNet, SeriesLevel) {
    DicomQuery query = MakeQuery(Port(), "STUDY", "COMMON");
    DicomDataSet id = FindIdentifier("SERIES", UID_FINDStudyRootQueryRetrieveInformationModel);
    Add(id, 0x0020, 0x000D, kStudy1);
    Add(id, 0x0020, 0x000E, "");
    Add(id, 0x0020, 0x0011, "");

    DicomDataSets responses = query.QueryRun(id);

    ASSERT_EQ(responses.DataSetsCount(), 2);
    EXPECT_EQ(Texts(responses, 0x0020, 0x000E), (std::set<std::string>{kSeries1a, kSeries1b}));
}

TEST_F(QueryArchiveNet, ImageLevel) {
    DicomQuery query = MakeQuery(Port(), "STUDY", "COMMON");
    DicomDataSet id = FindIdentifier("IMAGE", UID_FINDStudyRootQueryRetrieveInformationModel);
    Add(id, 0x0020, 0x000D, kStudy1);
    Add(id, 0x0020, 0x000E, kSeries1a);
    Add(id, 0x0008, 0x0018, "");
    Add(id, 0x0008, 0x0016, "");

    DicomDataSets responses = query.QueryRun(id);

    ASSERT_EQ(responses.DataSetsCount(), 2);
    EXPECT_EQ(Texts(responses, 0x0008, 0x0018),
              (std::set<std::string>{"1.2.826.0.1.3680043.9.7433.2.1.1.1",
                                     "1.2.826.0.1.3680043.9.7433.2.1.1.2"}));
}

TEST_F(QueryArchiveNet, Latin1PatientNameIsMatched) {
    DicomQuery query = MakeQuery(Port(), "PATIENT", "COMMON");
    DicomDataSet id = FindIdentifier("PATIENT", UID_FINDPatientRootQueryRetrieveInformationModel);
    Add(id, 0x0010, 0x0010, "M\xC3\xBCller^Zo\xC3\xAB");  // typed as UTF-8 in the console

    DicomDataSets responses = query.QueryRun(id);

    ASSERT_EQ(responses.DataSetsCount(), 1);
    EXPECT_EQ(responses.DataSetsItem(1).DataSetPatientID(), "P2");
    EXPECT_EQ(TextOf(responses.DataSetsItem(1), 0x0010, 0x0010), "M\xC3\xBCller^Zo\xC3\xAB");
}

// Names in every kind of character set, stored as their bytes and answered
// as such by dcmqrscp, read back decoded at each level of the query.
TEST(QueryCharsetArchiveNet, EveryCharacterSetIsReadAtEachLevel) {
    const struct {
        const char* charset;
        const char* bytes;
        const char* name;
    } names[] = {
        {"\\ISO 2022 IR 87", "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B",
         "Yamada^Tarou=山田^太郎"},
        {"ISO 2022 IR 13\\ISO 2022 IR 87", "\xd4\xcf\xc0\xde^\xc0\xdb\xb3", "ﾔﾏﾀﾞ^ﾀﾛｳ"},
        {"\\ISO 2022 IR 149", "Hong^Gildong=\x1b$)C\xfb\xf3^\x1b$)C\xd1\xce\xd4\xd7",
         "Hong^Gildong=洪^吉洞"},
        {"GB18030", "Wang^XiaoDong=\xcd\xf5^\xd0\xa1\xb6\xab", "Wang^XiaoDong=王^小东"},
        {"ISO_IR 144", "\xbb\xee\xda^\xb8\xd2\xd0\xdd", "Люк^Иван"},
        {"ISO_IR 126", "\xc4\xe9\xef\xed\xf5\xf3\xe9\xef\xf2", "Διονυσιος"},
        {"ISO_IR 192", "Иванов^Пётр", "Иванов^Пётр"},
    };
    std::vector<Instance> instances;
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string n = std::to_string(i + 1);
        const std::string study = "1.2.826.0.1.3680043.9.7433.3." + n;
        instances.push_back({"C" + n, names[i].bytes, study, "CS" + n, "MR", study + ".1", "1",
                             study + ".1.1", names[i].charset});
    }
    ArchiveServer server(instances);
    const struct {
        const char* root;
        const char* level;
        const char* sopClass;
    } levels[] = {
        {"PATIENT", "PATIENT", UID_FINDPatientRootQueryRetrieveInformationModel},
        {"STUDY", "STUDY", UID_FINDStudyRootQueryRetrieveInformationModel},
        {"STUDY", "SERIES", UID_FINDStudyRootQueryRetrieveInformationModel},
        {"STUDY", "IMAGE", UID_FINDStudyRootQueryRetrieveInformationModel},
    };
    for (std::size_t i = 0; i < std::size(names); ++i) {
        for (const auto& level : levels) {
            DicomQuery query = MakeQuery(server.Port(), level.root, "COMMON");
            DicomDataSet id = FindIdentifier(level.level, level.sopClass);
            Add(id, 0x0010, 0x0020, Variant(instances[i].patientId));
            // Below the study, the hierarchy is walked by the unique keys.
            const std::string below = level.level;
            const bool deep = below == "SERIES" || below == "IMAGE";
            if (below != "PATIENT") Add(id, 0x0020, 0x000D, deep ? instances[i].studyUid : "");
            if (deep) Add(id, 0x0020, 0x000E, below == "IMAGE" ? instances[i].seriesUid : "");
            if (below == "IMAGE") Add(id, 0x0008, 0x0018, "");
            const DicomDataSets responses = query.QueryRun(id);
            ASSERT_EQ(responses.DataSetsCount(), 1) << names[i].charset << " " << level.level;
            EXPECT_EQ(TextOf(responses.DataSetsItem(1), 0x0010, 0x0010), names[i].name)
                << names[i].charset << " " << level.level;
            EXPECT_EQ(responses.DataSetsItem(1).DataSetUndecodableCharset(), "");
        }
    }
}

TEST_F(QueryArchiveNet, ProbeFindsBothQueryRootsAndNoWorklist) {
    const DicomProbeResult probe = DicomProbe(PeerAt(Port(), "COMMON"));

    ASSERT_EQ(probe.services.size(), 4u);
    EXPECT_TRUE(probe.services[0].Accepted());
    EXPECT_FALSE(probe.services[1].Accepted());
    for (int i : {2, 3}) {
        ASSERT_TRUE(probe.services[i].find) << i;
        EXPECT_EQ(probe.services[i].find->status, 0x0000) << i;
        EXPECT_EQ(probe.services[i].find->failure, "") << i;
    }
}

// --- Orthanc ----------------------------------------------------------------

TEST(QueryPeersNet, OrthancKnowsItsTitleAndItsModalities) {
    OrthancServer server;
    AssociationReport report;
    DicomEcho(PeerAt(server.Port(), "ORTHANC"), report);
    EXPECT_EQ(report.finalStatus, 0x0000);
    EXPECT_FALSE(report.peerImplementationClassUID.empty());

    const struct {
        const char* called;
        const char* calling;
        std::uint8_t reason;
    } refused[] = {{"WRONG", "Lumo4410", 7}, {"ORTHANC", "NOBODY", 3}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.calling);
        EXPECT_THROW(DicomEcho(PeerAt(server.Port(), c.called, c.calling), report), Exception);
        ASSERT_TRUE(report.rejection);
        EXPECT_EQ(report.rejection->source, 1);
        EXPECT_EQ(report.rejection->reason, c.reason);
    }

    const DicomProbeResult probe = DicomProbe(PeerAt(server.Port(), "ORTHANC"));
    ASSERT_EQ(probe.services.size(), 4u);
    for (const ProbedService& service : probe.services) {
        SCOPED_TRACE(service.sopClass);
        EXPECT_TRUE(service.Accepted());
        if (service.find) {
            EXPECT_EQ(service.find->status, 0x0000);
        }
    }
}

TEST_F(QueryArchiveNet, NoMatch) {
    DicomQuery query = MakeQuery(Port(), "STUDY", "COMMON");
    DicomDataSet id = FindIdentifier("STUDY", UID_FINDStudyRootQueryRetrieveInformationModel);
    Add(id, 0x0008, 0x0050, "NOSUCH");

    EXPECT_EQ(query.QueryRun(id).DataSetsCount(), 0);
}

}  // namespace
}  // namespace lumo::dicom
