#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "app/gui/LinesView.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "dicom/net/DicomQuery.h"
#include "support/Application.h"
#include "tests/app/gui/GuiTestSupport.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::gui {
namespace {

using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::WindowTest;

// The window against real nodes on loopback.
class WindowNet : public WindowTest {
  protected:
    // The window, its node fields on `node`, which sends 200 studies at one
    // every 50 ms.
    MainWindow& OpenOnASlowNode(TestNode& node);
};

QStringList Rows(LinesView& view) {
    QStringList rows;
    for (int i = 0; i < view.model()->rowCount(); ++i)
        rows << view.model()->index(i, 0).data().toString();
    return rows;
}

// Points the window's node fields at `node` the way the operator does.
void TypeNode(QLineEdit& ip, QLineEdit& port, const TestNode& node) {
    ip.selectAll();
    QTest::keyClicks(&ip, "127.0.0.1");
    port.selectAll();
    QTest::keyClicks(&port, QString::number(node.Port()));
}

MainWindow& WindowNet::OpenOnASlowNode(TestNode& node) {
    node.SetSyntheticResponses(200);
    node.SetResponseDelay(std::chrono::milliseconds(50));
    node.Start();
    MainWindow& window = Open();
    TypeNode(*Find<QLineEdit>("EditIP"), *Find<QLineEdit>("EditPort"), node);
    window.Form().EditDate.Text.clear();
    return window;
}

std::vector<DcmDataset> TwoStudies() {
    std::vector<DcmDataset> responses;
    responses.push_back(MakeDataSet({{DCM_AccessionNumber, "A1"},
                                     {DCM_PatientID, "P1"},
                                     {DCM_PatientName, "DURAND^Marie"},
                                     {DCM_StudyInstanceUID, "1.2.3.1"},
                                     {DCM_NumberOfStudyRelatedSeries, "2"}}));
    responses.push_back(MakeDataSet({{DCM_AccessionNumber, "A2"},
                                     {DCM_PatientID, "P2"},
                                     {DCM_PatientName, "MARTIN^Paul"},
                                     {DCM_StudyInstanceUID, "1.2.3.2"},
                                     {DCM_NumberOfStudyRelatedSeries, "1"}}));
    return responses;
}

TEST_F(WindowNet, StudyQueryFromAButtonClickIsListedInTheView) {
    TestNode node;
    node.SetResponses(TwoStudies());
    node.Start();
    MainWindow& window = Open();
    TypeNode(*Find<QLineEdit>("EditIP"), *Find<QLineEdit>("EditPort"), node);
    Find<QLineEdit>("EditDate")->clear();
    window.Form().EditDate.Text.clear();

    QTest::mouseClick(Find<QPushButton>("ButtonCFindStudyStudy"), Qt::LeftButton);

    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].sopClassUID, lumo::testing::kStudyRootFind);
    const QStringList rows = Rows(*Find<LinesView>("ListBoxResult"));
    ASSERT_EQ(rows.size(), 28) << rows.join('\n').toStdString();
    EXPECT_EQ(rows[0], "A1     P1   ");
    EXPECT_EQ(rows[1], "Patient: DURAND^Marie");
    EXPECT_EQ(rows[7], "StudyUID: 1.2.3.1");
    EXPECT_EQ(rows[10], "Nb Series : 2");
    EXPECT_EQ(rows[13], "---------------------");
    EXPECT_EQ(rows[14], "A2     P2   ");
    EXPECT_EQ(rows[27], "---------------------");
    const QString asked = Find<QLabel>("lblDHDemande")->text();
    const QString answered = Find<QLabel>("lblDHReponse")->text();
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$").match(asked).hasMatch())
        << asked.toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$").match(answered).hasMatch())
        << answered.toStdString();
    EXPECT_TRUE(dialogs_->seen.empty());
}

// While a slow query runs, the window answers and shows the blocks received
// so far; the stop button is the one input enabled, and a click on it
// cancels the query, whose listing then says so.
TEST_F(WindowNet, TheStopButtonIsTheOneInputDuringAQueryAndCancelsIt) {
    TestNode node;
    MainWindow& window = OpenOnASlowNode(node);

    QStringList enabledDuring;
    long blocksDuring = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!node.WaitForResponsesSent(12, std::chrono::milliseconds(0))) return;
        poll.stop();
        // The blocks listed so far are in the view already.
        blocksDuring = Rows(*Find<LinesView>("ListBoxResult")).count("---------------------");
        for (QWidget* widget : window.findChildren<QWidget*>()) {
            const bool input = qobject_cast<QPushButton*>(widget) ||
                               qobject_cast<QLineEdit*>(widget) ||
                               qobject_cast<QComboBox*>(widget) || qobject_cast<QCheckBox*>(widget);
            if (input && !widget->objectName().isEmpty() && !widget->testAttribute(Qt::WA_Disabled))
                enabledDuring << widget->objectName();
        }
        QTest::mouseClick(Find<QPushButton>("ButtonArreter"), Qt::LeftButton);
    });
    poll.start(20);
    QTest::mouseClick(Find<QPushButton>("ButtonCFindStudyStudy"), Qt::LeftButton);

    EXPECT_EQ(enabledDuring, QStringList{"ButtonArreter"});
    EXPECT_GE(blocksDuring, 1);
    const QStringList rows = Rows(*Find<LinesView>("ListBoxResult"));
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_TRUE(QRegularExpression("^Annulée après [0-9]+ réponses$").match(rows.last()).hasMatch())
        << rows.last().toStdString();
    EXPECT_TRUE(node.WaitForAssociationsEnded(1, std::chrono::seconds(10)));
    EXPECT_EQ(node.CancelsReceived().size(), 1u);
    EXPECT_FALSE(Find<QPushButton>("ButtonArreter")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("ButtonCFindStudyStudy")->isEnabled());
}

