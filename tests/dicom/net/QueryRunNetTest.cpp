// QueryRun against the scriptable test node: what goes on the wire, what
// comes back, and every way a query can fail.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "tests/dicom/QueryTestHelpers.h"
#include "tests/dicom/WireBytes.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::dicom {
namespace {

using namespace std::chrono_literals;
using lumo::testing::AssociationRecord;
using lumo::testing::Attr;
using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::RejectReason;
using lumo::testing::Silence;
using lumo::testing::TestNode;
using testing::Add;
using testing::FailureOf;
using testing::MakeQuery;
using testing::StudyIdentifier;
using testing::TextOf;

std::string Peer(const TestNode& node) {
    return "127.0.0.1:" + std::to_string(node.Port()) + " (NORVANEX)";
}

// The worklist identifier of the console: keys at the top level, the
// scheduled step in a one-item sequence.
DicomDataSet WorklistIdentifier() {
    DicomDataSet id;
    DicomDataSets steps;
    DicomDataSet step;
    steps.DataSetsAppend(step);
    Add(id, 0x0008, 0x0050, "ACC1");
    Add(id, 0x0010, 0x0020, "");
    Add(id, 0x0040, 0x0100, Variant(steps));
    Add(step, 0x0008, 0x0060, "CT");
    Add(step, 0x0040, 0x0002, "20260101-20260131");
    Add(step, 0x0040, 0x0009, "");
    return id;
}

// --- what goes on the wire -------------------------------------------------

TEST(QueryRunNet, SendsWorklistIdentifierExactlyAsBuilt) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "WORKLIST");
    query.QuerySetLevel("STUDY");

    query.QueryRun(WorklistIdentifier());

    auto received = node.Received();
    ASSERT_EQ(received.size(), 1u);
    const auto& request = received[0];
    EXPECT_EQ(request.command, "C-FIND");
    EXPECT_EQ(request.sopClassUID, lumo::testing::kWorklistFind);
    EXPECT_EQ(request.callingAETitle, "Lumo4410");
    EXPECT_EQ(request.calledAETitle, "NORVANEX");
    // No character set, no query level, nothing the caller did not put in.
    EXPECT_EQ(request.Tags(), (std::vector<DcmTagKey>{DCM_AccessionNumber, DCM_PatientID,
                                                      DCM_ScheduledProcedureStepSequence}))
        << request.dump;
    EXPECT_EQ(request.Text(DCM_AccessionNumber), "ACC1");
    EXPECT_EQ(request.Text(DCM_PatientID), "");

    DcmItem* step = nullptr;
    auto& identifier = const_cast<DcmDataset&>(*request.identifier);
    ASSERT_TRUE(
        identifier.findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0).good());
    DcmSequenceOfItems* steps = nullptr;
    ASSERT_TRUE(identifier.findAndGetSequence(DCM_ScheduledProcedureStepSequence, steps).good());
    EXPECT_EQ(steps->card(), 1u);
    EXPECT_EQ(step->card(), 3u);
    EXPECT_EQ(lumo::testing::RawText(*step, DCM_Modality), "CT");
    EXPECT_EQ(lumo::testing::RawText(*step, DCM_ScheduledProcedureStepStartDate),
              "20260101-20260131");
    EXPECT_EQ(lumo::testing::RawText(*step, DCM_ScheduledProcedureStepID), "");
}

TEST(QueryRunNet, StripsCommandGroupElementsFromTheIdentifier) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomDataSet id = StudyIdentifier();
    Add(id, 0x0000, 0x0002, "1.2.840.10008.5.1.4.1.2.2.1");
    Add(id, 0x0000, 0x0800, "0");

    query.QueryRun(id);

    auto received = node.Received();
    ASSERT_EQ(received.size(), 1u);
    for (const DcmTagKey& tag : received[0].Tags())
        EXPECT_NE(tag.getGroup(), 0x0000) << tag.toString().c_str();
    EXPECT_EQ(received[0].Tags().size(), 5u) << received[0].dump;
    EXPECT_EQ(received[0].Text(DCM_QueryRetrieveLevel), "STUDY");
    EXPECT_EQ(received[0].Text(DCM_SpecificCharacterSet), "ISO_IR 100");
}

