// The accession-and-name batch of the tab "Type 1", run by its button
// against the test node: the queries it sends, the lines it writes, and how
// it ends when something goes wrong.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/BatchType1.h"
#include "support/Application.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::Attr;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::TempDir;
using testing::WireText;
using Lines = std::vector<std::string>;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DcmDataset Study(const std::string& uid, const std::string& accession,
                 std::vector<Attr> more = {}) {
    more.push_back({DCM_StudyInstanceUID, uid});
    more.push_back({DCM_AccessionNumber, accession});
    return MakeDataSet(more);
}

// What the window showed each time the batch let it repaint.
struct Painted {
    std::string buttonCaption;
    std::string progress;
    bool progressVisible;
    int selected;
};

// A recording screen that also sees the batch's lines and output file, and
// lets a test act each time the form repaints (just before each query).
class BatchHost : public testing::RecordingHost {
  public:
    void ProcessMessages() override {
        RecordingHost::ProcessMessages();
        if (form != nullptr) {
            painted.push_back({form->ButtonCFINDType1.Caption, form->LabelBatchProgress.Caption,
                               form->LabelBatchProgress.Visible, form->ListBoxOrig.ItemIndex});
        }
        if (beforeRepaint) beforeRepaint();
    }
    void BatchLineAdded(const std::string& line) override { lines.push_back(line); }
    void BatchFileWritten(const std::string& fileName) override { written.push_back(fileName); }

    std::function<void()> beforeRepaint;
    std::vector<Painted> painted;
    Lines lines;
    Lines written;
};

class BatchNet : public ::testing::Test {
  protected:
    BatchNet() {
        node.Start();
        host.form = &form;
        SetApplicationTitle("Test Worklist");
        SetCommandLineParams({});
        form.FormCreate();
        form.EditIP.Text = "127.0.0.1";
        form.EditPort.Text = std::to_string(node.Port());
        form.QueryTimeouts.connect = std::chrono::seconds(5);
        form.QueryTimeouts.association = std::chrono::seconds(10);
        form.QueryTimeouts.response = std::chrono::seconds(20);
    }
    ~BatchNet() override { host.form = nullptr; }

    std::string Input(const std::string& bytes, const std::string& name = "LUMO4410_1.txt") {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs the batch on that file; false when an error left it.
    bool Run(const std::optional<std::string>& file) {
        host.chosenFile = file;
        host.painted.clear();
        return form.RunHandler([&] { form.ButtonCFINDType1.Click(); });
    }

    // Answers each query by the accession it asks for ("A123*" -> "A123");
    // an accession the map lacks finds nothing.
    void AnswerByAccession(std::map<std::string, std::vector<DcmDataset>> answers) {
        book = std::move(answers);
        host.beforeRepaint = [this] {
            std::string accession = form.EditAccession.Text;
            if (!accession.empty() && accession.back() == '*') accession.pop_back();
            const auto found = book.find(accession);
            node.SetResponses(found == book.end() ? std::vector<DcmDataset>{} : found->second);
        };
    }

    TestNode node;
    BatchHost host;
    TFormTestWL form{host};
    TempDir dir;
    std::map<std::string, std::vector<DcmDataset>> book;
};

TEST_F(BatchNet, WorkedExampleByteForByte) {
    AnswerByAccession({{"A123", {Study("1.2.3", "A123")}}});
    const std::string input =
        Input("DUPONT;JEAN;19600101;A123;42\r\nDUPONT;JEAN;19600101;B456;42\r\n");
    ASSERT_TRUE(Run(input));

    const std::string output = dir.Path() + "/LUMO4410_1_RESULT.txt";
    EXPECT_EQ(ReadBytes(output),
              "Update examen e set e.SIUID = '1.2.3', e.idexterne = 'A123' where e.id_examen = "
              "42; -- A123 - DUPONT - 19600101\r\n"
              "--Aucun résultat pour ID_ZUNDA: 42; -- B456 - DUPONT - 19600101\r\n");
    EXPECT_EQ(host.written, (Lines{output}));
    EXPECT_EQ(host.lines, form.MemoDest.Lines.Copy());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "Test Worklist");
    EXPECT_EQ(host.messages[0].text, "FIN");
    EXPECT_EQ(host.messages[0].kind, MessageKind::Plain);
    EXPECT_TRUE(host.errors.empty());

