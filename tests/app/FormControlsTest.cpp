#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/FormControlDesign.h"
#include "app/StrToInt.h"
#include "app/TFormTestWL.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using testing::RecordingHost;

const char* const kHint = "Paramètre CFIND => Norvanex 2.5.3.7 minimum";

class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetApplicationTitle("Test Worklist");
        SetCommandLineParams({});
        host.form = &form;
    }
    void TearDown() override {
        SetClock({});
        SetCommandLineParams({});
    }

    RecordingHost host;
    TFormTestWL form{host};
};

struct FieldRow {
    const char* name;
    ControlKind kind;
    const char* label;
    const char* text;
    bool hinted;
    unsigned marks;
    int tabOrder;
};

TEST_F(FormTest, InputControlsCarryTheirDesignTexts) {
    const FieldRow rows[] = {
        {"EditCallingAETitle", ControlKind::Edit, "AETitleCalling:", "Lumo4410", false,
         MarkW | MarkCF, 0},
        {"EditIP", ControlKind::Edit, "IP:", "127.0.0.1", false, MarkW | MarkCF, 1},
        {"EditPort", ControlKind::Edit, "Port:", "3100", false, MarkW | MarkCF, 2},
        {"EditAETitle", ControlKind::Edit, "AETitle:", "NORVANEX", false, MarkW | MarkCF, 3},
        {"EditAccession", ControlKind::Edit, "Accession:", "", false, MarkW | MarkCF, 4},
        {"EditDossier", ControlKind::Edit, "Dossier:", "", true, MarkW | MarkCF, 5},
        {"EditNomPatient", ControlKind::Edit, "Nom Patient:", "", true, MarkCF, 6},
        {"EditNomMedRef", ControlKind::Edit, "Nom MedRef:", "", true, MarkCF, 7},
        {"EditDate", ControlKind::Edit, "Date:", "", true, MarkW | MarkCF, 9},
        {"EditNaissance", ControlKind::Edit, "Naissance", "", true, MarkCF, 10},
        {"EditStudyUID", ControlKind::Edit, "StudyUID", "", true, MarkCF, 11},
        {"cboModalite", ControlKind::ComboBox, "Modalité:", "", false, MarkW, 12},
        {"cbSaveResults", ControlKind::CheckBox, "", nullptr, false, MarkW | MarkCF, 16},
        {"EditSeriesUID", ControlKind::Edit, "SeriesUID", "", true, MarkCF, 26},
    };
    for (const FieldRow& row : rows) {
        SCOPED_TRACE(row.name);
        TControl* control = form.FindControl(row.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->Kind, row.kind);
        EXPECT_EQ(control->LabelCaption, row.label);
        EXPECT_EQ(control->Hint, row.hinted ? kHint : "");
        EXPECT_EQ(control->Marks, row.marks);
        EXPECT_EQ(control->TabOrder, row.tabOrder);
        EXPECT_TRUE(control->Visible);
        if (auto* edit = dynamic_cast<TEdit*>(control)) {
            EXPECT_EQ(edit->Text, row.text);
        }
    }
    EXPECT_EQ(form.cboModalite.Items,
              (std::vector<std::string>{"CR", "US", "CT", "RF", "OT", "SC", "MR", "XA", "MG"}));
    EXPECT_EQ(form.cbSaveResults.Caption, "Save Results");
    EXPECT_FALSE(form.cbSaveResults.Checked);
    EXPECT_EQ(form.ActiveControl, "EditAccession");
}