TEST(QueryRunNet, RootsMapToTheirFindModels) {
    TestNode node;
    node.Start();
    for (const auto& [root, uid] : std::vector<std::pair<std::string, std::string>>{
             {"WORKLIST", lumo::testing::kWorklistFind},
             {"PATIENT", lumo::testing::kPatientRootFind},
             {"STUDY", lumo::testing::kStudyRootFind}}) {
        node.ClearReceived();
        DicomQuery query = MakeQuery(node.Port(), root);
        query.QueryRun(StudyIdentifier());
        auto received = node.Received();
        ASSERT_EQ(received.size(), 1u) << root;
        EXPECT_EQ(received[0].sopClassUID, uid) << root;
    }
}

TEST(QueryRunNet, LevelIsKeptButNeverAddedToTheIdentifier) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "WORKLIST");
    query.QuerySetLevel("STUDY");
    EXPECT_EQ(query.QueryGetLevel(), "STUDY");
    EXPECT_EQ(query.QueryGetCalledAETitle(), "NORVANEX");

    query.QueryRun(WorklistIdentifier());

    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_FALSE(node.Received()[0].Has(DCM_QueryRetrieveLevel));
}

TEST(QueryRunNet, SendsLatin1BytesForAnIsoIr100Identifier) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    query.QueryRun(StudyIdentifier("M\xC3\xBCller^Zo\xC3\xAB"));  // "Müller^Zoë" in UTF-8

    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].Text(DCM_PatientName), "M\xFCller^Zo\xEB");
}

TEST(QueryRunNet, ReleasesTheAssociationAfterTheLastResponse) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    query.QueryRun(StudyIdentifier());

    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    EXPECT_EQ(node.Associations()[0].end, AssociationRecord::End::Released);
}

// --- what comes back ---------------------------------------------------------

TEST(QueryRunNet, ReturnsEveryPendingResponseInOrder) {
    TestNode node;
    std::vector<DcmDataset> answers;
    for (const char* id : {"P1", "P2", "P3"})
        answers.push_back(
            MakeDataSet({{DCM_PatientID, id}, {DCM_PatientName, std::string("NAME^") + id}}));
    node.SetResponses(std::move(answers));
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    DicomDataSets responses = query.QueryRun(StudyIdentifier());

    ASSERT_EQ(responses.DataSetsCount(), 3);
    EXPECT_EQ(responses.DataSetsItem(1).DataSetPatientID(), "P1");
    EXPECT_EQ(responses.DataSetsItem(2).DataSetPatientID(), "P2");
    EXPECT_EQ(responses.DataSetsItem(3).DataSetPatientID(), "P3");
    EXPECT_EQ(TextOf(responses.DataSetsItem(3), 0x0010, 0x0010), "NAME^P3");
}

