// The worklist check against the test node: its request on the wire, the
// lines it lists and logs, and the findings in a real log file.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/TFormTestWL.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"

namespace lumo::app {
namespace {

using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::TagTexts;
using testing::WireItemTags;
using testing::WireItemText;
using testing::WireText;

using Lines = std::vector<std::string>;

class WorklistCheckNet : public ::testing::Test {
  protected:
    WorklistCheckNet() : node(), started(testing::Started(node)), on(node) {
        on.form.EditAccession.Text = "A1";
    }

    // Presses "Worklist TAVRIX" as the operator does; false when an error
    // left the handler.
    bool Check() {
        return on.form.RunHandler([&] { on.form.Button3.Click(); });
    }
    Lines ListLines() const { return on.form.ListBoxResult.Items.Copy(); }

    // The log lines from the first line of the run on ("Worklist demandé").
    Lines RunLog() {
        const Lines all = folder.LogLines();
        const auto first = std::find_if(all.begin(), all.end(), [](const std::string& line) {
            return line.find("Worklist demand") != std::string::npos;
        });
        return Lines(first, all.end());
    }

    testing::ProgramFolder folder;
    TestNode node;
    TestNode& started;
    testing::FormOnNode on;
};

TEST_F(WorklistCheckNet, AnAccessionIsMatchedAtTheTopAndTheDateIsAskedBack) {
    on.form.EditDate.Text = "20261207";
    on.form.cboModalite.Text = "CT";
    ASSERT_TRUE(Check());
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto request = node.Received()[0];
    EXPECT_EQ(request.sopClassUID, lumo::testing::kWorklistFind);
    EXPECT_EQ(request.callingAETitle, "Lumo4410");
    EXPECT_EQ(request.calledAETitle, "NORVANEX");
    EXPECT_EQ(TagTexts(request.Tags()),
              (Lines{"(0008,0005)", "(0008,0020)", "(0008,0030)", "(0008,0050)", "(0008,0052)",
                     "(0008,0061)", "(0008,0090)", "(0008,1030)", "(0010,0010)", "(0010,0020)",
                     "(0010,0030)", "(0010,0040)", "(0020,000D)", "(0020,0010)", "(0040,0100)"}));
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "STUDY");
    EXPECT_EQ(WireText(request, DCM_SpecificCharacterSet), "ISO_IR 100");
    EXPECT_EQ(WireText(request, DCM_AccessionNumber), "A1");
    EXPECT_EQ(testing::WireItemCount(request, DCM_ScheduledProcedureStepSequence), 1u);
    EXPECT_EQ(TagTexts(WireItemTags(request, DCM_ScheduledProcedureStepSequence)),
              (Lines{"(0008,0060)", "(0010,0010)", "(0040,0002)", "(0040,0003)", "(0040,0007)"}));
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence, DCM_Modality), "CT");
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "");
}

TEST_F(WorklistCheckNet, WithoutAnAccessionTheItemMatchesOneDay) {
    on.form.EditAccession.Text = "";
    on.form.EditDate.Text = "20261207";
    ASSERT_TRUE(Check());
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto request = node.Received()[0];
    EXPECT_FALSE(request.Has(DCM_AccessionNumber));
    EXPECT_EQ(TagTexts(WireItemTags(request, DCM_ScheduledProcedureStepSequence)),
              (Lines{"(0008,0050)", "(0008,0060)", "(0010,0010)", "(0040,0002)", "(0040,0003)",
                     "(0040,0007)"}));
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "20261207-20261207");
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence, DCM_AccessionNumber), "");
    // An empty modality is a return key.
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence, DCM_Modality), "");
}

