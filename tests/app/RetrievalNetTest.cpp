// Retrieval against real nodes: dcmqrscp and Orthanc move to the console's
// receiver and send back on C-GET; the test node does what they will not do
// on demand (an early Success, counts that lie, a cancel, every status).

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stop_token>
#include <thread>

#include "app/QueryIdentifier.h"
#include "app/QueryRun.h"
#include "app/RetrievalTab.h"
#include "app/RetrievalText.h"
#include "support/Global_Registry.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using namespace std::chrono_literals;
using lumo::testing::Destination;
using lumo::testing::Instance;

constexpr const char* kRoot = "1.2.826.0.1.3680043.9.7433.7.";

// Two patients: a study of two series (2 + 1 images), a study of one image.
std::vector<Instance> Studies() {
    const std::string r = kRoot;
    return {{"PID1", "DOE^ANN", r + "1", "A1", "OT", r + "1.1", "1", r + "1.1.1"},
            {"PID1", "DOE^ANN", r + "1", "A1", "OT", r + "1.1", "1", r + "1.1.2"},
            {"PID1", "DOE^ANN", r + "1", "A1", "OT", r + "1.2", "2", r + "1.2.1"},
            {"PID2", "ROE^BOB", r + "2", "A2", "OT", r + "2.1", "1", r + "2.1.1"}};
}

QueryRequest Retrieval(QueryService service, QueryLevel level, std::uint16_t port,
                       const char* called, std::uint16_t storePort) {
    QueryRequest request;
    request.service = service;
    request.level = level;
    request.node.address = "127.0.0.1";
    request.node.port = port;
    request.node.calledAETitle = called;
    request.node.callingAETitle = "LUMO4410";
    request.node.timeouts = {5s, 5s, 5s};
    request.retrieval.storePort = storePort;
    return request;
}

struct Retrieved {
    QueryOutcome outcome;
    std::vector<std::string> lines;

    bool Says(const std::string& text) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != line.npos; });
    }
};

Retrieved Retrieve(const QueryRequest& request, const RetrievalHandler& onRetrieval = nullptr,
                   std::stop_token stop = {}) {
    Retrieved run{RunQuery(request, BuildIdentifier(request), nullptr, stop, onRetrieval), {}};
    run.lines = RetrievalLines(run.outcome);
    return run;
}

std::string Dump(const Retrieved& run) {
    std::string text = run.outcome.failure ? run.outcome.failure->message + "\n" : "";
    for (const std::string& line : run.lines) text += line + "\n";
    return text;
}

