// Listen mode: an incoming query is answered with the console's worklist
// responses over the recorded connection.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/net/DicomQuery.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::WireItemText;
using testing::WireText;

// What a caller of the listening form got back.
struct CallerResult {
    int count = -1;
    std::vector<dicom::DicomDataSet> responses;
    std::string errorClass;
    std::string error;
};

// A request that asks for everything (an empty identifier cannot be sent).
dicom::DicomDataSet AnyRequest() {
    dicom::DicomDataSet request;
    request.DataSetAttributes().AttributesAdd(0x0010, 0x0020, dicom::Variant(""));
    return request;
}

class ForwardingNet : public ::testing::Test {
  protected:
    ForwardingNet() {
        node.Start();
        host.form = &form;
        SetCommandLineParams({"LISTEN", "0"});
        EXPECT_TRUE(form.RunHandler([&] { form.FormCreate(); }));
        SetCommandLineParams({});
        EXPECT_TRUE(form.Listening());
        form.EditIP.Text = "127.0.0.1";
        form.EditPort.Text = std::to_string(node.Port());
        form.QueryTimeouts = {std::chrono::seconds(5), std::chrono::seconds(10),
                              std::chrono::seconds(20)};
    }

    // Sends `request` to the form from another thread, as a modality would,
    // while this thread runs the form's events; returns what came back.
    CallerResult Call(const dicom::DicomDataSet& request, const std::string& root = "WORKLIST") {
        CallerResult result;
        std::atomic<bool> done{false};
        std::thread caller([&] {
            try {
                dicom::DicomQuery query;
                query.QuerySetCallingAETitle("MODALITY1");
                query.QuerySetCalledAETitle("RELAY");
                query.QuerySetNodeAddress("127.0.0.1");
                query.QuerySetNodePort(form.DicomViewer1.Viewer.ListeningPort());
                query.QuerySetRoot(root);
                if (root == "WORKLIST") query.QuerySetLevel("STUDY");
                query.SetTimeouts(
                    {std::chrono::seconds(5), std::chrono::seconds(10), std::chrono::seconds(40)});
                const dicom::DicomDataSets responses = query.QueryRun(request);
                result.count = responses.DataSetsCount();
                for (int i = 1; i <= result.count; ++i)
                    result.responses.push_back(responses.DataSetsItem(i));
            } catch (const Exception& e) {
                result.errorClass = e.ClassName();
                result.error = e.Message();
            }
            done = true;
            host.dispatcher.Post([] {});
        });
        host.dispatcher.RunUntil([&] { return done.load(); });
        caller.join();
        return result;
    }

    TestNode node;
    testing::RecordingHost host;
    TFormTestWL form{host};
};

TEST_F(ForwardingNet, TheCallerGetsTheWorklistResponsesAndTheConnectionIsReleased) {
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "ACC1"},
                                    {DCM_PatientID, "PID1"},
                                    {DCM_IssuerOfAccessionNumberSequence,
                                     Items{{{DCM_LocalNamespaceEntityID, "HOSP"}}}}}),
                       MakeDataSet({{DCM_AccessionNumber, "ACC2"}, {DCM_PatientID, "PID1"}})});
    dicom::DicomDataSet request;
    dicom::DicomAttributes keys = request.DataSetAttributes();
    keys.AttributesAdd(0x0008, 0x0050, dicom::Variant("ACC*"));
    keys.AttributesAdd(0x0010, 0x0020, dicom::Variant("PID1"));
    keys.AttributesAdd(0x0040, 0x0002, dicom::Variant("20261201-20261207"));
    form.cboModalite.Text = "MR";

    const CallerResult result = Call(request);
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.count, 2);
    EXPECT_EQ(result.responses[0].DataSetAccessionNumber(), "ACC1");
    EXPECT_EQ(result.responses[1].DataSetAccessionNumber(), "ACC2");
    // Listed with the removal line, forwarded without the sequence.
    EXPECT_FALSE(result.responses[0]
                     .DataSetAttributes()
                     .AttributesFind(0x0008, 0x0051)
                     .AttributeIsPresent());
    EXPECT_EQ(form.ListBoxResult.Items.Count(), 27u);
    EXPECT_EQ(form.ListBoxResult.Items[12], "0008,0051 Found -> Remove from response attribute");
    // The relay sent a copy: the response of the console's query keeps it.
    EXPECT_TRUE(form.LastQuery()
                    .responses.DataSetsItem(1)
                    .DataSetAttributes()
                    .AttributesFind(0x0008, 0x0051)
                    .AttributeIsPresent());
    EXPECT_FALSE(form.HasPendingConnection());

    // The request's keys and the caller's titles went into the fields, and
    // from there into the worklist query.
    EXPECT_EQ(form.EditCallingAETitle.Text, "MODALITY1");
    EXPECT_EQ(form.EditAETitle.Text, "RELAY");
    EXPECT_EQ(form.EditAccession.Text, "ACC*");
    EXPECT_EQ(form.EditDossier.Text, "PID1");
    EXPECT_EQ(form.EditDate.Text, "20261201-20261207");
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto relayed = node.Received()[0];
    EXPECT_EQ(relayed.sopClassUID, lumo::testing::kWorklistFind);
    EXPECT_EQ(relayed.callingAETitle, "MODALITY1");
    EXPECT_EQ(relayed.calledAETitle, "RELAY");
    EXPECT_EQ(WireText(relayed, DCM_AccessionNumber), "ACC*");
    EXPECT_EQ(WireItemText(relayed, DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "20261201-20261207");
    EXPECT_EQ(WireItemText(relayed, DCM_ScheduledProcedureStepSequence, DCM_Modality), "MR");
}