TEST_F(FormTest, ButtonsWindowAndBatchTab) {
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
        {"ButtonCFINDType1", "CFind (ACCESSION+NOM)"},
    };
    for (const auto& [name, caption] : buttons) {
        SCOPED_TRACE(name);
        TControl* control = form.FindControl(name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->Kind, ControlKind::Button);
        EXPECT_EQ(control->Caption, caption);
        EXPECT_EQ(control->Visible, std::string(name) != "Button6");
    }
    EXPECT_EQ(form.Form.Caption, "Query Worklist / CFIND");
    EXPECT_EQ(form.Form.Width, 905);
    EXPECT_EQ(form.Form.Height, 676);
    // The design's 329 and the node chooser's row.
    EXPECT_EQ(form.Panel2.Height, 402);
    EXPECT_EQ(form.Panel3.Width, 312);
    EXPECT_EQ(form.TabSheet1.Caption, "Type 1");
    EXPECT_EQ(form.TabSheet1.Parent, "PageControl1");
    EXPECT_EQ(form.ButtonCFINDType1.Parent, "TabSheet1");
    EXPECT_EQ(form.ListBoxResult.Parent, "Panel1");
    EXPECT_EQ(form.lblDHDemande.LabelCaption, "Demandée à :");
    EXPECT_EQ(form.lblDHReponse.LabelCaption, "Réponse à :");
    EXPECT_EQ(form.lblDHDemande.Caption, "");
    EXPECT_EQ(form.lblDHReponse.Caption, "");
    EXPECT_EQ(form.Label41.Caption, "NOM;PRENOM;NAISSANCE;ACCESSION*;ID_ZUNDA");
    EXPECT_EQ(form.Label41.Hint, "Exemple record fichier LUMO4410_1.txt");
    EXPECT_EQ(form.EditNomData1.Text, "StudyUID:");
    EXPECT_EQ(form.EditNomData2.Text, "Visite:");
    EXPECT_EQ(form.EditSQL.Text,
              "Update examen e set e.SIUID = '%1', e.idexterne = '%2' where e.id_examen");
    EXPECT_EQ(form.EditSQL.Hint, "String à générer avec résultat");
    EXPECT_FALSE(form.MemoDest.Visible);
    EXPECT_EQ(form.OpenDialogCFIND.DefaultExt, "*.*");
    EXPECT_FALSE(form.DicomViewer1.Visible);
    EXPECT_FALSE(form.HasPendingConnection());
}

TEST_F(FormTest, EveryControlIsListedOnceUnderItsContainer) {
    std::set<std::string> names;
    for (const TControl* control : form.Controls()) {
        EXPECT_TRUE(names.insert(control->Name).second) << control->Name;
        EXPECT_EQ(form.FindControl(control->Name), control);
    }
    for (const TControl* control : form.Controls()) {
        if (control->Parent.empty()) {
            EXPECT_EQ(control->Name, "FormTestWL");
        } else {
            EXPECT_TRUE(names.count(control->Parent)) << control->Name << " in " << control->Parent;
        }
    }
    EXPECT_EQ(form.FindControl("NoSuchControl"), nullptr);
    // The design's controls, the batch's progress label, the stop button,
    // the node chooser and its button, the Diagnostic tab with its
    // forty-four, and the Récupération tab with its thirteen.
    EXPECT_EQ(names.size(), 109u);
    // Made from the table of controls, row by row, in its order.
    const auto designs = FormControlDesigns();
    ASSERT_EQ(designs.size(), form.Controls().size());
    for (std::size_t i = 0; i < designs.size(); ++i) {
        EXPECT_EQ(form.Controls()[i]->Name, designs[i].name);
        EXPECT_EQ(form.Controls()[i]->Kind, designs[i].kind) << designs[i].name;
        EXPECT_EQ(form.Controls()[i]->Parent, designs[i].parent) << designs[i].name;
    }
}

TEST_F(FormTest, CreationPutsTodayIntoTheDateField) {
    SetClock([] { return EncodeDateTime(2026, 12, 7, 14, 5, 9, 123); });
    form.ButtonCFINDType1.Caption = "Traitement: x...";
    form.FormCreate();
    EXPECT_EQ(form.EditDate.Text, "20261207");
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "CFind (ACCESSION+NOM)");
    EXPECT_EQ(form.EditIP.Text, "127.0.0.1");
    EXPECT_EQ(form.EditPort.Text, "3100");
    EXPECT_EQ(form.EditAETitle.Text, "NORVANEX");
    EXPECT_EQ(form.EditCallingAETitle.Text, "Lumo4410");
    EXPECT_EQ(form.cboModalite.Text, "");
    EXPECT_FALSE(form.Listening());
}