TEST(RetrievalNet, DcmqrscpSendsEveryInstanceOrSaysWhyNot) {
    const std::uint16_t storePort = lumo::testing::FreePort();
    const lumo::testing::RefusingPort nobody;
    const lumo::testing::ArchiveServer node(
        Studies(), {{"LUMO4410", storePort}, {"WRONGPORT", nobody.Port()}});
    const testing::TempDir folder;
    const std::string r = kRoot;
    const struct Case {
        QueryService service;
        QueryLevel level;
        std::string patient, study, series, sop;  // the keys
        const char* destination;
        bool verify;
        bool keep;
        std::uint64_t accepted;
        const char* failure;  // in the failure's message; empty: none
        std::string said;     // a line of the end
    } cases[] = {
        // clang-format off
        {QueryService::Move, QueryLevel::Study, "", r + "1", "", "", "", true, false, 3, "",
         "Attendu 3 · Reçues 3"},
        {QueryService::Get, QueryLevel::Series, "", r + "1", r + "1.1", "", "", true, false, 2, "",
         "Attendu 2 · Reçues 2"},
        {QueryService::Move, QueryLevel::Image, "", r + "1", r + "1.1", r + "1.1.1\\" + r + "1.1.2",
         "", false, false, 2, "",
         "Le nœud s'est reconnecté depuis 127.0.0.1 sous COMMON, en appelant LUMO4410 : 2 images"},
        {QueryService::Get, QueryLevel::Patient, "PID2", "", "", "", "", false, true, 1, "",
         "Classes SOP reçues : SecondaryCaptureImageStorage (1)"},
        {QueryService::Move, QueryLevel::Study, "", r + "2", "", "", "NOBODY", false, false, 0,
         "C-MOVE failed with status A801 Move Destination unknown",
         "Le nœud ne connaît pas l'AE title NOBODY : y déclarer l'AE title NOBODY, l'adresse "
         "127.0.0.1 (cette machine vue du nœud) et le port " + std::to_string(storePort)},
        {QueryService::Move, QueryLevel::Study, "", r + "2", "", "", "WRONGPORT", false, false, 0,
         "C-MOVE failed with status A702", "Personne ne s'est reconnecté au port"},
        // clang-format on
    };
    for (const Case& c : cases) {
        QueryRequest request = Retrieval(c.service, c.level, node.Port(), "COMMON", storePort);
        request.keys.patientId = c.patient;
        request.keys.studyUid = c.study;
        request.keys.seriesUid = c.series;
        request.keys.sopInstanceUid = c.sop;
        request.retrieval.moveDestination = c.destination;
        request.retrieval.verify = c.verify;
        if (c.keep) request.retrieval.storeFolder = folder.Path() + "/kept";
        const Retrieved run = Retrieve(request);
        SCOPED_TRACE(Dump(run));
        ASSERT_TRUE(run.outcome.retrieval);
        EXPECT_EQ(run.outcome.retrieval->received.accepted, c.accepted);
        EXPECT_EQ(run.outcome.failure.has_value(), *c.failure != '\0');
        if (run.outcome.failure) {
            EXPECT_NE(run.outcome.failure->message.find(c.failure), std::string::npos);
        }
        EXPECT_FALSE(run.outcome.retrieval->Shortfall());
        EXPECT_TRUE(run.Says(c.said));
    }
    EXPECT_EQ(testing::FileNames(folder.Path() + "/kept"),
              std::vector<std::string>{r + "2.1.1.dcm"});
    // The file is the instance as it came behind its file meta information.
    DcmFileFormat kept;
    ASSERT_TRUE(kept.loadFile((folder.Path() + "/kept/" + r + "2.1.1.dcm").c_str()).good());
    OFString value;
    kept.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPInstanceUID, value);
    EXPECT_EQ(value.c_str(), r + "2.1.1");
    kept.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPClassUID, value);
    EXPECT_STREQ(value.c_str(), UID_SecondaryCaptureImageStorage);
    kept.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, value);
    EXPECT_FALSE(value.empty());
    kept.getDataset()->findAndGetOFString(DCM_PatientID, value);
    EXPECT_STREQ(value.c_str(), "PID2");
}

TEST(RetrievalNet, OrthancMovesToItsModalityAndSendsBack) {
    const std::uint16_t storePort = lumo::testing::FreePort();
    const lumo::testing::OrthancArchive node(Studies(), {"LUMO4410", storePort});
    for (const QueryService service : {QueryService::Move, QueryService::Get}) {
        QueryRequest request =
            Retrieval(service, QueryLevel::Study, node.Port(), "ORTHANC", storePort);
        request.keys.studyUid = std::string(kRoot) + "1";
        request.retrieval.verify = true;
        const Retrieved run = Retrieve(request);
        SCOPED_TRACE(Dump(run));
        EXPECT_FALSE(run.outcome.failure);
        EXPECT_TRUE(run.Says("Attendu 3 · Reçues 3"));
        EXPECT_FALSE(run.outcome.retrieval->Shortfall());
    }
}

// The test node's instances: one study, one series.
std::vector<DcmDataset> Instances(int count) {
    std::vector<DcmDataset> instances;
    for (int i = 1; i <= count; ++i)
        instances.push_back(lumo::testing::MakeDataSet(
            {{DCM_SOPClassUID, UID_SecondaryCaptureImageStorage},
             {DCM_SOPInstanceUID, std::string(kRoot) + "9.1." + std::to_string(i)},
             {DCM_PatientID, "PID9"},
             {DCM_StudyInstanceUID, std::string(kRoot) + "9"},
             {DCM_SeriesInstanceUID, std::string(kRoot) + "9.1"}}));
    return instances;
}

lumo::testing::RetrieveScript Script(int count, std::uint16_t storePort) {
    lumo::testing::RetrieveScript script;
    script.instances = Instances(count);
    script.destination = "LUMO4410";
    script.port = storePort;
    return script;
}