// Closing the window during a slow query cancels it first, then closes.
TEST_F(WindowNet, ClosingDuringAQueryCancelsItThenCloses) {
    TestNode node;
    MainWindow& window = OpenOnASlowNode(node);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!node.WaitForResponsesSent(3, std::chrono::milliseconds(0))) return;
        poll.stop();
        window.close();
    });
    poll.start(20);
    QTest::mouseClick(Find<QPushButton>("ButtonCFindStudyStudy"), Qt::LeftButton);

    EXPECT_TRUE(testing::ProcessEventsUntil([&] { return !window.isVisible(); }));
    EXPECT_TRUE(node.WaitForAssociationsEnded(1, std::chrono::seconds(10)));
    EXPECT_EQ(node.CancelsReceived().size(), 1u);
}

TEST_F(WindowNet, WorklistQueryWithNoResponseListsAucunResultat) {
    TestNode node;
    node.SetResponses({});
    node.Start();
    MainWindow& window = Open();
    TypeNode(*Find<QLineEdit>("EditIP"), *Find<QLineEdit>("EditPort"), node);
    QTest::keyClicks(Find<QLineEdit>("EditAccession"), "W42");

    QTest::mouseClick(Find<QPushButton>("ButtonWL"), Qt::LeftButton);

    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].sopClassUID, lumo::testing::kWorklistFind);
    EXPECT_EQ(node.Received()[0].Text(DCM_AccessionNumber), "W42");
    EXPECT_EQ(Rows(*Find<LinesView>("ListBoxResult")),
              QStringList{QString::fromUtf8("Aucun résultat")});
    EXPECT_NE(Find<QLabel>("lblDHReponse")->text(), "");
    EXPECT_EQ(window.Form().ListBoxResult.Items.Count(), 1u);
}

TEST_F(WindowNet, UnreachableNodeShowsErreurAndTheErrorLines) {
    // A port that was just free: bind a node, note its port, stop it.
    std::uint16_t port = 0;
    {
        TestNode probe;
        probe.Start();
        port = probe.Port();
    }
    Open();
    Find<QLineEdit>("EditPort")->selectAll();
    QTest::keyClicks(Find<QLineEdit>("EditPort"), QString::number(port));

    QTest::mouseClick(Find<QPushButton>("ButtonCFindPatient"), Qt::LeftButton);

    EXPECT_EQ(Find<QLabel>("lblDHReponse")->text(), "Erreur");
    EXPECT_NE(Find<QLabel>("lblDHDemande")->text(), "");
    const QStringList rows = Rows(*Find<LinesView>("ListBoxResult"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_FALSE(rows[0].isEmpty());
    EXPECT_FALSE(rows[1].isEmpty());
    EXPECT_TRUE(dialogs_->seen.empty());
}

TEST_F(WindowNet, ListenModeAnswersAnIncomingQueryOnTheWindowsThread) {
    TestNode node;
    std::vector<DcmDataset> items;
    for (const char* accession : {"W1", "W2"}) {
        items.push_back(MakeDataSet(
            {{DCM_AccessionNumber, accession},
             {DCM_PatientID, "P9"},
             {DCM_RequestedProcedureCodeSequence, Items{{{DCM_CodeValue, "C1"}}}},
             {DCM_ScheduledProcedureStepSequence, Items{{{DCM_ScheduledProcedureStepID, "S1"}}}}}));
    }
    node.SetResponses(std::move(items));
    node.Start();
    SetCommandLineParams({"LISTEN", "0"});
    MainWindow& window = Open();
    ASSERT_TRUE(window.Form().Listening());
    const int listenPort = window.Form().DicomViewer1.Viewer.ListeningPort();
    ASSERT_GT(listenPort, 0);
    // The relay goes to the node of the window's fields.
    Find<QLineEdit>("EditPort")->selectAll();
    QTest::keyClicks(Find<QLineEdit>("EditPort"), QString::number(node.Port()));

    // A modality asks the console from its own thread; the window's thread
    // keeps its event loop running meanwhile, as the program does.
    std::atomic<bool> done{false};
    int responses = -1;
    std::string failure;
    std::thread modality([&] {
        try {
            dicom::DicomQuery query;
            query.QuerySetCallingAETitle("MODALITY");
            query.QuerySetCalledAETitle("NORVANEX");
            query.QuerySetNodeAddress("127.0.0.1");
            query.QuerySetNodePort(listenPort);
            query.QuerySetRoot("WORKLIST");
            query.SetTimeouts(
                {std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(20)});
            dicom::DicomDataSet identifier;
            dicom::DicomAttributes attributes = identifier.DataSetAttributes();
            attributes.AttributesAdd(0x0008, 0x0050, dicom::Variant(std::string()));
            responses = query.QueryRun(identifier).DataSetsCount();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        done = true;
    });
    const bool finished = testing::ProcessEventsUntil([&] { return done.load(); }, 6000);
    modality.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(responses, 2);
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].callingAETitle, "MODALITY");
    // The incoming request shows in the window: its AE titles and the listing.
    EXPECT_EQ(Find<QLineEdit>("EditCallingAETitle")->text(), "MODALITY");
    const QStringList rows = Rows(*Find<LinesView>("ListBoxResult"));
    ASSERT_EQ(rows.size(), 26) << rows.join('\n').toStdString();
    EXPECT_EQ(rows[0], "W1     P9   ");
    EXPECT_EQ(rows[13], "W2     P9   ");
}

}  // namespace
}  // namespace lumo::gui
