#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

#include "app/FormControlDesign.h"
#include "app/gui/CloseOnSignal.h"
#include "app/gui/LinesView.h"
#include "dicom/listener/Dispatcher.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "tests/app/gui/GuiTestSupport.h"

namespace lumo::gui {
namespace {

using testing::WindowTest;

const char* const kHint = "Paramètre CFIND => Norvanex 2.5.3.7 minimum";
const QColor kNavy(0, 0, 128);

QString U(const char* text) { return QString::fromUtf8(text); }

struct FieldRow {
    const char* name;
    const char* label;  // nullptr: no field label
    bool hinted;
    bool markW;
    bool markCF;
};

// The input block's fields as the table of controls gives them, in tab
// order: the window must draw what the table says.
std::vector<FieldRow> InputFields() {
    std::vector<FieldRow> rows;
    std::vector<const app::ControlDesign*> fields;
    for (const app::ControlDesign& design : app::FormControlDesigns()) {
        if (design.tabOrder >= 0) fields.push_back(&design);
    }
    std::stable_sort(fields.begin(), fields.end(),
                     [](const auto* a, const auto* b) { return a->tabOrder < b->tabOrder; });
    for (const app::ControlDesign* design : fields) {
        rows.push_back({design->name, *design->label ? design->label : nullptr, *design->hint != 0,
                        (design->marks & app::MarkW) != 0, (design->marks & app::MarkCF) != 0});
    }
    return rows;
}
const std::vector<FieldRow> kFields = InputFields();

TEST_F(WindowTest, WindowHasItsCaptionSizeAndPanels) {
    MainWindow& window = Open();
    EXPECT_EQ(window.objectName(), "FormTestWL");
    EXPECT_TRUE(window.windowTitle().startsWith("Query Worklist / CFIND"))
        << window.windowTitle().toStdString();
    EXPECT_EQ(window.size(), QSize(905, 676));
    const QPoint offCentre =
        window.frameGeometry().center() - window.screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);  // rounding of odd sizes

    auto* panel2 = Find<QWidget>("Panel2");
    auto* panel1 = Find<QWidget>("Panel1");
    auto* panel3 = Find<QWidget>("Panel3");
    ASSERT_TRUE(panel2 && panel1 && panel3);
    // The design's 329 pixels and the node chooser's row above them.
    EXPECT_EQ(panel2->height(), 402);
    EXPECT_EQ(panel2->mapTo(&window, QPoint(0, 0)), QPoint(0, 0));
    EXPECT_EQ(panel2->width(), 905);
    // The result list's panel takes the rest, below the input block.
    EXPECT_EQ(panel1->mapTo(&window, QPoint(0, 0)), QPoint(0, 402));
    EXPECT_EQ(panel1->height(), 676 - 402);
    EXPECT_EQ(panel1->width(), 905);
    // The batch panel at the right edge of the input block.
    EXPECT_EQ(panel3->width(), 312);
    EXPECT_EQ(panel3->mapTo(&window, QPoint(0, 0)).x() + panel3->width(), 905);
    EXPECT_TRUE(panel2->isAncestorOf(panel3));
    EXPECT_EQ(panel3->height(), 402);
    // Its tabs' pages have the size their anchored controls are designed for.
    EXPECT_EQ(Find<QWidget>("TabSheet1")->size(), QSize(app::kTabPage.width, app::kTabPage.height));
    // The fields stay clear of it.
    for (const char* name :
         {"EditNomPatient", "cbSaveResults", "EditStudyUID", "EditSeriesUIDMarkCF",
          "ButtonCFindStudySeries", "ButtonEnregistrerNoeud"}) {
        const QWidget* widget = Find<QWidget>(name);
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_LT(widget->mapTo(&window, QPoint(widget->width(), 0)).x(), 905 - 312) << name;
    }
}

TEST_F(WindowTest, EveryDrawnControlHasAPlaceInsideItsContainer) {
    MainWindow& window = Open();
    for (const app::TControl* control : window.Form().Controls()) {
        if (control->Kind == app::ControlKind::Form ||
            control->Kind == app::ControlKind::OpenDialog ||
            control->Kind == app::ControlKind::Viewer) {
            continue;
        }
        auto* widget = Find<QWidget>(control->Name.c_str());
        ASSERT_NE(widget, nullptr) << control->Name;
        ASSERT_NE(widget->parentWidget(), nullptr) << control->Name;
        const QRect box = widget->geometry();
        EXPECT_FALSE(box.isEmpty()) << control->Name;
        // Where the table of controls puts it, when it gives a place.
        if (control->Width > 0 && control->Height > 0) {
            EXPECT_EQ(box, QRect(control->Left, control->Top, control->Width, control->Height))
                << control->Name;
        }
        EXPECT_TRUE(widget->parentWidget()->rect().contains(box)) << control->Name;
        if (control->Kind != app::ControlKind::Panel &&
            control->Kind != app::ControlKind::TabSheet &&
            control->Kind != app::ControlKind::PageControl && control->Name != "ListBoxResult") {
            // Not stacked at the container's corner, where a control without
            // a place would land.
            EXPECT_NE(box.topLeft(), QPoint(0, 0)) << control->Name;
        }
    }
}

TEST_F(WindowTest, ResultListIsAListViewFillingItsPanel) {
    Open();
    auto* list = Find<LinesView>("ListBoxResult");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->parentWidget(), Find<QWidget>("Panel1"));
    EXPECT_EQ(list->geometry(), list->parentWidget()->rect());
    EXPECT_EQ(list->model()->rowCount(), 0);
}