QueryRequest OnTestNode(const lumo::testing::TestNode& node, QueryService service,
                        std::uint16_t storePort) {
    QueryRequest request =
        Retrieval(service, QueryLevel::Study, node.Port(), "NORVANEX", storePort);
    request.keys.studyUid = std::string(kRoot) + "9";
    return request;
}

// Every failure status of C-MOVE and C-GET, in words, with the node's comment
// and Offending Element.
TEST(RetrievalNet, FailureStatusesAreExplained) {
    lumo::testing::TestNode node;
    node.Start();
    const std::string from = " from 127.0.0.1:" + std::to_string(node.Port()) + " (NORVANEX)";
    const struct Case {
        std::uint16_t status;
        const char* comment;
        std::optional<DcmTagKey> offending;
        std::vector<std::string> failedUids;
        std::string failure;
        std::string said;
    } cases[] = {
        {0xA701,
         "",
         {},
         {},
         "A701 Out of Resources – Unable to calculate number of matches" + from,
         "pour compter les images demandées"},
        {0xA702,
         "busy",
         {},
         {},
         "A702 Out of Resources – Unable to perform sub-operations" + from + ": busy",
         "pour lancer les envois"},
        {0xA801,
         "",
         {},
         {},
         "A801 Move Destination unknown" + from,
         "y déclarer l'AE title LUMO4410"},
        {0xA900,
         "",
         DCM_PatientID,
         {},
         "A900 Identifier does not match SOP Class" + from +
             " ; Offending Element (0000,0901) : (0010,0020)",
         "niveau ou clés refusés"},
        {0xAA00,
         "",
         {},
         {},
         "AA00 None of the frames requested were found in the SOP Instance" + from,
         "aucune des trames"},
        {0xC001,
         "disk full",
         {},
         {},
         "C001 Unable to process" + from + ": disk full",
         "n'a pas pu traiter"},
        {0x0000,
         "",
         {},
         {"1.2.3.9"},
         "B000 Sub-operations Complete – One or more Failures or Warnings" + from,
         "Failed SOP Instance UID List (0008,0058) : 1 instance"},
        {0xFE00,
         "",
         {},
         {},
         "FE00 Sub-operations terminated due to Cancel Indication" + from,
         "arrêtées par l'annulation"},
    };
    for (const Case& c : cases) {
        // A port found free a moment ago may be held by another test's
        // connection by the time the receiver binds it: then another one.
        Retrieved run;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const std::uint16_t storePort = lumo::testing::FreePort();
            lumo::testing::RetrieveScript script = Script(0, storePort);
            script.failedUids = c.failedUids;
            node.SetRetrieve(script);
            node.SetFinalStatus(c.status, c.comment, c.offending);
            run = Retrieve(OnTestNode(node, QueryService::Move, storePort));
            if (!run.outcome.failure ||
                run.outcome.failure->message.find("Address already in use") == std::string::npos)
                break;
        }
        SCOPED_TRACE(Dump(run));
        ASSERT_TRUE(run.outcome.failure);
        EXPECT_EQ(run.outcome.failure->ClassName(), "EDicomStatusError");
        EXPECT_EQ(run.outcome.failure->message, "C-MOVE failed with status " + c.failure);
        EXPECT_TRUE(run.Says(c.said));
    }
}