TEST_F(ForwardingNet, AStudyRequestIsStillAnsweredByAWorklistQuery) {
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "W1"}})});
    SetClock([] { return EncodeDateTime(2026, 12, 7, 8, 0, 0); });
    dicom::DicomDataSet request;
    request.DataSetAttributes().AttributesAdd(0x0008, 0x0052, dicom::Variant("STUDY"));
    const CallerResult result = Call(request, "STUDY");
    SetClock({});
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.count, 1);
    // No start date in the request: today.
    EXPECT_EQ(form.EditDate.Text, "20261207");
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].sopClassUID, lumo::testing::kWorklistFind);
}

TEST_F(ForwardingNet, NoResponseSendsTheFinalStatusAlone) {
    const CallerResult result = Call(AnyRequest());
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), std::vector<std::string>{"Aucun résultat"});
    EXPECT_FALSE(form.HasPendingConnection());
}

// The relayed query fails: nothing is sent back by the form, the caller gets
// the listener's failure status, and later console queries leave the dead
// request alone.
TEST_F(ForwardingNet, AFailedRelayLeavesNoConnectionBehind) {
    node.SetFinalStatus(0xC001);
    const CallerResult failed = Call(AnyRequest());
    EXPECT_EQ(failed.errorClass, "EDicomStatusError");
    EXPECT_EQ(form.lblDHReponse.Caption, "Erreur");
    EXPECT_FALSE(form.HasPendingConnection());

    node.SetFinalStatus(0x0000);
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "LATER"}})});
    form.ButtonWL.Click();
    EXPECT_EQ(form.ListBoxResult.Items.Count(), 13u);
    EXPECT_EQ(form.ListBoxResult.Items[0], "LATER        ");
}

TEST_F(ForwardingNet, TwoCallersOneAfterTheOther) {
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "X"}})});
    for (int i = 0; i < 2; ++i) {
        const CallerResult result = Call(AnyRequest());
        ASSERT_EQ(result.error, "") << i;
        EXPECT_EQ(result.count, 1);
        EXPECT_FALSE(form.HasPendingConnection());
    }
    EXPECT_EQ(node.ReceivedCount(), 2u);
    EXPECT_EQ(host.listed, 2);
}

TEST(ListenNet, ThePortInUseLeavesTheFormWithoutListening) {
    testing::RecordingHost host;
    TFormTestWL first(host);
    SetCommandLineParams({"LISTEN", "0"});
    first.FormCreate();
    ASSERT_TRUE(first.Listening());
    SetCommandLineParams({"LISTEN", std::to_string(first.DicomViewer1.Viewer.ListeningPort())});
    TFormTestWL second(host);
    EXPECT_TRUE(second.RunHandler([&] { second.FormCreate(); }));
    SetCommandLineParams({});
    EXPECT_FALSE(second.Listening());
    EXPECT_TRUE(host.errors.empty());
}

}  // namespace
}  // namespace lumo::app