// A data set longer than a PDU comes in several pieces, whichever way it is
// read (a float value leaves the second to DCMTK).
TEST(QueryRunNet, ResponseLongerThanAPduArrivesWhole) {
    const std::string text(60'000, 'x');
    TestNode node;
    DcmDataset second = MakeDataSet({{DCM_PatientID, "P2"}, {DCM_TextValue, text + "y"}});
    ASSERT_TRUE(second.putAndInsertFloat64(DCM_DiffusionBValue, 1000.0).good());
    std::vector<DcmDataset> answers;
    answers.push_back(MakeDataSet({{DCM_PatientID, "P1"}, {DCM_TextValue, text}}));
    answers.push_back(second);
    node.SetResponses(std::move(answers));
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    DicomDataSets responses = query.QueryRun(StudyIdentifier());

    ASSERT_EQ(responses.DataSetsCount(), 2);
    EXPECT_EQ(TextOf(responses.DataSetsItem(1), 0x0040, 0xA160), text);
    EXPECT_EQ(TextOf(responses.DataSetsItem(2), 0x0040, 0xA160), text + "y");
    EXPECT_EQ(TextOf(responses.DataSetsItem(2), 0x0018, 0x9087), "1000");
    EXPECT_EQ(responses.DataSetsItem(2).DataSetPatientID(), "P2");
}

TEST(QueryRunNet, HandlerSeesEachResponseAsItArrives) {
    TestNode node;
    node.SetSyntheticResponses(5);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    std::vector<DicomDataSet> seen;
    std::vector<std::string> seenIDs;

    DicomDataSets responses = query.QueryRun(StudyIdentifier(), [&](const DicomDataSet& response) {
        seen.push_back(response);
        seenIDs.push_back(response.DataSetPatientID());
    });

    EXPECT_EQ(seenIDs, (std::vector<std::string>{"PID1", "PID2", "PID3", "PID4", "PID5"}));
    ASSERT_EQ(responses.DataSetsCount(), 5);
    ASSERT_EQ(seen.size(), 5u);
    // The handler saw the very data sets that are returned, in their order.
    for (int i = 1; i <= 5; ++i) {
        EXPECT_TRUE(seen[static_cast<std::size_t>(i - 1)].SameAs(responses.DataSetsItem(i))) << i;
    }
}

// Whatever shape a node gives its responses, reading them plainly where that
// can be done gives what DCMTK alone gives, attribute by attribute.
TEST(QueryRunNet, PlainAndDcmtkReadingsOfResponsesAgree) {
    DcmDataset converted = MakeDataSet(
        {{DCM_SpecificCharacterSet, "ISO_IR 144"},
         {DCM_PatientName, "\xB8\xD2\xD0\xDD\xDE\xD2"},
         {DCM_ReferencedStudySequence,
          Items{{{DCM_SpecificCharacterSet, "ISO_IR 100"}, {DCM_StudyDescription, "\xC9tude"}},
                {{DCM_StudyDescription, "\xE6\xD2\xE3"}}}}});
    DcmDataset numbers = MakeDataSet({{DCM_PatientID, "P1"}});
    const Uint16 rows[] = {512, 1};
    ASSERT_TRUE(numbers.putAndInsertUint16Array(DCM_Rows, rows, 2).good());
    ASSERT_TRUE(numbers.putAndInsertSint16(DcmTag(DCM_PixelPaddingValue, EVR_SS), -2).good());
    ASSERT_TRUE(numbers.putAndInsertString(DcmTag(0x0009, 0x0010, EVR_LO), "ACME").good());
    DcmDataset binary = numbers;
    const Uint8 bytes[] = {1, 2, 3, 4};
    ASSERT_TRUE(binary.putAndInsertFloat64(DCM_DiffusionBValue, 1000.0).good());
    ASSERT_TRUE(binary.putAndInsertUint8Array(DcmTag(0x0009, 0x1002, EVR_OB), bytes, 4).good());
    const std::vector<std::pair<const char*, std::vector<DcmDataset>>> shapes = {
        {"synthetic", {}},
        {"Latin-1, declared or not",
         {MakeDataSet({{DCM_SpecificCharacterSet, "ISO_IR 100"}, {DCM_PatientName, "M\xFCller"}}),
          MakeDataSet({{DCM_PatientName, "Fran\xE7ois"}, {DCM_PatientID, "\xE9"}})}},
        {"converted text, items of their own set", {converted}},
        {"undeclared: UTF-8, Windows-1252 in an item, an empty declaration",
         {MakeDataSet({{DCM_PatientName, "\xC3\x89ric"},
                       {DCM_ReferencedStudySequence, Items{{{DCM_StudyDescription, "Vue \x80"}}}}}),
          MakeDataSet({{DCM_SpecificCharacterSet, ""}, {DCM_PatientName, "Zo\xE9"}})}},
        {"UTF-8, unknown sets",
         {MakeDataSet(
              {{DCM_SpecificCharacterSet, "ISO_IR 192"}, {DCM_PatientName, "Zo\xC3\xAB^\xFF"}}),
          MakeDataSet({{DCM_SpecificCharacterSet, "\\ISO 2022 IR 100"}, {DCM_PatientName, "\xE9"}}),
          MakeDataSet({{DCM_SpecificCharacterSet, "BOGUS"}, {DCM_PatientName, "\xE9"}})}},
        {"padding and odd UIDs",
         {MakeDataSet({{DCM_ModalitiesInStudy, "CT \\ MR"},
                       {DCM_PatientName, std::string(" A^B\0", 5)},
                       {DCM_PatientID, "P1   "},
                       {DCM_StudyInstanceUID, "1.2.A "},
                       {DCM_SeriesInstanceUID, std::string("1.2\0\0", 5)}})}},
        {"numbers, binary values, private ones", {numbers, binary}},
        {"empty values, items and sequences",
         {MakeDataSet(
             {{DCM_AccessionNumber, ""},
              {DCM_ReferencedStudySequence, Items{}},
              {DCM_ScheduledProcedureStepSequence,
               Items{{}, {{DCM_ScheduledProtocolCodeSequence, Items{{{DCM_CodeValue, ""}}}}}}}})}},
    };
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "WORKLIST");
    for (const auto& [what, responses] : shapes) {
        SCOPED_TRACE(what);
        if (responses.empty()) {
            node.SetSyntheticResponses(3);
        } else {
            node.SetResponses(responses);
        }
        std::vector<std::string> read[2];
        for (const bool dcmtkOnly : {false, true}) {
            const bool before = detail::SetDcmtkReaderOnly(dcmtkOnly);
            DicomDataSets got = query.QueryRun(WorklistIdentifier());
            detail::SetDcmtkReaderOnly(before);
            for (int i = 1; i <= got.DataSetsCount(); ++i)
                read[dcmtkOnly ? 1 : 0].push_back(
                    testing::Dump(got.DataSetsItem(i)) + " read as " +
                    std::to_string(static_cast<int>(got.DataSetsItem(i).DataSetAssumedCharset())));
        }
        EXPECT_EQ(read[0].size(), responses.empty() ? 3u : responses.size());
        EXPECT_EQ(read[0], read[1]);
    }
}