// What real nodes do not do on demand: a Success before the instances,
// counts that lie, storage contexts a C-GET cannot have, a cancel.
TEST(RetrievalNet, TestNodeMisbehavioursAreTold) {
    lumo::testing::TestNode node;
    node.Start();
    const std::uint16_t storePort = lumo::testing::FreePort();

    node.SetResponseDelay(150ms);
    lumo::testing::RetrieveScript script = Script(3, storePort);
    script.earlySuccess = true;
    node.SetRetrieve(script);
    Retrieved run = Retrieve(OnTestNode(node, QueryService::Move, storePort));
    EXPECT_TRUE(run.outcome.retrieval->result.earlySuccess) << Dump(run);
    EXPECT_EQ(run.outcome.retrieval->received.accepted, 3u) << Dump(run);
    EXPECT_TRUE(
        run.Says("Succès annoncé avant la dernière image : 0 reçues au statut final sur 3"));

    node.SetResponseDelay(0ms);
    script = Script(1, storePort);
    script.calledAETitle = "PACS_STORE";
    node.SetRetrieve(script);
    run = Retrieve(OnTestNode(node, QueryService::Move, storePort));
    EXPECT_TRUE(
        run.Says("Le nœud s'est reconnecté depuis 127.0.0.1 sous NORVANEX, en appelant "
                 "PACS_STORE : 1 images ; AE title appelé autre que la destination "
                 "LUMO4410"))
        << Dump(run);

    script = Script(3, storePort);
    script.claimedCompleted = 5;
    node.SetRetrieve(script);
    run = Retrieve(OnTestNode(node, QueryService::Get, storePort));
    EXPECT_TRUE(run.outcome.retrieval->Shortfall()) << Dump(run);
    EXPECT_TRUE(run.Says("Il manque 2 images : le nœud en compte 5 terminées"));

    script = Script(2, storePort);
    script.storageClasses = std::vector<std::string>{};
    node.SetRetrieve(script);
    QueryRequest request = OnTestNode(node, QueryService::Get, storePort);
    request.retrieval.verify = true;  // a C-FIND names the classes to propose
    node.SetSyntheticResponses(1);
    run = Retrieve(request);
    EXPECT_EQ(run.outcome.status, 0xB000) << Dump(run);
    EXPECT_TRUE(run.Says("C-GET : le nœud ne peut pas envoyer SecondaryCaptureImageStorage"));

    // A store folder that cannot be made: each instance answered, named
    // with why, nothing counted as kept.
    const testing::TempDir folder;
    lumo::testing::WriteFile(folder.Path() + "/file", "x");
    node.SetRetrieve(Script(2, storePort));
    request = OnTestNode(node, QueryService::Get, storePort);
    request.retrieval.storeFolder = folder.Path() + "/file/kept";
    run = Retrieve(request);
    EXPECT_EQ(run.outcome.retrieval->received.accepted, 0u) << Dump(run);
    EXPECT_TRUE(run.Says("impossible : Not a directory")) << Dump(run);

    node.SetResponseDelay(300ms);
    node.SetRetrieve(Script(5, storePort));
    std::stop_source stop;
    run = Retrieve(
        OnTestNode(node, QueryService::Move, storePort),
        [&](const dicom::RetrieveProgress&) { stop.request_stop(); }, stop.get_token());
    EXPECT_FALSE(run.outcome.failure) << Dump(run);
    EXPECT_EQ(run.outcome.status, 0xFE00);
    EXPECT_EQ(node.CancelsReceived().size(), 1u);
    EXPECT_TRUE(run.Says("Récupération annulée : 1 images reçues"));
}