    // What stays on the window after the run.
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "CFind (ACCESSION+NOM)");
    EXPECT_FALSE(form.LabelBatchProgress.Visible);
    EXPECT_EQ(form.ListBoxOrig.Items.Copy(),
              (Lines{"DUPONT;JEAN;19600101;A123;42", "DUPONT;JEAN;19600101;B456;42"}));
    EXPECT_EQ(form.ListBoxOrig.ItemIndex, 1);
    EXPECT_EQ(form.EditAccession.Text, "B456*");
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), (Lines{"Aucun résultat"}));
    EXPECT_EQ(form.OpenDialogCFIND.FileName, input);
}

TEST_F(BatchNet, EachRecordIsAStudyQueryWithTheFormFields) {
    form.EditDossier.Text = "P77";
    const std::string today = form.EditDate.Text;
    ASSERT_TRUE(Run(Input("DUPONT;JEAN;19600101;A123;42\n")));
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const lumo::testing::ReceivedRequest request = node.Received()[0];
    EXPECT_EQ(request.sopClassUID, lumo::testing::kStudyRootFind);
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "STUDY");
    EXPECT_EQ(WireText(request, DCM_PatientName), "DUPONT");
    EXPECT_EQ(WireText(request, DCM_PatientBirthDate), "19600101");
    EXPECT_EQ(WireText(request, DCM_AccessionNumber), "A123*");
    // Fields the batch does not set go as the operator left them.
    EXPECT_EQ(WireText(request, DCM_PatientID), "P77");
    EXPECT_EQ(WireText(request, DCM_StudyDate), today);
    EXPECT_FALSE(form.lblDHDemande.Caption.empty());
}

TEST_F(BatchNet, ProgressIsShownWhileItRuns) {
    ASSERT_TRUE(Run(Input("A;;;1;1\nB;;;2;2\nC;;;3;3\n", "three.txt")));
    // Each repaint before a query shows that record selected and counted.
    std::vector<std::tuple<std::string, std::string, bool, int>> seen;
    for (const Painted& p : host.painted) {
        seen.emplace_back(p.buttonCaption, p.progress, p.progressVisible, p.selected);
    }
    const std::string busy = "Traitement: three.txt...";
    for (int record = 1; record <= 3; ++record) {
        const auto expected = std::make_tuple(
            busy, "Enregistrement " + std::to_string(record) + " / 3", true, record - 1);
        EXPECT_NE(std::find(seen.begin(), seen.end(), expected), seen.end()) << record;
    }
    EXPECT_EQ(seen.front(), std::make_tuple(busy, std::string("Enregistrement 0 / 3"), true, -1));
    EXPECT_EQ(seen.back(), std::make_tuple(std::string("CFind (ACCESSION+NOM)"),
                                           std::string("Enregistrement 3 / 3"), false, 2));
}

TEST_F(BatchNet, ConcatenationFirstLineIsDropped) {
    ASSERT_TRUE(Run(Input("CONCATENATION\r\nDUPONT;JEAN;19600101;A123;42\r\n")));
    EXPECT_EQ(form.ListBoxOrig.Items.Copy(), (Lines{"DUPONT;JEAN;19600101;A123;42"}));
    EXPECT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"--Aucun résultat pour ID_ZUNDA: 42; -- A123 - DUPONT - 19600101"}));
}

TEST_F(BatchNet, MarkerInLowerCaseOrAHeaderIsARecord) {
    ASSERT_TRUE(
        Run(Input("concatenation\nNOM;PRENOM;NAISSANCE;ACCESSION*;ID_ZUNDA\n"
                  "CONCATENATION\n")));
    // Records, each refused for its ID_ZUNDA before any query.
    EXPECT_EQ(node.ReceivedCount(), 0u);
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"--Erreur pour ID_ZUNDA: ; --  - concatenation - : ID_ZUNDA manquant, "
                     "aucune requête envoyée",
                     "--Erreur pour ID_ZUNDA: ID_ZUNDA; -- ACCESSION* - NOM - NAISSANCE: "
                     "ID_ZUNDA n'est pas un nombre entier, aucune requête envoyée",
                     "--Erreur pour ID_ZUNDA: ; --  - CONCATENATION - : ID_ZUNDA manquant, "
                     "aucune requête envoyée"}));
}

