// The Diagnostic tab of the window against the test node: its buttons run
// the echo and the probe, and the memo shows the report of the last
// exchange.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "app/gui/LinesView.h"
#include "tests/app/gui/GuiTestSupport.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::gui {
namespace {

using lumo::testing::TestNode;
using testing::WindowTest;

class DiagnosticTabNet : public WindowTest {};

void Retype(QLineEdit& field, const QString& text) {
    field.selectAll();
    QTest::keyClicks(&field, text);
}

TEST_F(DiagnosticTabNet, EchoAndProbeShowTheirLinesAndTheReport) {
    TestNode node;
    node.SetAcceptedSopClasses({lumo::testing::kVerification});
    node.Start();
    Open();
    Retype(*Find<QLineEdit>("EditIP"), "127.0.0.1");
    Retype(*Find<QLineEdit>("EditPort"), QString::number(node.Port()));
    auto* pages = Find<QTabWidget>("PageControl1");
    pages->setCurrentIndex(1);
    EXPECT_TRUE(Find<QWidget>("TabSheet2")->isAncestorOf(Find<QPushButton>("ButtonEcho")));
    Retype(*Find<QLineEdit>("EditMaxPDU"), "32768");
    auto* list = Find<LinesView>("ListBoxResult");
    auto* memo = Find<QPlainTextEdit>("MemoDiagnostic");

    QTest::mouseClick(Find<QPushButton>("ButtonEcho"), Qt::LeftButton);

    ASSERT_GE(list->model()->rowCount(), 1);
    EXPECT_TRUE(list->model()->index(0, 0).data().toString().startsWith(
        QString::fromUtf8("Echo réussi : NORVANEX@127.0.0.1:")));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->toPlainText().startsWith(QString::fromUtf8("Échange C-ECHO : Lumo4410")));
    EXPECT_TRUE(memo->toPlainText().contains(QString::fromUtf8("PDU max : 32768 octets")));

    QTest::mouseClick(Find<QPushButton>("ButtonSonder"), Qt::LeftButton);

    EXPECT_EQ(list->model()->rowCount(), 4);
    EXPECT_EQ(memo->toPlainText().count(QString::fromUtf8("Échange ")), 1);
    EXPECT_TRUE(dialogs_->seen.empty());
}

// An echo to a node that never answers runs as a query does: the window
// alive, "Arrêter" the one input, and a click on it ends the echo.
TEST_F(DiagnosticTabNet, TheStopButtonEndsAnEchoThatWaits) {
    TestNode node;
    node.SetSilent(lumo::testing::Silence::BeforeAssociation);
    node.Start();
    MainWindow& window = Open();
    Retype(*Find<QLineEdit>("EditIP"), "127.0.0.1");
    Retype(*Find<QLineEdit>("EditPort"), QString::number(node.Port()));
    QStringList enabledDuring;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* stop = Find<QPushButton>("ButtonArreter");
        if (!stop->isEnabled()) return;
        poll.stop();
        for (QWidget* widget : window.findChildren<QWidget*>()) {
            const bool input = qobject_cast<QPushButton*>(widget) ||
                               qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget);
            if (input && !widget->objectName().isEmpty() && !widget->testAttribute(Qt::WA_Disabled))
                enabledDuring << widget->objectName();
        }
        QTest::mouseClick(stop, Qt::LeftButton);
    });
    poll.start(50);

    QTest::mouseClick(Find<QPushButton>("ButtonEcho"), Qt::LeftButton);

    EXPECT_EQ(enabledDuring, QStringList{"ButtonArreter"});
    auto* list = Find<LinesView>("ListBoxResult");
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "Echo interrompu");
    EXPECT_TRUE(Find<QPushButton>("ButtonEcho")->isEnabled());
}

// The profile runs as a query does: the window answers meanwhile, and
// "Arrêter" stops it with what it found so far listed.
TEST_F(DiagnosticTabNet, ProfileListsItsLinesAndStopsOnArreter) {
    TestNode node;
    node.SetEntries(lumo::testing::SampleInstances(), lumo::testing::SampleWorklist());
    node.SetResponseDelay(std::chrono::milliseconds(20));
    node.Start();
    Open();
    Retype(*Find<QLineEdit>("EditIP"), "127.0.0.1");
    Retype(*Find<QLineEdit>("EditPort"), QString::number(node.Port()));
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    auto* stop = Find<QPushButton>("ButtonArreter");
    QTimer::singleShot(500, stop, [stop] { QTest::mouseClick(stop, Qt::LeftButton); });

    QTest::mouseClick(Find<QPushButton>("ButtonProfil"), Qt::LeftButton);

    auto* list = Find<LinesView>("ListBoxResult");
    ASSERT_GE(list->model()->rowCount(), 2);
    EXPECT_TRUE(list->model()->index(0, 0).data().toString().startsWith(
        QString::fromUtf8("Profil de NORVANEX@127.0.0.1:")));
    EXPECT_EQ(list->model()->index(1, 0).data().toString(),
              QString::fromUtf8("Profil incomplet : profil arrêté"));
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(dialogs_->seen.empty());
}

}  // namespace
}  // namespace lumo::gui