TEST(QueryRunNet, HandlerThatThrowsEndsTheQuery) {
    TestNode node;
    node.SetSyntheticResponses(50);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    int calls = 0;

    EXPECT_THROW(query.QueryRun(StudyIdentifier(),
                                [&](const DicomDataSet&) {
                                    if (++calls == 2) throw std::runtime_error("stop");
                                }),
                 std::runtime_error);
    EXPECT_EQ(calls, 2);
    // The node is free for the next query.
    EXPECT_EQ(query.QueryRun(StudyIdentifier()).DataSetsCount(), 50);
}

TEST(QueryRunNet, NoMatchGivesAnEmptyCollection) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "PATIENT");

    EXPECT_EQ(query.QueryRun(StudyIdentifier()).DataSetsCount(), 0);
}

TEST(QueryRunNet, ResponsesKeepTheirSequences) {
    TestNode node;
    node.SetResponses(
        {MakeDataSet({{DCM_AccessionNumber, "A1"},
                      {DCM_ScheduledProcedureStepSequence,
                       Items{{{DCM_ScheduledProcedureStepID, "SPS1"}, {DCM_Modality, "MR"}}}}})});
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "WORKLIST");

    DicomDataSets responses = query.QueryRun(WorklistIdentifier());

    ASSERT_EQ(responses.DataSetsCount(), 1);
    DicomDataSets steps = responses.DataSetsItem(1)
                              .DataSetAttributes()
                              .AttributesFind(0x0040, 0x0100)
                              .AttributeValue()
                              .AsCollection();
    ASSERT_EQ(steps.DataSetsCount(), 1);
    EXPECT_EQ(TextOf(steps.DataSetsItem(1), 0x0040, 0x0009), "SPS1");
    EXPECT_EQ(TextOf(steps.DataSetsItem(1), 0x0008, 0x0060), "MR");
}

TEST(QueryRunNet, DecodesLatin1ResponsesToUtf8) {
    TestNode node;
    node.SetResponses({MakeDataSet({{DCM_SpecificCharacterSet, "ISO_IR 100"},
                                    {DCM_PatientName, "M\xFCller^Zo\xEB"}}),
                       // Declares nothing but carries Latin-1 bytes, as many nodes do.
                       MakeDataSet({{DCM_PatientName, "Fran\xE7ois"}})});
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    DicomDataSets responses = query.QueryRun(StudyIdentifier());

    ASSERT_EQ(responses.DataSetsCount(), 2);
    EXPECT_EQ(TextOf(responses.DataSetsItem(1), 0x0010, 0x0010), "M\xC3\xBCller^Zo\xC3\xAB");
    EXPECT_EQ(TextOf(responses.DataSetsItem(2), 0x0010, 0x0010), "Fran\xC3\xA7ois");
}