TEST_F(BatchNet, ShortRecordsAndEmptyLinesGiveEmptyFields) {
    node.SetResponses({});
    ASSERT_TRUE(Run(Input("DUPONT;JEAN\n\nMARTIN;PAUL;19700202;;9\n")));
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(WireText(node.Received()[0], DCM_AccessionNumber), "*");
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"--Erreur pour ID_ZUNDA: ; --  - DUPONT - : ID_ZUNDA manquant, aucune "
                     "requête envoyée",
                     "--Ignoré pour ID_ZUNDA: ; --  -  - : ni accession ni nom, aucune requête "
                     "envoyée",
                     "--Aucun résultat pour ID_ZUNDA: 9; --  - MARTIN - 19700202"}));
}

TEST_F(BatchNet, LabelsMatchOnlyAtTheStartAndByLength) {
    node.SetResponses({Study("1.2.3", "A123")});
    form.EditSQL.Text = "[%1][%2]";
    form.EditNomData1.Text = "UID:";   // inside "StudyUID: ", never at a line's start
    form.EditNomData2.Text = "Study";  // "Study Date", "Study Time", then "StudyUID" wins
    ASSERT_TRUE(Run(Input("DUPONT;JEAN;19600101;A123;42\n")));
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"[][UID: 1.2.3] = 42; -- A123 - DUPONT - 19600101"}));
}

TEST_F(BatchNet, EmptyLabelTakesTheLastListedLine) {
    node.SetResponses({Study("1.2.3", "A123")});
    form.EditSQL.Text = "%1|%2";
    form.EditNomData1.Text = "";
    ASSERT_TRUE(Run(Input("DUPONT;JEAN;19600101;A123;42\n")));
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"---------------------|A123 = 42; -- A123 - DUPONT - 19600101"}));
}

TEST_F(BatchNet, PlaceholdersAreReplacedInFieldsAndInTheFirstValue) {
    node.SetResponses({Study("1.2.3", "A1", {{DCM_PatientName, "X%2Y"}})});
    form.EditSQL.Text = "%1/%2";
    form.EditNomData1.Text = "Patient:";
    ASSERT_TRUE(Run(Input("N%1;P;B%2;A1;9\n")));
    EXPECT_EQ(form.MemoDest.Lines.Copy(), (Lines{"XA1Y/A1 = 9; -- A1 - NXA1Y - BA1"}));
}

TEST_F(BatchNet, ValuesOfTheLastResponseWin) {
    node.SetResponses({Study("1.1", "V1"), Study("2.2", "V2"), Study("3.3", "V3")});
    ASSERT_TRUE(Run(Input("DUPONT;JEAN;19600101;V;42\n")));
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"Update examen e set e.SIUID = '3.3', e.idexterne = 'V3' where "
                     "e.id_examen = 42; -- V - DUPONT - 19600101"}));
}

TEST_F(BatchNet, FailedQueryGetsACommentNotAnUpdate) {
    AnswerByAccession({{"A1", {Study("1.1", "A1")}}, {"A3", {Study("3.3", "A3")}}});
    const auto previous = host.beforeRepaint;
    host.beforeRepaint = [&] {
        previous();
        const bool fail = form.EditAccession.Text == "A2*";
        node.SetFinalStatus(fail ? 0xC001 : 0x0000, fail ? "database closed" : "");
    };
    ASSERT_TRUE(Run(Input("N1;P;D1;A1;1\nN2;P;D2;A2;2\nN3;P;D3;A3;3\n")));
    const Lines& lines = form.MemoDest.Lines.Copy();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "Update examen e set e.SIUID = '1.1', e.idexterne = 'A1' where "
              "e.id_examen = 1; -- A1 - N1 - D1");
    const std::string failed = "--Erreur pour ID_ZUNDA: 2; -- A2 - N2 - D2: EDicomStatusError: ";
    EXPECT_EQ(lines[1].substr(0, failed.size()), failed) << lines[1];
    EXPECT_NE(lines[1].find("C001"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find("Update"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2],
              "Update examen e set e.SIUID = '3.3', e.idexterne = 'A3' where "
              "e.id_examen = 3; -- A3 - N3 - D3");
    EXPECT_EQ(host.messages.back().text, "FIN");
}