TEST_F(FormTest, ListenWithoutANumberIsReportedAndTheFormStaysUsable) {
    SetCommandLineParams({"LISTEN", "abc"});
    EXPECT_FALSE(form.RunHandler([&] { form.FormCreate(); }));
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], "'abc' is not a valid integer value");
    EXPECT_FALSE(form.Listening());
    EXPECT_FALSE(form.EditDate.Text.empty());

    SetCommandLineParams({"LISTEN"});
    EXPECT_FALSE(form.RunHandler([&] { form.FormCreate(); }));
    ASSERT_EQ(host.errors.size(), 2u);
    EXPECT_EQ(host.errors[1], "'' is not a valid integer value");
    EXPECT_FALSE(form.Listening());
}

TEST_F(FormTest, ListenIsCaseSensitive) {
    SetCommandLineParams({"listen", "abc"});
    EXPECT_TRUE(form.RunHandler([&] { form.FormCreate(); }));
    EXPECT_TRUE(host.errors.empty());
    EXPECT_FALSE(form.Listening());
}

TEST_F(FormTest, NotYetImplementedButtonsOnlyShowTheirMessage) {
    form.lblDHDemande.Caption = "10:00:00.000";
    form.ListBoxResult.Items.Add("kept");
    form.Button1.Click();
    form.Button2.Click();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].title, "Test Worklist");
    EXPECT_EQ(host.messages[0].text, "Pas encore implémentée");
    EXPECT_EQ(host.messages[0].kind, MessageKind::Plain);
    EXPECT_EQ(host.messages[1].title, "Test Worklist");
    EXPECT_EQ(host.messages[1].text, "Pas encore implémenté");
    EXPECT_EQ(form.lblDHDemande.Caption, "10:00:00.000");
    EXPECT_EQ(form.lblDHReponse.Caption, "");
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), std::vector<std::string>{"kept"});
}

TEST_F(FormTest, AButtonWithoutHandlerDoesNothing) {
    // Every button of the form has its handler now; a free one stands in.
    TButton button{"Spare", "Panel2"};
    button.Click();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(FormTest, AnErrorLeavingAHandlerIsReportedAndTheViewRefreshed) {
    const int before = host.changed;
    EXPECT_FALSE(form.RunHandler([] { throw Exception(ErrorClass::EDicomError, "boom"); }));
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], "boom");
    EXPECT_EQ(host.changed, before + 1);
    EXPECT_TRUE(form.RunHandler([] {}));
    EXPECT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.changed, before + 2);
}

TEST(Strings, RevisionChangesWithEveryChange) {
    TStrings strings;
    const auto start = strings.Revision();
    strings.Add("a");
    strings.Add("b");
    EXPECT_GT(strings.Revision(), start);
    const auto afterAdd = strings.Revision();
    strings.Delete(0);
    EXPECT_EQ(strings.Copy(), std::vector<std::string>{"b"});
    EXPECT_GT(strings.Revision(), afterAdd);
    EXPECT_THROW(strings.Delete(5), Exception);
    strings.Assign({"x", "y"});
    EXPECT_EQ(strings.Count(), 2u);
    strings.Clear();
    EXPECT_EQ(strings.Count(), 0u);
}

TEST(StrToIntTest, ReadsWholeNumbers) {
    EXPECT_EQ(StrToInt("104"), 104);
    EXPECT_EQ(StrToInt("  3100"), 3100);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToIntTest, RefusesWhatIsNotAWholeNumber) {
    for (const char* text : {"", "abc", "31 00", "3100 ", "12a", "2147483648", "-", "$", "1.5"}) {
        SCOPED_TRACE(text);
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.ClassName(), "EConvertError");
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value");
        }
    }
}

}  // namespace
}  // namespace lumo::app
