// The Diagnostic tab as the operator reads it at the window's default size
// and larger, and the node chooser above the connection fields.

#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "app/NodeBook.h"
#include "tests/app/gui/GuiTestSupport.h"

namespace lumo::gui {
namespace {

using testing::WindowTest;

// Every field of the tab has a label on its row, to its left; no text is
// cut; nothing overlaps; the report takes the height the window gives.
TEST_F(WindowTest, DiagnosticTabLabelsEveryFieldClipsNothingAndGrows) {
    MainWindow& window = Open();
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    QWidget* page = Find<QWidget>("TabSheet2");
    QCoreApplication::processEvents();
    const QList<QWidget*> widgets = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QList<QLabel*> labels;
    for (QWidget* widget : widgets) {
        const std::string name = widget->objectName().toStdString();
        EXPECT_TRUE(page->rect().contains(widget->geometry())) << name;
        for (QWidget* other : widgets)
            EXPECT_TRUE(other == widget || !other->geometry().intersects(widget->geometry()))
                << name << " and " << other->objectName().toStdString();
        // A text shown whole: a label's or a button's; a field as wide as
        // its shortest useful self (a list its longest item).
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QPushButton*>(widget)) {
            EXPECT_GE(widget->width(), widget->sizeHint().width()) << name;
            EXPECT_GE(widget->height(), widget->sizeHint().height()) << name;
        } else {
            EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << name;
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) labels << label;
    }
    for (QWidget* field : widgets) {
        if (!qobject_cast<QLineEdit*>(field) && !qobject_cast<QComboBox*>(field) &&
            !qobject_cast<QPlainTextEdit*>(field))
            continue;
        const bool labelled = std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
            const QRect l = label->geometry();
            const QRect f = field->geometry();
            return (l.top() == f.top() && l.right() < f.left() && f.left() - l.right() <= 6) ||
                   (l.bottom() < f.top() && f.top() - l.bottom() <= 8 && l.left() == f.left());
        });
        EXPECT_TRUE(labelled) << field->objectName().toStdString();
    }

    auto* memo = Find<QPlainTextEdit>("MemoDiagnostic");
    const QSize before = memo->size();
    window.resize(window.width() + 300, window.height() + 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(memo->size(), before + QSize(300, 100));
    EXPECT_EQ(Find<QWidget>("EditTLSCA")->width(), 244 + 300);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(Find<QWidget>("Panel2")->height(), window.Form().Panel2.Height);
    EXPECT_EQ(Find<QWidget>("Panel3")->width(), window.Form().Panel3.Width);

    window.Form().MemoDiagnostic.Lines.Assign({"Échange C-ECHO : A → B", "Fin : relâchée"});
    QTest::mouseClick(Find<QPushButton>("ButtonCopierRapport"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromUtf8("Échange C-ECHO : A → B\nFin : relâchée\n"));
}

// A node chosen fills the connection fields; the fields kept under a new
// name join the list.
TEST_F(WindowTest, TheNodeChooserFillsTheFieldsAndKeepsThem) {
    app::BookNode ct;
    ct.name = "CT2";
    ct.ip = "10.0.0.7";
    ct.port = "2762";
    ct.aeTitle = "CT2";
    ct.callingAETitle = "LUMO";
    ct.tls.enabled = true;
    ct.tls.verify = "chain";
    app::SaveBookNode(ct);
    MainWindow& window = Open();
    auto* chooser = Find<QComboBox>("cboNoeud");
    ASSERT_EQ(chooser->count(), 1);

    QMetaObject::invokeMethod(chooser, "textActivated", Q_ARG(QString, "CT2"));

    EXPECT_EQ(Find<QLineEdit>("EditIP")->text(), "10.0.0.7");
    EXPECT_EQ(Find<QLineEdit>("EditPort")->text(), "2762");
    EXPECT_EQ(Find<QLineEdit>("EditCallingAETitle")->text(), "LUMO");
    EXPECT_EQ(Find<QComboBox>("cboTLSVerify")->currentText(), "chain");
    chooser->setEditText("CT2-bis");
    Find<QLineEdit>("EditPort")->setText("104");
    window.Form().EditPort.Text = "104";
    QTest::mouseClick(Find<QPushButton>("ButtonEnregistrerNoeud"), Qt::LeftButton);
    EXPECT_EQ(chooser->count(), 2);
    ASSERT_TRUE(app::FindBookNode("ct2-BIS"));
    EXPECT_EQ(app::FindBookNode("ct2-BIS")->port, "104");
    EXPECT_TRUE(dialogs_->seen.empty());
}

}  // namespace
}  // namespace lumo::gui