TEST(QueryRunNet, CountHasNo16BitLimit) {
    TestNode node;
    node.SetSyntheticResponses(65'600);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    DicomDataSets responses = query.QueryRun(StudyIdentifier());

    ASSERT_EQ(responses.DataSetsCount(), 65'600);
    EXPECT_EQ(responses.DataSetsItem(1).DataSetPatientID(), "PID1");
    EXPECT_EQ(responses.DataSetsItem(65'537).DataSetPatientID(), "PID65537");
    EXPECT_EQ(responses.DataSetsItem(65'600).DataSetPatientID(), "PID65600");
}

TEST(QueryRunNet, WarningStatusEndsTheQueryNormally) {
    TestNode node;
    node.SetResponses({MakeDataSet({{DCM_PatientID, "P1"}})});
    node.SetFinalStatus(0xB000);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(query.QueryRun(StudyIdentifier()).DataSetsCount(), 1);
}

TEST(QueryRunNet, SameQueryObjectRunsTwice) {
    TestNode node;
    node.SetSyntheticResponses(2);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(query.QueryRun(StudyIdentifier()).DataSetsCount(), 2);
    EXPECT_EQ(query.QueryRun(StudyIdentifier()).DataSetsCount(), 2);
    EXPECT_EQ(node.ReceivedCount(), 2u);
}

// --- failures ----------------------------------------------------------------

TEST(QueryRunNet, RefusedConnection) {
    lumo::testing::RefusingPort closed;
    DicomQuery query = MakeQuery(closed.Port(), "STUDY");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomNetworkError: Cannot connect to 127.0.0.1:" + std::to_string(closed.Port()) +
                  " (NORVANEX): connection refused");
}

TEST(QueryRunNet, RejectedAssociationGivesTheNodesReason) {
    TestNode node;
    node.SetRejectAssociation(RejectReason::CalledAETitleNotRecognized);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomAssociationRejected: Association rejected by " + Peer(node) +
                  ": called AE title not recognized");

    node.SetRejectAssociation(RejectReason::TemporaryCongestion);
    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomAssociationRejected: Association rejected by " + Peer(node) +
                  ": temporary congestion");
    EXPECT_EQ(node.ReceivedCount(), 0u);
}

TEST(QueryRunNet, NodeThatChecksItsTitleRejectsAnotherOne) {
    TestNode node("PACS");
    node.SetRequireCalledAETitle(true);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY", "NOTPACS");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomAssociationRejected: Association rejected by 127.0.0.1:" +
                  std::to_string(node.Port()) + " (NOTPACS): called AE title not recognized");

    DicomQuery right = MakeQuery(node.Port(), "STUDY", "PACS");
    EXPECT_EQ(right.QueryRun(StudyIdentifier()).DataSetsCount(), 0);
}

TEST(QueryRunNet, NoPresentationContextAccepted) {
    TestNode node;
    node.SetAcceptedSopClasses({lumo::testing::kVerification});
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomError: No presentation context accepted by " + Peer(node) +
                  ": Study Root FIND (1.2.840.10008.5.1.4.1.2.2.1) abstract syntax not supported");
    EXPECT_EQ(node.ReceivedCount(), 0u);
}

TEST(QueryRunNet, SilentNodeEndsInAResponseTimeout) {
    TestNode node;
    node.SetSilent(Silence::AfterRequest);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomTimeouts timeouts = testing::ShortTimeouts();
    timeouts.response = 1s;
    query.SetTimeouts(timeouts);

    EXPECT_EQ(FailureOf(query, StudyIdentifier()), "EDicomNetworkError: C-FIND to " + Peer(node) +
                                                       " failed: response timeout after 1 s");
    // The console gave up by aborting, not by leaving the node hanging.
    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    EXPECT_EQ(node.Associations()[0].end, AssociationRecord::End::AbortedByPeer);
}

// The wait for a data set its command announced is bounded the same way.
TEST(QueryRunNet, NodeSilentBeforeTheDataSetEndsInAResponseTimeout) {
    TestNode node;
    node.SetSilent(Silence::BeforeDataSet);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomTimeouts timeouts = testing::ShortTimeouts();
    timeouts.response = 1s;
    query.SetTimeouts(timeouts);

    EXPECT_EQ(FailureOf(query, StudyIdentifier()), "EDicomNetworkError: C-FIND to " + Peer(node) +
                                                       " failed: response timeout after 1 s");
    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    EXPECT_EQ(node.Associations()[0].end, AssociationRecord::End::AbortedByPeer);
}

TEST(QueryRunNet, NodeSilentBeforeAssociationEndsInAnAssociationTimeout) {
    TestNode node;
    node.SetSilent(Silence::BeforeAssociation);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomTimeouts timeouts = testing::ShortTimeouts();
    timeouts.association = 1s;
    query.SetTimeouts(timeouts);

    EXPECT_EQ(FailureOf(query, StudyIdentifier()), "EDicomNetworkError: No association with " +
                                                       Peer(node) +
                                                       ": association timeout after 1 s");
    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    EXPECT_EQ(node.Associations()[0].calledAETitle, "NORVANEX");
    EXPECT_EQ(node.Associations()[0].callingAETitle, "Lumo4410");
}

TEST(QueryRunNet, TimeoutOfPartOfASecondStillWaits) {
    TestNode node;
    node.SetSilent(Silence::AfterRequest);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomTimeouts timeouts = testing::ShortTimeouts();
    timeouts.response = 200ms;
    query.SetTimeouts(timeouts);

    EXPECT_EQ(FailureOf(query, StudyIdentifier()), "EDicomNetworkError: C-FIND to " + Peer(node) +
                                                       " failed: response timeout after 1 s");
}

TEST(QueryRunNet, AbortInTheMiddleOfAQuery) {
    TestNode node;
    node.SetSyntheticResponses(5);
    node.SetAbortAfter(2);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomNetworkError: C-FIND to " + Peer(node) +
                  " failed: association aborted by the node after 2 responses");

    node.SetAbortAfter(1);
    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomNetworkError: C-FIND to " + Peer(node) +
                  " failed: association aborted by the node after 1 response");
}