TEST_F(WindowTest, BatchTabHoldsItsControls) {
    Open();
    auto* pages = Find<QTabWidget>("PageControl1");
    ASSERT_NE(pages, nullptr);
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(1), "Diagnostic");
    EXPECT_EQ(pages->tabText(2), "Récupération");
    EXPECT_EQ(pages->tabText(0), "Type 1");
    QWidget* tab = pages->widget(0);
    EXPECT_EQ(tab->objectName(), "TabSheet1");
    for (const char* name : {"Label41", "ButtonCFINDType1", "Label46", "Label44", "EditNomData1",
                             "Label45", "EditNomData2", "EditSQL", "ListBoxOrig", "MemoDest"}) {
        auto* widget = Find<QWidget>(name);
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_TRUE(tab->isAncestorOf(widget)) << name;
    }
    EXPECT_EQ(Find<QPushButton>("ButtonCFINDType1")->text(), "CFind (ACCESSION+NOM)");
    EXPECT_EQ(Find<QLabel>("Label41")->text(), "NOM;PRENOM;NAISSANCE;ACCESSION*;ID_ZUNDA");
    EXPECT_EQ(Find<QLabel>("Label41")->toolTip(), "Exemple record fichier LUMO4410_1.txt");
    EXPECT_EQ(Find<QLabel>("Label44")->text(), "%1");
    EXPECT_EQ(Find<QLabel>("Label45")->text(), "%2");
    EXPECT_EQ(Find<QLineEdit>("EditNomData1")->text(), "StudyUID:");
    EXPECT_EQ(Find<QLineEdit>("EditNomData2")->text(), "Visite:");
    EXPECT_EQ(Find<QLineEdit>("EditSQL")->text(),
              "Update examen e set e.SIUID = '%1', e.idexterne = '%2' where e.id_examen");
    EXPECT_EQ(Find<QLineEdit>("EditSQL")->toolTip(), U("String à générer avec résultat"));
    EXPECT_TRUE(Find<LinesView>("ListBoxOrig")->isVisible());
    EXPECT_FALSE(Find<QPlainTextEdit>("MemoDest")->isVisible());
    EXPECT_EQ(Find<QPlainTextEdit>("MemoDest")->toPlainText(), "MemoDest");
}

TEST_F(WindowTest, ButtonsCarryTheirCaptionsAndLoadResultIsHidden) {
    Open();
    const std::pair<const char*, const char*> buttons[] = {
        {"ButtonWL", "Worklist"},
        {"ButtonCFindStudyStudy", "C-Find Study/Study"},
        {"ButtonCFindPatient", "C-Find Patient/Patient"},
        {"ButtonCFindStudySeries", "C-Find Study/Series"},
        {"ButtonCFindStudyImage", "C-Find Study/Images"},
        {"Button1", "C-Find Patient/Series"},
        {"Button2", "C-Find Patient/Images"},
        {"Button3", "Worklist TAVRIX"},
        {"bTestDate", "Test Date"},
        {"Button5", "Export Result"},
        {"Button6", "Load Result"},
    };
    for (const auto& [name, caption] : buttons) {
        auto* button = Find<QPushButton>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text(), caption) << name;
        EXPECT_EQ(button->isVisible(), std::string(name) != "Button6") << name;
    }
}