TEST_F(WorklistCheckNet, AnAccessionOfBlanksCountsAsGiven) {
    on.form.EditAccession.Text = "  ";
    on.form.EditDate.Text = "20261207";
    ASSERT_TRUE(Check());
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto request = node.Received()[0];
    EXPECT_TRUE(request.Has(DCM_AccessionNumber));
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "");
    EXPECT_EQ(WireItemText(request, DCM_ScheduledProcedureStepSequence, DCM_AccessionNumber),
              std::nullopt);
}

TEST_F(WorklistCheckNet, BothEmptyAskForTheOpenRange) {
    on.form.EditAccession.Text = "";
    on.form.EditDate.Text = "";
    ASSERT_TRUE(Check());
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(WireItemText(node.Received()[0], DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "-");
}

TEST_F(WorklistCheckNet, ARunWithResponsesListsItsProgressAndLogsItToo) {
    node.SetResponses({MakeDataSet({{DCM_StudyInstanceUID, "1.2.3.4"},
                                    {DCM_ScheduledProcedureStepSequence,
                                     Items{{{DCM_Modality, "CT"},
                                            {DCM_ScheduledProcedureStepStartDate, "20261207"},
                                            {DCM_ScheduledProcedureStepStartTime, "101500"}}}}}),
                       MakeDataSet({{DCM_StudyInstanceUID, "9.9"}})});
    on.form.ListBoxResult.Items.Add("before");
    ASSERT_TRUE(Check());
    const Lines expected{"before",
                         "Worklist demandé à NORVANEX",
                         "-> Réponse arrivée",
                         "checkResults",
                         "Res",
                         "studyuid:1.2.3.4",
                         "Fin check Res"};
    EXPECT_EQ(ListLines(), expected);
    // Nothing to report: every line of the log is a progress line.
    Lines logged;
    for (std::size_t i = 1; i < expected.size(); ++i) logged.push_back("[250] " + expected[i]);
    EXPECT_EQ(RunLog(), logged);
    // The run leaves the time labels alone.
    EXPECT_EQ(on.form.lblDHReponse.Caption, "");
}

TEST_F(WorklistCheckNet, TwoRunsFollowEachOtherInTheList) {
    node.SetResponses({MakeDataSet({{DCM_StudyInstanceUID, "1.2"}})});
    ASSERT_TRUE(Check());
    ASSERT_TRUE(Check());
    ASSERT_EQ(ListLines().size(), 12u);
    EXPECT_EQ(ListLines()[5], "Fin check Res");
    EXPECT_EQ(ListLines()[6], "Worklist demandé à NORVANEX");
    EXPECT_EQ(ListLines()[11], "Fin check Res");
}

TEST_F(WorklistCheckNet, NoResponseEndsNormally) {
    ASSERT_TRUE(Check());
    EXPECT_EQ(ListLines(),
              (Lines{"Worklist demandé à NORVANEX", "-> Réponse arrivée",
                     "Aucun résultat pour Query", "checkResults", "Res", "Fin check Res"}));
    EXPECT_TRUE(on.host.errors.empty());
}

TEST_F(WorklistCheckNet, AnUnreachableNodeIsListedAndTheRunEnds) {
    on.form.EditPort.Text = testing::UnusedPort();
    ASSERT_TRUE(Check());
    ASSERT_EQ(ListLines().size(), 4u);
    EXPECT_EQ(ListLines()[0], "Worklist demandé à NORVANEX");
    EXPECT_EQ(ListLines()[1].rfind("Exception(EDicomNetworkError):", 0), 0u) << ListLines()[1];
    EXPECT_EQ(ListLines()[2], "checkResults");
    EXPECT_EQ(ListLines()[3], "Fin check Res");
    const Lines log = RunLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "[250] " + ListLines()[1]);
}

TEST_F(WorklistCheckNet, APortThatIsNotANumberIsReportedBeforeAnything) {
    on.form.EditPort.Text = "31x";
    EXPECT_FALSE(Check());
    EXPECT_EQ(on.host.errors.size(), 1u);
    EXPECT_TRUE(ListLines().empty());
    EXPECT_EQ(node.ReceivedCount(), 0u);
}