TEST_F(BatchNet, UnreachableNodeGivesCommentsForEveryRecord) {
    form.EditPort.Text = testing::UnusedPort();
    ASSERT_TRUE(Run(Input("N1;P;D1;A1;1\nN2;P;D2;A2;2\n")));
    const Lines& lines = form.MemoDest.Lines.Copy();
    ASSERT_EQ(lines.size(), 2u);
    const std::string first = "--Erreur pour ID_ZUNDA: 1; -- A1 - N1 - D1: ";
    EXPECT_EQ(lines[0].substr(0, first.size()), first) << lines[0];
    // The class name and message the form listed, on the one comment line.
    ASSERT_EQ(form.ListBoxResult.Items.Count(), 2u);
    EXPECT_EQ(lines[1], "--Erreur pour ID_ZUNDA: 2; -- A2 - N2 - D2: " +
                            std::string(form.ListBoxResult.Items[0]) + ": " +
                            std::string(form.ListBoxResult.Items[1]));
}

TEST_F(BatchNet, QuotesInResponseValuesAreEscaped) {
    node.SetResponses({Study("1.2.3", "x';DROP TABLE e", {{DCM_PatientName, "O'BRIEN^JOHN"}})});
    form.EditNomData1.Text = "Patient:";
    ASSERT_TRUE(Run(Input("O'BRIEN;JOHN;19600101;A123;42\n")));
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"Update examen e set e.SIUID = 'O''BRIEN^JOHN', e.idexterne = "
                     "'x'';DROP TABLE e' where e.id_examen = 42; -- A123 - O'BRIEN - 19600101"}));
}

// Records and answers the batch must not turn into a statement as they
// stand: each gets a comment saying why, the run goes on, and a record that
// could not be written is not queried at all.
TEST_F(BatchNet, RecordsThatCannotBeWrittenSafelyGetAComment) {
    const std::string update = "Update examen e set e.SIUID = '";
    const std::string notANumber = "ID_ZUNDA n'est pas un nombre entier, aucune requête envoyée";
    const std::string nothingToMatch = "ni accession ni nom, aucune requête envoyée";
    struct Case {
        const char* what;
        std::string record;
        // The study the node finds for the record's accession: UID and
        // accession number; none when empty.
        std::pair<std::string, std::string> study;
        bool queried;
        std::string line;
    };
    std::vector<Case> cases = {
        {"a whole number",
         "N1;P;D1;A1;42",
         {"1.1", "A1"},
         true,
         update + "1.1', e.idexterne = 'A1' where e.id_examen = 42; -- A1 - N1 - D1"},
        {"a negative number",
         "N2;P;D2;A2;-7",
         {"2.2", "A2"},
         true,
         update + "2.2', e.idexterne = 'A2' where e.id_examen = -7; -- A2 - N2 - D2"},
        {"SQL in the ID",
         "N3;P;D3;A3;1 OR 1=1",
         {"3.3", "A3"},
         false,
         "--Erreur pour ID_ZUNDA: 1 OR 1=1; -- A3 - N3 - D3: " + notANumber},
        {"no ID",
         "N5;P;D5;A5",
         {"5.5", "A5"},
         false,
         "--Erreur pour ID_ZUNDA: ; -- A5 - N5 - D5: ID_ZUNDA manquant, aucune requête envoyée"},
        {"a backslash in an answer",
         "N6;P;D6;A6;6",
         {"6.6", "A6\\'; DROP TABLE examen; --"},
         true,
         "--Erreur pour ID_ZUNDA: 6; -- A6 - N6 - D6: valeur de \"Visite:\" refusée, elle "
         "contient une barre oblique inverse : A6\\'; DROP TABLE examen; --"},
        {"control characters in the fields, nothing found",
         "N7\x1B[2J;P;D\x0B;A7;7",
         {},
         true,
         "--Aucun résultat pour ID_ZUNDA: 7; -- A7 - N7<1B>[2J - D<0B>"},
        {"a control character in a field, a statement",
         "N8\x0C;P;D8;A8;8",
         {"8.8", "A8"},
         true,
         update + "8.8', e.idexterne = 'A8' where e.id_examen = 8; -- A8 - N8<0C> - D8"},
        {"a blank line", "", {}, false, "--Ignoré pour ID_ZUNDA: ; --  -  - : " + nothingToMatch},
        {"empty fields",
         ";;;;",
         {},
         false,
         "--Ignoré pour ID_ZUNDA: ; --  -  - : " + nothingToMatch},
        {"blanks and wildcards only",
         " ;P;D9;**;9",
         {},
         false,
         "--Ignoré pour ID_ZUNDA: 9; -- ** -   - D9: " + nothingToMatch},
        {"a name without accession",
         "N10;P;D10;;10",
         {"10.10", "A10"},
         true,
         update + "10.10', e.idexterne = 'A10' where e.id_examen = 10; --  - N10 - D10"},
    };
    for (const char* id : {"42 ", "+5", "-", "--5", "0x1F", "1e3", "١٢"}) {
        cases.push_back(
            {"not a whole number",
             std::string("N4;P;D4;A4;") + id,
             {},
             false,
             std::string("--Erreur pour ID_ZUNDA: ") + id + "; -- A4 - N4 - D4: " + notANumber});
    }

    std::map<std::string, std::vector<DcmDataset>> answers;
    std::string input;
    Lines queried;
    for (const Case& c : cases) {
        const BatchRecord record = ParseBatchRecord(c.record);
        if (!c.study.first.empty())
            answers[record.accession].push_back(Study(c.study.first, c.study.second));
        input += c.record + "\r\n";
        if (c.queried) queried.push_back(record.accession + "*");
    }
    AnswerByAccession(std::move(answers));
    ASSERT_TRUE(Run(Input(input)));
    EXPECT_TRUE(host.errors.empty()) << host.errors.front();
    EXPECT_EQ(host.messages.back().text, "FIN");

    const Lines& lines = form.MemoDest.Lines.Copy();
    ASSERT_EQ(lines.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(lines[i], cases[i].line) << cases[i].what << ": " << cases[i].record;
    }
    Lines sent;
    for (const lumo::testing::ReceivedRequest& request : node.Received()) {
        sent.push_back(WireText(request, DCM_AccessionNumber).value_or("(none)"));
    }
    EXPECT_EQ(sent, queried);
    // Every line in the file ends where the record's line ends.
    std::string expected;
    for (const std::string& line : lines) expected += line + "\r\n";
    EXPECT_EQ(ReadBytes(dir.Path() + "/LUMO4410_1_RESULT.txt"), expected);
}