TEST_F(WindowTest, FieldsShowTheirBuiltInTextsAndTodaysDate) {
    Open();
    EXPECT_EQ(Find<QLineEdit>("EditCallingAETitle")->text(), "Lumo4410");
    EXPECT_EQ(Find<QLineEdit>("EditIP")->text(), "127.0.0.1");
    EXPECT_EQ(Find<QLineEdit>("EditPort")->text(), "3100");
    EXPECT_EQ(Find<QLineEdit>("EditAETitle")->text(), "NORVANEX");
    EXPECT_EQ(Find<QLineEdit>("EditAccession")->text(), "");
    EXPECT_EQ(Find<QLineEdit>("EditDate")->text().toStdString(), FormatDateTime("yyyymmdd", Now()));
    auto* modality = Find<QComboBox>("cboModalite");
    ASSERT_NE(modality, nullptr);
    EXPECT_TRUE(modality->isEditable());
    EXPECT_EQ(modality->currentText(), "");
    QStringList items;
    for (int i = 0; i < modality->count(); ++i) items << modality->itemText(i);
    EXPECT_EQ(items, QStringList({"CR", "US", "CT", "RF", "OT", "SC", "MR", "XA", "MG"}));
    auto* save = Find<QCheckBox>("cbSaveResults");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text(), "Save Results");
    EXPECT_FALSE(save->isChecked());
}

TEST_F(WindowTest, FieldLabelsAreBoldNavyThirteenPixels) {
    Open();
    for (const FieldRow& row : kFields) {
        auto* label = Find<QLabel>((std::string(row.name) + "Label").c_str());
        if (row.label == nullptr) {
            EXPECT_EQ(label, nullptr) << row.name;
            continue;
        }
        ASSERT_NE(label, nullptr) << row.name;
        EXPECT_EQ(label->text(), U(row.label)) << row.name;
        EXPECT_TRUE(label->font().bold()) << row.name;
        EXPECT_EQ(label->font().pixelSize(), 13) << row.name;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), kNavy) << row.name;
        EXPECT_TRUE(label->isVisible()) << row.name;
        // Beside its field, on the same row and to its left.
        const QWidget* field = Find<QWidget>(row.name);
        EXPECT_EQ(label->geometry().y(), field->geometry().y()) << row.name;
        EXPECT_LE(label->geometry().right(), field->geometry().left()) << row.name;
    }
}

TEST_F(WindowTest, MarksShowWhichQueriesUseAField) {
    Open();
    for (const FieldRow& row : kFields) {
        auto* w = Find<QLabel>((std::string(row.name) + "MarkW").c_str());
        auto* cf = Find<QLabel>((std::string(row.name) + "MarkCF").c_str());
        EXPECT_EQ(w != nullptr, row.markW) << row.name;
        EXPECT_EQ(cf != nullptr, row.markCF) << row.name;
        if (w != nullptr) {
            EXPECT_EQ(w->text(), "W");
            EXPECT_EQ(w->palette().color(QPalette::WindowText), QColor(Qt::red)) << row.name;
            EXPECT_TRUE(w->isVisible());
        }
        if (cf != nullptr) {
            EXPECT_EQ(cf->text(), "CF");
            EXPECT_EQ(cf->palette().color(QPalette::WindowText), QColor(Qt::blue)) << row.name;
            EXPECT_TRUE(cf->isVisible());
        }
    }
}

TEST_F(WindowTest, SevenHintedEditsAreOnTheThreeDLightColour) {
    Open();
    const QColor light = QApplication::palette().color(QPalette::Midlight);
    const QColor normal = QApplication::palette().color(QPalette::Base);
    ASSERT_NE(light, normal);
    int hinted = 0;
    for (const FieldRow& row : kFields) {
        auto* field = Find<QWidget>(row.name);
        ASSERT_NE(field, nullptr) << row.name;
        EXPECT_EQ(field->toolTip(), row.hinted ? U(kHint) : QString()) << row.name;
        EXPECT_EQ(field->palette().color(QPalette::Base), row.hinted ? light : normal) << row.name;
        hinted += row.hinted ? 1 : 0;
    }
    EXPECT_EQ(hinted, 7);
}

TEST_F(WindowTest, TabOrderFollowsTheInputBlock) {
    MainWindow& window = Open();
    std::vector<std::string> expected;
    for (const FieldRow& row : kFields) expected.push_back(row.name);

    // Walk the focus chain from the first field and keep the input fields.
    std::vector<std::string> walked;
    QWidget* widget = Find<QWidget>("EditCallingAETitle");
    for (int step = 0; step < 200 && walked.size() < expected.size(); ++step) {
        const std::string name = widget->objectName().toStdString();
        for (const FieldRow& row : kFields) {
            if (name == row.name) walked.push_back(name);
        }
        widget = widget->nextInFocusChain();
        if (widget == Find<QWidget>("EditCallingAETitle")) break;
    }
    EXPECT_EQ(walked, expected);

    // And the Tab key moves along it.
    Find<QLineEdit>("EditPort")->setFocus();
    QTest::keyClick(&window, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>("EditAETitle"));
}