TEST_F(WorklistCheckNet, AMissingStartDateIsAnErrorAndANullStartTimeAWarning) {
    node.SetResponses({MakeDataSet(
        {{DCM_StudyInstanceUID, "1.2.3"},
         {DCM_ScheduledProcedureStepSequence,
          Items{{{DCM_Modality, "CT"}, {DCM_ScheduledProcedureStepStartTime, ""}}}}})});
    ASSERT_TRUE(Check());
    EXPECT_EQ(RunLog(),
              (Lines{"[250] Worklist demandé à NORVANEX", "[250] -> Réponse arrivée",
                     "[250] checkResults", "[250] Res", "[250] studyuid:1.2.3",
                     "[005] Reponse sans Study StartDate:A1",
                     "[050] Reponse avec Study StartTime null:A1", "[250] Fin check Res"}));
    // Findings go to the log only.
    EXPECT_EQ(ListLines().size(), 6u);
}

TEST_F(WorklistCheckNet, ANullStartDateAndAMissingStartTimeAreWarnings) {
    node.SetResponses({MakeDataSet({{DCM_ScheduledProcedureStepSequence,
                                     Items{{{DCM_ScheduledProcedureStepStartDate, ""}}}}})});
    ASSERT_TRUE(Check());
    const Lines log = RunLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[5], "[050] Reponse avec Study StartDate null:A1");
    EXPECT_EQ(log[6], "[050] Reponse sans Study StartTime:A1");
}

TEST_F(WorklistCheckNet, WithoutAScheduledStepTheStudyDateAndTimeAreChecked) {
    node.SetResponses({MakeDataSet({{DCM_StudyInstanceUID, "5.6"}, {DCM_ModalitiesInStudy, "MR"}}),
                       MakeDataSet({{DCM_StudyDate, "20260101"}})});
    ASSERT_TRUE(Check());
    const Lines log = RunLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[5], "[050] Reponse sans StudyDate:A1");
    EXPECT_EQ(log[6], "[050] Reponse sans StudyTime:A1");
    EXPECT_EQ(log[7], "[250] Fin check Res");
}

TEST_F(WorklistCheckNet, NullStudyDateAndTimeAreWarnings) {
    node.SetResponses({MakeDataSet({{DCM_StudyDate, ""}, {DCM_StudyTime, ""}})});
    ASSERT_TRUE(Check());
    const Lines log = RunLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[5], "[050] Reponse avec StudyDate null:A1");
    EXPECT_EQ(log[6], "[050] Reponse avec StudyTime null:A1");
}

TEST_F(WorklistCheckNet, OnlyTheFirstStepOfTheFirstResponseIsExamined) {
    node.SetResponses(
        {MakeDataSet({{DCM_ScheduledProcedureStepSequence,
                       Items{{{DCM_ScheduledProcedureStepStartDate, "20261207"},
                              {DCM_ScheduledProcedureStepStartTime, "0800"}},
                             {{DCM_Modality, "CT"}}}}}),
         MakeDataSet({{DCM_ScheduledProcedureStepSequence, Items{{{DCM_Modality, "CT"}}}}})});
    ASSERT_TRUE(Check());
    EXPECT_EQ(RunLog().size(), 6u);
}

TEST_F(WorklistCheckNet, AnEmptyScheduledStepSequenceEndsNormally) {
    node.SetResponses({MakeDataSet(
        {{DCM_StudyInstanceUID, "7.7"}, {DCM_ScheduledProcedureStepSequence, Items{}}})});
    ASSERT_TRUE(Check());
    EXPECT_EQ(ListLines(), (Lines{"Worklist demandé à NORVANEX", "-> Réponse arrivée",
                                  "checkResults", "Res", "studyuid:7.7", "Fin check Res"}));
    EXPECT_EQ(RunLog().size(), 6u);
}

}  // namespace
}  // namespace lumo::app