// A stop asked for while the batch runs (a close, a signal) ends it after
// the record under way: the file holds the lines built and says where the
// run stopped, no "FIN" waits for the operator, the button is idle again.
TEST_F(BatchNet, AStopRequestEndsTheRunAfterTheRecordUnderWay) {
    node.SetResponses({Study("1.2.3", "A1")});
    host.beforeRepaint = [&] {
        if (host.lines.size() == 2) form.RequestStop();
    };
    ASSERT_TRUE(Run(Input("N1;P;D1;A1;1\nN2;P;D2;A1;2\nN3;P;D3;A1;3\nN4;P;D4;A1;4\n")));
    const Lines expected = {
        "Update examen e set e.SIUID = '1.2.3', e.idexterne = 'A1' where e.id_examen = 1; -- "
        "A1 - N1 - D1",
        "Update examen e set e.SIUID = '1.2.3', e.idexterne = 'A1' where e.id_examen = 2; -- "
        "A1 - N2 - D2",
        "-- Interrompu après 2 / 4 enregistrements"};
    EXPECT_EQ(form.MemoDest.Lines.Copy(), expected);
    EXPECT_EQ(host.lines, expected);
    EXPECT_EQ(node.ReceivedCount(), 2u);
    const std::string output = dir.Path() + "/LUMO4410_1_RESULT.txt";
    EXPECT_EQ(ReadBytes(output),
              expected[0] + "\r\n" + expected[1] + "\r\n" + expected[2] + "\r\n");
    EXPECT_EQ(host.written, (Lines{output}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "CFind (ACCESSION+NOM)");
    EXPECT_FALSE(form.LabelBatchProgress.Visible);

    // A request left from before is cleared when the next batch starts.
    host.beforeRepaint = nullptr;
    host.lines.clear();
    ASSERT_TRUE(Run(Input("N1;P;D1;A1;1\nN2;P;D2;A1;2\n")));
    EXPECT_EQ(host.lines.size(), 2u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "FIN");
    EXPECT_FALSE(form.StopRequested());
}

TEST_F(BatchNet, Windows1252InputGivesWindows1252Output) {
    node.SetResponses({Study(
        "1.2", "ACC1",
        {{DCM_SpecificCharacterSet, "ISO_IR 100"}, {DCM_PatientName, "M\xdcLLER^J\xc9R\xd4ME"}})});
    form.EditNomData1.Text = "Patient:";
    ASSERT_TRUE(Run(Input("H\xc9LO\xcfSE;Ren\xe9;19800101;ACC1;77\r\n", "cp1252.txt")));
    // Inside the program the accents are UTF-8 ...
    EXPECT_EQ(form.ListBoxOrig.Items[0], "HÉLOÏSE;René;19800101;ACC1;77");
    EXPECT_EQ(form.EditNomPatient.Text, "HÉLOÏSE");
    // ... on the wire Latin-1, as the identifier declares ...
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(WireText(node.Received()[0], DCM_PatientName), "H\xc9LO\xcfSE");
    // ... and in the output the input's own encoding, response values included.
    EXPECT_EQ(ReadBytes(dir.Path() + "/cp1252_RESULT.txt"),
              "Update examen e set e.SIUID = 'M\xdcLLER^J\xc9R\xd4ME', e.idexterne = 'ACC1' "
              "where e.id_examen = 77; -- ACC1 - H\xc9LO\xcfSE - 19800101\r\n");
}

TEST_F(BatchNet, Utf8InputGivesUtf8Output) {
    node.SetResponses({Study("1.2", "ACC1")});
    ASSERT_TRUE(Run(Input("HÉLOÏSE;René;19800101;ACC1;77\n", "utf8.txt")));
    EXPECT_EQ(ReadBytes(dir.Path() + "/utf8_RESULT.txt"),
              "Update examen e set e.SIUID = '1.2', e.idexterne = 'ACC1' where e.id_examen = "
              "77; -- ACC1 - HÉLOÏSE - 19800101\r\n");
}

TEST_F(BatchNet, ExistingOutputIsOverwritten) {
    const std::string output = dir.Path() + "/LUMO4410_1_RESULT.txt";
    std::ofstream(output, std::ios::binary) << std::string(500, 'z') << "\r\nold line\r\n";
    ASSERT_TRUE(Run(Input("DUPONT;JEAN;19600101;A123;42\n")));
    EXPECT_EQ(ReadBytes(output),
              "--Aucun résultat pour ID_ZUNDA: 42; -- A123 - DUPONT - "
              "19600101\r\n");
}

TEST_F(BatchNet, CancelledFileChoiceChangesNothing) {
    form.ListBoxOrig.Items.Assign({"earlier record"});
    ASSERT_TRUE(Run(std::nullopt));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Aucun fichier sélectionné");
    EXPECT_EQ(host.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(form.ListBoxOrig.Items.Copy(), (Lines{"earlier record"}));
    EXPECT_EQ(form.MemoDest.Lines.Copy(), (Lines{"MemoDest"}));
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "CFind (ACCESSION+NOM)");
    EXPECT_EQ(node.ReceivedCount(), 0u);
    EXPECT_TRUE(host.written.empty());
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(BatchNet, EmptyFileIsReportedAndWritesNothing) {
    const std::string input = Input("", "empty.txt");
    ASSERT_TRUE(Run(input));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "Le fichier \"" + input + "\" est vide : aucun résultat écrit");
    EXPECT_EQ(host.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(node.ReceivedCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/empty_RESULT.txt"));
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "CFind (ACCESSION+NOM)");
}

TEST_F(BatchNet, MarkerAloneWritesAnEmptyResult) {
    ASSERT_TRUE(Run(Input("CONCATENATION\r\n", "marker.txt")));
    EXPECT_EQ(node.ReceivedCount(), 0u);
    EXPECT_EQ(ReadBytes(dir.Path() + "/marker_RESULT.txt"), "");
    EXPECT_EQ(host.messages.back().text, "FIN");
}

TEST_F(BatchNet, UnreadableInputReachesTheErrorReport) {
    const std::string input = dir.Path() + "/gone.txt";
    EXPECT_FALSE(Run(input));
    EXPECT_EQ(host.errors,
              (Lines{"Cannot open file \"" + input + "\". No such file or directory"}));
    EXPECT_EQ(node.ReceivedCount(), 0u);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(BatchNet, OutputThatCannotBeCreatedEndsTheRunWithLinesKept) {
    const std::string output = dir.Path() + "/LUMO4410_1_RESULT.txt";
    std::filesystem::create_directory(output);
    EXPECT_FALSE(Run(Input("DUPONT;JEAN;19600101;A123;42\n")));
    EXPECT_EQ(host.errors, (Lines{"Cannot create file \"" + output + "\". Is a directory"}));
    EXPECT_EQ(form.MemoDest.Lines.Copy(),
              (Lines{"--Aucun résultat pour ID_ZUNDA: 42; -- A123 - DUPONT - 19600101"}));
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "Traitement: LUMO4410_1.txt...");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.written.empty());
}

}  // namespace
}  // namespace lumo::app