TEST_F(WindowTest, FocusStartsOnTheAccessionField) {
    MainWindow& window = Open();
    EXPECT_EQ(window.focusWidget(), Find<QWidget>("EditAccession"));
}

TEST_F(WindowTest, TypingWritesTheFormsFields) {
    MainWindow& window = Open();
    QTest::keyClicks(Find<QLineEdit>("EditAccession"), "A123");
    EXPECT_EQ(window.Form().EditAccession.Text, "A123");
    QTest::keyClicks(Find<QComboBox>("cboModalite"), "MR");
    EXPECT_EQ(window.Form().cboModalite.Text, "MR");
    Find<QComboBox>("cboModalite")->setCurrentIndex(2);  // chosen from the list
    EXPECT_EQ(window.Form().cboModalite.Text, "CT");
    QTest::mouseClick(Find<QCheckBox>("cbSaveResults"), Qt::LeftButton);
    EXPECT_TRUE(window.Form().cbSaveResults.Checked);
    // Accents survive the round trip.
    Find<QLineEdit>("EditNomPatient")->clear();
    QTest::keyClicks(Find<QLineEdit>("EditNomPatient"), U("LEFÈVRE"));
    EXPECT_EQ(window.Form().EditNomPatient.Text, "LEFÈVRE");
}

TEST_F(WindowTest, NotYetImplementedButtonsShowTheirPlainMessages) {
    MainWindow& window = Open();
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>("Button2"), Qt::LeftButton);
    ASSERT_EQ(dialogs_->seen.size(), 2u);
    EXPECT_EQ(dialogs_->seen[0].text, U("Pas encore implémentée"));
    EXPECT_EQ(dialogs_->seen[1].text, U("Pas encore implémenté"));
    for (const auto& box : dialogs_->seen) {
        EXPECT_EQ(box.title, "Test Worklist");
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    }
    // Nothing else happens.
    EXPECT_EQ(Find<QLabel>("lblDHDemande")->text(), "");
    EXPECT_EQ(Find<QLabel>("lblDHReponse")->text(), "");
    EXPECT_EQ(Find<LinesView>("ListBoxResult")->model()->rowCount(), 0);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowTest, TimeLabelsHaveTheirCaptionsAndStartEmpty) {
    Open();
    EXPECT_EQ(Find<QLabel>("lblDHDemandeLabel")->text(), U("Demandée à :"));
    EXPECT_EQ(Find<QLabel>("lblDHReponseLabel")->text(), U("Réponse à :"));
    EXPECT_EQ(Find<QLabel>("lblDHDemande")->text(), "");
    EXPECT_EQ(Find<QLabel>("lblDHReponse")->text(), "");
}

TEST_F(WindowTest, ErrorLeavingAHandlerShowsTheErrorReportAndTheWindowGoesOn) {
    MainWindow& window = Open();
    window.Form().Button5.OnClick = [](app::TControl&) {
        throw Exception(ErrorClass::EInOutError, "Impossible d'écrire le fichier");
    };
    QTest::mouseClick(Find<QPushButton>("Button5"), Qt::LeftButton);
    ASSERT_EQ(dialogs_->seen.size(), 1u);
    EXPECT_EQ(dialogs_->seen[0].objectName, "ErrorReport");
    EXPECT_EQ(dialogs_->seen[0].title, "Test Worklist");
    EXPECT_EQ(dialogs_->seen[0].text, U("Impossible d'écrire le fichier"));
    EXPECT_EQ(dialogs_->seen[0].icon, QMessageBox::Critical);

    // Still usable: another button works, typing still reaches the form.
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    ASSERT_EQ(dialogs_->seen.size(), 2u);
    EXPECT_EQ(dialogs_->seen[1].text, U("Pas encore implémentée"));
    QTest::keyClicks(Find<QLineEdit>("EditDossier"), "P1");
    EXPECT_EQ(window.Form().EditDossier.Text, "P1");
    EXPECT_FALSE(window.HandlerRunning());
}

