// The log lines of an incoming request in listen mode, with the connection
// number, and the trap that keeps a failing request from reaching the
// listener.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/TFormTestWL.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/net/DicomQuery.h"
#include "support/Exception.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"

namespace lumo::app {
namespace {

using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using Lines = std::vector<std::string>;

// A screen whose printing of a listing can be made to fail, as a command
// line whose output has gone away does.
class FailingHost : public testing::RecordingHost {
  public:
    void QueryListed() override {
        RecordingHost::QueryListed();
        if (failListing) throw Exception(ErrorClass::EInOutError, "la sortie est fermée");
    }
    bool failListing = false;
};

struct CallerResult {
    int count = -1;
    std::string error;
};

class QueryRequestLogNet : public ::testing::Test {
  protected:
    QueryRequestLogNet() {
        node.Start();
        host.form = &form;
        SetCommandLineParams({"LISTEN", "0"});
        EXPECT_TRUE(form.RunHandler([&] { form.FormCreate(); }));
        SetCommandLineParams({});
        EXPECT_TRUE(form.Listening());
        form.EditPort.Text = std::to_string(node.Port());
        form.QueryTimeouts = {std::chrono::seconds(5), std::chrono::seconds(10),
                              std::chrono::seconds(20)};
    }
    ~QueryRequestLogNet() override { host.form = nullptr; }

    // A study-root request from another thread while this one runs the
    // form's events.
    CallerResult Call(const std::string& root) {
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
                query.QuerySetLevel("STUDY");
                query.SetTimeouts(
                    {std::chrono::seconds(5), std::chrono::seconds(10), std::chrono::seconds(40)});
                dicom::DicomDataSet request;
                dicom::DicomAttributes keys = request.DataSetAttributes();
                keys.AttributesAdd(0x0008, 0x0052, dicom::Variant("STUDY"));
                keys.AttributesAdd(0x0010, 0x0020, dicom::Variant("PID1"));
                result.count = query.QueryRun(request).DataSetsCount();
            } catch (const Exception& e) {
                result.error = e.ClassName() + ":" + e.Message();
            }
            done = true;
            host.dispatcher.Post([] {});
        });
        host.dispatcher.RunUntil([&] { return done.load(); });
        caller.join();
        return result;
    }

    testing::ProgramFolder folder;
    TestNode node;
    FailingHost host;
    TFormTestWL form{host};
};

TEST_F(QueryRequestLogNet, EachRequestIsLoggedWithItsConnectionNumber) {
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "A1"}})});
    EXPECT_EQ(Call("STUDY").count, 1);
    EXPECT_EQ(Call("WORKLIST").count, 1);
    EXPECT_EQ(
        folder.LogLines(),
        (Lines{"[100] Ouverture LUMO4410", "[250] Query Request :1 Début",
               "[250] Query Request Connection.Root : STUDY",
               "[250] Query Request Connection.Level : STUDY", "[250] Query Request :1 Fin",
               "[250] Query Request :2 Début", "[250] Query Request Connection.Root : WORKLIST",
               "[250] Query Request Connection.Level : STUDY", "[250] Query Request :2 Fin"}));
    // Nothing of the handler goes into the result list.
    EXPECT_EQ(form.ListBoxResult.Items[0].rfind("A1", 0), 0u);
}

TEST_F(QueryRequestLogNet, AnErrorInTheHandlerIsLoggedAndTheNextRequestIsServed) {
    node.SetResponses({MakeDataSet({{DCM_AccessionNumber, "A1"}})});
    host.failListing = true;
    // The responses went out before the listing failed.
    EXPECT_EQ(Call("WORKLIST").count, 1);
    host.failListing = false;
    EXPECT_EQ(Call("WORKLIST").count, 1);
    EXPECT_TRUE(host.errors.empty());
    const Lines log = folder.LogLines();
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[4], "[005] Exception dans Query Request :1 (EInOutError):la sortie est fermée");
    EXPECT_EQ(log[5], "[250] Query Request :2 Début");
    EXPECT_EQ(log[8], "[250] Query Request :2 Fin");
}

TEST_F(QueryRequestLogNet, AFailedForwardedQueryEndsTheRequestWithAFailure) {
    node.SetFinalStatus(0xA700);
    const CallerResult result = Call("WORKLIST");
    EXPECT_EQ(result.count, -1);
    EXPECT_NE(result.error, "");
    EXPECT_FALSE(form.HasPendingConnection());
    // The forwarded query's failure is the console's; the handler still ends.
    EXPECT_EQ(folder.LogLines().back(), "[250] Query Request :1 Fin");
    node.SetFinalStatus(0x0000);
    EXPECT_EQ(Call("WORKLIST").count, 0);
}

// The caller's final status is the exchange's: a listing that stops on a
// response it cannot show (here with save files, an accession number sent
// as a sequence) leaves the caller every response and Success, and the log
// says why the listing stopped.
TEST_F(QueryRequestLogNet, AListingThatFailsStillEndsTheRequestWithTheExchangesStatus) {
    std::vector<DcmDataset> responses;
    responses.push_back(MakeDataSet({{DCM_AccessionNumber, "A1"}}));
    responses.push_back(DcmDataset());
    auto sequence = std::make_unique<DcmSequenceOfItems>(DcmTag(DCM_AccessionNumber, EVR_SQ));
    ASSERT_TRUE(sequence->append(new DcmItem()).good());
    ASSERT_TRUE(responses.back().insert(sequence.release()).good());
    responses.push_back(MakeDataSet({{DCM_AccessionNumber, "A3"}}));
    node.SetResponses(std::move(responses));
    testing::TempDir dir;
    testing::CurrentDir here(dir.Path());
    form.cbSaveResults.Checked = true;
    const CallerResult result = Call("WORKLIST");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.count, 3);
    EXPECT_EQ(form.ListBoxResult.Items[0].rfind("A1", 0), 0u);
    const Lines log = folder.LogLines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4].rfind("[005] Exception dans LaunchQuery(True,STUDY):", 0), 0u) << log[4];
    EXPECT_EQ(log[5], "[250] Query Request :1 Fin");
}

}  // namespace
}  // namespace lumo::app