// A C-GET asks its census on its own association, and opens a second one
// only when the census names a class not proposed there with its compressed
// context, or ends the association; a node that serves no C-FIND still
// gets the C-GET there.
TEST(RetrievalNet, GetTakesItsCensusOnItsOwnAssociation) {
    lumo::testing::TestNode node;
    node.Start();
    const std::uint16_t storePort = lumo::testing::FreePort();
    enum class Census { Answered, Aborted, NotServed };
    const std::vector<std::string> served = {UID_VerificationSOPClass,
                                             UID_FINDModalityWorklistInformationModel,
                                             UID_FINDPatientRootQueryRetrieveInformationModel,
                                             UID_FINDStudyRootQueryRetrieveInformationModel};
    const struct Case {
        const char* sopClass;
        Census census;
        std::size_t associations;
        const char* said;
    } cases[] = {
        {UID_SecondaryCaptureImageStorage, Census::Answered, 1, "Attendu 2 · Reçues 2"},
        {UID_EncapsulatedPDFStorage, Census::Answered, 2, "Attendu 2 · Reçues 2"},
        {UID_SecondaryCaptureImageStorage, Census::Aborted, 2,
         "Attendu : inconnu (EDicomNetworkError"},
        {UID_SecondaryCaptureImageStorage, Census::NotServed, 1,
         "Attendu : inconnu (EDicomError: No presentation context accepted"},
    };
    for (const Case& c : cases) {
        lumo::testing::RetrieveScript script = Script(2, storePort);
        for (DcmDataset& instance : script.instances)
            instance.putAndInsertString(DCM_SOPClassUID, c.sopClass);
        node.SetRetrieve(script);
        node.SetResponses(
            {lumo::testing::MakeDataSet({{DCM_SOPClassesInStudy, c.sopClass},
                                         {DCM_NumberOfStudyRelatedInstances, "2"},
                                         {DCM_StudyInstanceUID, std::string(kRoot) + "9"}})});
        node.SetAbortAfter(c.census == Census::Aborted ? std::optional<std::size_t>(0)
                                                       : std::nullopt);
        node.SetAcceptedSopClasses(c.census == Census::NotServed
                                       ? std::vector<std::string>{UID_VerificationSOPClass}
                                       : served);
        const std::size_t before = node.Associations().size();
        QueryRequest request = OnTestNode(node, QueryService::Get, storePort);
        request.retrieval.verify = true;
        const Retrieved run = Retrieve(request);
        SCOPED_TRACE(Dump(run));
        EXPECT_FALSE(run.outcome.failure);
        EXPECT_EQ(run.outcome.retrieval->received.accepted, 2u);
        EXPECT_EQ(node.Associations().size() - before, c.associations);
        EXPECT_TRUE(run.Says(c.said));
    }

    // A stop during the census cancels its C-FIND, and no C-GET goes out.
    node.SetAbortAfter(std::nullopt);
    node.SetAcceptedSopClasses(served);
    node.SetResponseDelay(1s);
    node.ClearReceived();
    std::stop_source stop;
    const std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    const Retrieved run =
        Retrieve(OnTestNode(node, QueryService::Get, storePort), nullptr, stop.get_token());
    EXPECT_FALSE(run.outcome.failure) << Dump(run);
    EXPECT_EQ(run.outcome.retrieval->received.received, 0u);
    EXPECT_EQ(node.CancelsReceived().size(), 1u);
    EXPECT_TRUE(run.outcome.retrieval->result.refusedStorage.empty());
    for (const lumo::testing::ReceivedRequest& request : node.Received())
        EXPECT_EQ(request.command, "C-FIND");
}

TEST(RetrievalTab, SettingsGoToTheRequestAndBackToTheStore) {
    testing::ProgramFolder folder;
    testing::RecordingHost host;
    TFormTestWL form{host};
    WriteSetting("FormTestWL", "MoveDestination", "DEST");
    WriteSetting("FormTestWL", "StoreFolder", "/data/in");
    ASSERT_TRUE(form.RunHandler([&] { form.FormCreate(); }));
    form.EditStudyUID.Text = "1.2";
    const RetrievalOptions options = RetrievalRequestOf(form, QueryService::Move).retrieval;
    EXPECT_EQ(options.moveDestination, "DEST");
    EXPECT_EQ(options.storePort, 11113);
    EXPECT_EQ(options.storeFolder, "/data/in");
    form.EditStorePort.Text = "4000";
    form.FormDestroy();
    EXPECT_EQ(ReadSetting("FormTestWL", "StorePort"), "4000");
    EXPECT_EQ(ReadSetting("FormTestWL", "MoveDestination"), "DEST");
}

TEST(RetrievalTab, DoubleClickOnABlockFillsTheKeys) {
    testing::RecordingHost host;
    TFormTestWL form(host);
    form.ListBoxResult.Items.Assign({"A1     PID1   CT", "Dossier: PID1", "StudyUID: 1.2.3",
                                     "SeriesUID : 1.2.3.4", "InstanceUID : 1.2.3.4.5", kSeparator,
                                     "A2     PID2   ", "Dossier: PID2", "StudyUID: 9.8",
                                     kSeparator});
    form.ListBoxResult.ItemIndex = 8;
    form.ListBoxResultDblClick(form.ListBoxResult);
    EXPECT_EQ(form.EditDossier.Text, "PID2");
    EXPECT_EQ(form.EditStudyUID.Text, "9.8");
    EXPECT_EQ(form.cboRetrieveLevel.Text, "study");
    form.ListBoxResult.ItemIndex = 5;  // a block's separator is its last line
    form.ListBoxResultDblClick(form.ListBoxResult);
    EXPECT_EQ(form.EditSeriesUID.Text, "1.2.3.4");
    EXPECT_EQ(form.EditSOPInstanceUID.Text, "1.2.3.4.5");
    EXPECT_EQ(form.cboRetrieveLevel.Text, "image");
}

}  // namespace
}  // namespace lumo::app