TEST_F(WindowTest, ListenWithoutANumberShowsTheErrorReportAtStartAndOpens) {
    SetCommandLineParams({"LISTEN", "abc"});
    MainWindow& window = Open();
    ASSERT_EQ(dialogs_->seen.size(), 1u);
    EXPECT_EQ(dialogs_->seen[0].objectName, "ErrorReport");
    EXPECT_EQ(dialogs_->seen[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(window.Form().Listening());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Find<QLineEdit>("EditIP")->text(), "127.0.0.1");
}

TEST_F(WindowTest, ViewFollowsChangesTheFormAnnounces) {
    MainWindow& window = Open();
    app::TFormTestWL& form = window.Form();
    form.ListBoxResult.Items.Add("Aucun résultat");
    form.lblDHReponse.Caption = "Erreur";
    form.EditIP.Text = "10.0.0.1";
    form.Button6.Visible = true;
    form.Host().Changed();
    auto* list = Find<LinesView>("ListBoxResult");
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), U("Aucun résultat"));
    EXPECT_EQ(Find<QLabel>("lblDHReponse")->text(), "Erreur");
    EXPECT_EQ(Find<QLineEdit>("EditIP")->text(), "10.0.0.1");
    EXPECT_TRUE(Find<QPushButton>("Button6")->isVisible());
}

TEST_F(WindowTest, RepaintDuringAHandlerShowsTheLabels) {
    MainWindow& window = Open();
    QString painted;
    window.Form().Button5.OnClick = [&](app::TControl&) {
        window.Form().lblDHDemande.Caption = "12:00:00.000";
        window.Form().Host().ProcessMessages();
        painted = Find<QLabel>("lblDHDemande")->text();
    };
    QTest::mouseClick(Find<QPushButton>("Button5"), Qt::LeftButton);
    EXPECT_EQ(painted, "12:00:00.000");
}

TEST_F(WindowTest, ListenerEventErrorGoesBackToTheListenerWithoutABox) {
    MainWindow& window = Open();
    dicom::Dispatcher& dispatcher = window.Form().Host().FormDispatcher();
    std::atomic<bool> returned{false};
    std::string caught;
    bool onGuiThread = false;
    const auto gui = std::this_thread::get_id();
    std::thread network([&] {
        try {
            dispatcher.Invoke([&] {
                onGuiThread = std::this_thread::get_id() == gui;
                window.Form().EditAccession.Text = "FROM-PEER";
                throw Exception(ErrorClass::EDicomConnectionError, "peer gone");
            });
        } catch (const Exception& e) {
            caught = e.Message();
        }
        returned = true;
    });
    const bool finished = testing::ProcessEventsUntil([&] { return returned.load(); });
    network.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(caught, "peer gone");
    EXPECT_TRUE(dialogs_->seen.empty());
    // The view caught up with what the event changed.
    EXPECT_EQ(Find<QLineEdit>("EditAccession")->text(), "FROM-PEER");
}

TEST_F(WindowTest, CloseDuringAHandlerWaitsForIt) {
    MainWindow& window = Open();
    bool visibleAfterClose = false;
    window.Form().Button5.OnClick = [&](app::TControl&) {
        window.close();
        visibleAfterClose = window.isVisible();
    };
    QTest::mouseClick(Find<QPushButton>("Button5"), Qt::LeftButton);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_TRUE(testing::ProcessEventsUntil([&] { return !window.isVisible(); }));
}

TEST_F(WindowTest, SigtermClosesTheWindow) {
    MainWindow& window = Open();
    CloseOnSignal closer([&] { window.CloseBySignal(); });
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(testing::ProcessEventsUntil([&] { return !window.isVisible(); }));
    EXPECT_EQ(closer.Received(), 1);
}

TEST_F(WindowTest, SigintDismissesAnOpenBoxAndClosesTheWindow) {
    MainWindow& window = Open();
    CloseOnSignal closer([&] { window.CloseBySignal(); });
    // The watcher leaves the box to the signal (and answers it only if the
    // signal failed to, so that the test ends either way).
    dialogs_->holdPolls = 2000;
    bool raised = false;
    dialogs_->onDialog = [&](const testing::DialogWatcher::Seen&) {
        raised = true;
        raise(SIGINT);
    };
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_TRUE(raised);
    EXPECT_EQ(dialogs_->answered, 0);
    EXPECT_TRUE(testing::ProcessEventsUntil([&] { return !window.isVisible(); }));
}

TEST(CloseOnSignal, RestoresThePreviousHandlers) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    {
        CloseOnSignal closer([] {});
        struct sigaction during {};
        sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, before.sa_handler);
        // One at a time: a second one would steal the first one's signals.
        EXPECT_THROW(CloseOnSignal([] {}), Exception);
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace lumo::gui