TEST(QueryRunNet, FailureStatusWithItsErrorComment) {
    TestNode node;
    node.SetSyntheticResponses(2);
    node.SetFinalStatus(0xC001, "Unable to process");
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomStatusError: C-FIND failed with status C001 from " + Peer(node) +
                  ": Unable to process");
    // The exchange itself ended properly.
    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    EXPECT_EQ(node.Associations()[0].end, AssociationRecord::End::Released);
}

TEST(QueryRunNet, FailureStatusWithoutComment) {
    TestNode node;
    node.SetFinalStatus(0xA700);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "PATIENT");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomStatusError: C-FIND failed with status A700 from " + Peer(node));
}

TEST(QueryRunNet, UnknownRootIsRefusedBeforeConnecting) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "SERIES");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomError: Unknown query root \"SERIES\": expected WORKLIST, PATIENT or STUDY");
    EXPECT_TRUE(node.Associations().empty());
}

TEST(QueryRunNet, PortOutOfRange) {
    for (int port : {0, -1, 65536}) {
        DicomQuery query = MakeQuery(0, "STUDY");
        query.QuerySetNodePort(port);
        EXPECT_EQ(FailureOf(query, StudyIdentifier()),
                  "EDicomNetworkError: Cannot connect to 127.0.0.1:" + std::to_string(port) +
                      " (NORVANEX): invalid port number");
    }
}

TEST(QueryRunNet, NodeStopsPromptlyWhileAPeerWaits) {
    // A query whose node goes away mid-wait fails; it does not hang.
    auto node = std::make_unique<TestNode>();
    node->SetSilent(Silence::AfterRequest);
    node->Start();
    const std::string peer = Peer(*node);
    DicomQuery query = MakeQuery(node->Port(), "STUDY");
    std::string failure;
    std::thread client([&] { failure = FailureOf(query, StudyIdentifier()); });
    ASSERT_TRUE(node->WaitForRequests(1, 10s));
    node.reset();
    client.join();
    EXPECT_EQ(failure, "EDicomNetworkError: C-FIND to " + peer +
                           " failed: association aborted by the node after 0 responses");
}

}  // namespace
}  // namespace lumo::dicom
