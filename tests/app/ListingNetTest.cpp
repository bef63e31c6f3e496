// How the responses of each query kind are listed, saved and reported.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::Attr;
using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::CurrentDir;
using testing::FormOnNode;
using testing::TempDir;
using Lines = std::vector<std::string>;

const char* const kSeparator = "---------------------";

std::vector<DcmDataset> DataSets(std::initializer_list<std::vector<Attr>> list) {
    std::vector<DcmDataset> sets;
    for (const auto& attributes : list) sets.push_back(MakeDataSet(attributes));
    return sets;
}

class ListingNet : public ::testing::Test {
  protected:
    Lines Listed() const { return fixture.form.ListBoxResult.Items.Copy(); }
    TFormTestWL& Form() { return fixture.form; }

    void ExpectAnswered() {
        EXPECT_TRUE(std::regex_match(Form().lblDHReponse.Caption,
                                     std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}")))
            << Form().lblDHReponse.Caption;
    }

    TestNode node;
    FormOnNode fixture{testing::Started(node)};
};

std::vector<Attr> FullWorklistEntry() {
    return {{DCM_AccessionNumber, "ACC1"},
            {DCM_PatientID, "PID1"},
            {DCM_SeriesDescription, "SD"},
            {DCM_StudyID, "SID"},
            {DCM_StudyInstanceUID, "1.2.3"},
            {DCM_ReferringPhysicianName, "DR^WHO"},
            {DCM_StudyDescription, "STUDY DESC"},
            {DCM_RequestedProcedureDescription, "RPD"},
            {DCM_ScheduledProcedureStepID, "SPS-TOP"},
            {DCM_RequestedProcedureID, "RP1"},
            {DCM_PerformedProcedureStepID, "PPS1"},
            {DCM_Modality, "MR"},
            {DCM_RequestedProcedureCodeSequence, Items{{{DCM_CodeValue, "CV1"},
                                                        {DCM_CodingSchemeDesignator, "L"},
                                                        {DCM_CodeMeaning, "M"}}}},
            {DCM_ScheduledProcedureStepSequence,
             Items{{{DCM_Modality, "MR"},
                    {DCM_ScheduledStationAETitle, "ST1"},
                    {DCM_ScheduledProcedureStepStartDate, "20261207"},
                    {DCM_ScheduledProcedureStepID, "S7"}}}}};
}

TEST_F(ListingNet, WorklistBlockLinesInOrder) {
    node.SetResponses(DataSets({FullWorklistEntry()}));
    Form().ButtonWL.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed(), (Lines{"ACC1     PID1   SD", "0020,0010 SID", "1.2.3", "Référant DR^WHO",
                               "Study Description 0008, $1030STUDY DESC",
                               "Study Description 0032, $1060RPD", "Code d'acte $0040,$0009SPS-TOP",
                               "Code d'acte $0040,$1001RP1", "Code d'acte $0040,$0253PPS1",
                               "Modalité MR", "Requested Code d'acte $0008,$0100 CV1",
                               "Scheduled Code d'acte $0040,$0009 S7", kSeparator}));
}

TEST_F(ListingNet, AbsentAttributesLeaveTheirLabelsAlone) {
    node.SetResponses(DataSets({{{DCM_PatientID, "P"}}}));
    Form().ButtonWL.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed(),
              (Lines{"     P   ", "0020,0010 ", "", "Référant ", "Study Description 0008, $1030",
                     "Study Description 0032, $1060", "Code d'acte $0040,$0009",
                     "Code d'acte $0040,$1001", "Code d'acte $0040,$0253", "Modalité ",
                     "Requested Code d'acte $0008,$0100 ", "Scheduled Code d'acte $0040,$0009 ",
                     kSeparator}));
}

// A response without the two sequences still lists all its lines, and the
// responses after it are listed too.
TEST_F(ListingNet, MissingSequencesListEmptyValuesAndTheListingGoesOn) {
    node.SetResponses(
        DataSets({{{DCM_AccessionNumber, "A1"}},
                  {{DCM_AccessionNumber, "A2"},
                   {DCM_RequestedProcedureCodeSequence, Items{{{DCM_CodeValue, "C2"}}}}},
                  {{DCM_AccessionNumber, "A3"}, {DCM_RequestedProcedureCodeSequence, Items{}}}}));
    Form().ButtonWL.Click();
    ExpectAnswered();
    ASSERT_EQ(Listed().size(), 39u);
    EXPECT_EQ(Listed()[10], "Requested Code d'acte $0008,$0100 ");
    EXPECT_EQ(Listed()[11], "Scheduled Code d'acte $0040,$0009 ");
    EXPECT_EQ(Listed()[13], "A2        ");
    EXPECT_EQ(Listed()[23], "Requested Code d'acte $0008,$0100 C2");
    EXPECT_EQ(Listed()[24], "Scheduled Code d'acte $0040,$0009 ");
    EXPECT_EQ(Listed()[26], "A3        ");
    EXPECT_EQ(Listed()[36], "Requested Code d'acte $0008,$0100 ");
    EXPECT_EQ(Listed()[38], kSeparator);
}

TEST_F(ListingNet, SequenceValueByNameScansEveryItem) {
    node.SetResponses(DataSets({
        // No item holds the name: "|" and each attribute name of the item.
        {{DCM_AccessionNumber, "NOMATCH"},
         {DCM_RequestedProcedureCodeSequence,
          Items{{{DCM_CodingSchemeDesignator, "L"}, {DCM_CodeMeaning, "M"}}}}},
        // Several items: the last match wins, later items add their names.
        {{DCM_AccessionNumber, "SEVERAL"},
         {DCM_RequestedProcedureCodeSequence, Items{{{DCM_CodeValue, "C1"}},
                                                    {{DCM_CodeMeaning, "X"}},
                                                    {{DCM_CodeValue, "C3"}, {DCM_CodeMeaning, "Y"}},
                                                    {{DCM_CodingSchemeDesignator, "D"}}}}},
    }));
    Form().ButtonWL.Click();
    ExpectAnswered();
    ASSERT_EQ(Listed().size(), 26u);
    EXPECT_EQ(Listed()[10],
              "Requested Code d'acte $0008,$0100 |Coding Scheme Designator|Code Meaning");
    EXPECT_EQ(Listed()[23], "Requested Code d'acte $0008,$0100 C3|Coding Scheme Designator");
}

// Two consecutive responses: each is scanned afresh.
TEST_F(ListingNet, SequenceValueByNameStartsEmptyForEachResponse) {
    node.SetResponses(DataSets({
        {{DCM_RequestedProcedureCodeSequence,
          Items{{{DCM_CodeValue, "CV"}, {DCM_CodeMeaning, "M"}}}}},
        {{DCM_RequestedProcedureCodeSequence, Items{{{DCM_CodeMeaning, "M"}}}}},
    }));
    Form().ButtonWL.Click();
    ASSERT_EQ(Listed().size(), 26u);
    EXPECT_EQ(Listed()[10], "Requested Code d'acte $0008,$0100 CV");
    EXPECT_EQ(Listed()[23], "Requested Code d'acte $0008,$0100 |Code Meaning");
}

TEST_F(ListingNet, IssuerOfAccessionNumberIsReportedAndRemoved) {
    std::vector<Attr> entry = FullWorklistEntry();
    entry.push_back(
        {DCM_IssuerOfAccessionNumberSequence, Items{{{DCM_LocalNamespaceEntityID, "HOSP"}}}});
    node.SetResponses(DataSets({entry, {{DCM_AccessionNumber, "PLAIN"}}}));
    TempDir dir;
    CurrentDir here(dir.Path());
    Form().cbSaveResults.Checked = true;
    Form().ButtonWL.Click();
    ExpectAnswered();
    ASSERT_EQ(Listed().size(), 27u);
    EXPECT_EQ(Listed()[12], "0008,0051 Found -> Remove from response attribute");
    EXPECT_EQ(Listed()[13], kSeparator);
    EXPECT_EQ(Listed()[14], "PLAIN        ");
    EXPECT_EQ(Listed()[26], kSeparator);
    // The saved file was written before the removal.
    const dicom::DicomDataSet saved =
        dicom::DicomDataSet::ReadFile(dir.Path() + "/Logs/Lumo4410_1.dcm");
    EXPECT_TRUE(saved.DataSetAttributes().AttributesFind(0x0008, 0x0051).AttributeIsPresent());
}

// Blocks are listed as responses arrive, or after the query when files are
// saved: the operator reads the same lines either way.
TEST_F(ListingNet, TheListingIsTheSameWithOrWithoutSaveFiles) {
    std::vector<Attr> entry = FullWorklistEntry();
    entry.push_back(
        {DCM_IssuerOfAccessionNumberSequence, Items{{{DCM_LocalNamespaceEntityID, "HOSP"}}}});
    node.SetResponses(DataSets({entry, {{DCM_AccessionNumber, "PLAIN"}}, entry}));
    Form().ButtonWL.Click();
    const Lines listedAsReceived = Listed();
    TempDir dir;
    CurrentDir here(dir.Path());
    Form().cbSaveResults.Checked = true;
    Form().ButtonWL.Click();
    EXPECT_EQ(Listed(), listedAsReceived);
    EXPECT_EQ(Listed().size(), 41u);
}

// A value that has no text (here a sequence where a name is read) stops the
// listing there; what is listed stays and the query counts as answered.
TEST_F(ListingNet, AValueWithoutTextStopsTheListingQuietly) {
    std::vector<DcmDataset> responses = DataSets({{{DCM_AccessionNumber, "A1"}}, {}, {}});
    // The second sends its accession number as a sequence.
    auto sequence = std::make_unique<DcmSequenceOfItems>(DcmTag(DCM_AccessionNumber, EVR_SQ));
    auto item = std::make_unique<DcmItem>();
    ASSERT_TRUE(sequence->append(item.get()).good());
    item.release();  // the sequence owns it now
    ASSERT_TRUE(responses[1].insert(sequence.release()).good());
    lumo::testing::PutAttributes(responses[2], {{DCM_AccessionNumber, "A3"}});
    node.SetResponses(std::move(responses));
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save ? "with save files" : "without save files");
        TempDir dir;
        CurrentDir here(dir.Path());
        Form().cbSaveResults.Checked = save;
        Form().ButtonCFindStudyStudy.Click();
        ExpectAnswered();
        ASSERT_EQ(Listed().size(), 14u);
        EXPECT_EQ(Listed()[0], "A1        ");
        EXPECT_EQ(Listed()[13], kSeparator);
    }
}

TEST_F(ListingNet, StudyBlocksHaveFourteenLines) {
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "A1"},
                                 {DCM_PatientID, "P1"},
                                 {DCM_SeriesDescription, "S"},
                                 {DCM_PatientName, "DUPONT^JEAN"},
                                 {DCM_PatientBirthDate, "19600101"},
                                 {DCM_StudyInstanceUID, "1.2.3"},
                                 {DCM_ReferringPhysicianName, "MARTIN"},
                                 {DCM_InstitutionName, "CHU"},
                                 {DCM_NumberOfStudyRelatedSeries, "3"},
                                 {DCM_NumberOfStudyRelatedInstances, "42"},
                                 {DCM_Modality, "CT"}},
                                {{DCM_AccessionNumber, "A2"}}}));
    Form().ButtonCFindStudyStudy.Click();
    ExpectAnswered();
    const Lines listed = Listed();
    ASSERT_EQ(listed.size(), 28u);
    const Lines first(listed.begin(), listed.begin() + 14);
    EXPECT_EQ(first, (Lines{"A1     P1   S", "Patient: DUPONT^JEAN", "Dossier: P1",
                            "Naissance: 1960-01-01", "Study Date: ", "Study Time: ", "Visite: A1",
                            "StudyUID: 1.2.3", "Referant: MARTIN", "Institution: CHU",
                            "Nb Series : 3", "Nb Instances : 42", "Modalite : CT", kSeparator}));
    const Lines second(listed.begin() + 14, listed.end());
    EXPECT_EQ(second,
              (Lines{"A2        ", "Patient: ", "Dossier: ", "Naissance: ", "Study Date: ",
                     "Study Time: ", "Visite: A2", "StudyUID: ", "Referant: ", "Institution: ",
                     "Nb Series : ", "Nb Instances : ", "Modalite : ", kSeparator}));
}

TEST_F(ListingNet, PatientBlocksHaveElevenLines) {
    node.SetResponses(
        DataSets({{{DCM_PatientID, "P1"}, {DCM_PatientName, "A^B"}}, {{DCM_PatientID, "P2"}}}));
    Form().ButtonCFindPatient.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed(),
              (Lines{"     P1   ",    "Patient: A^B", "Dossier: P1", "Naissance: ", "Study Date: ",
                     "Study Time: ",  "Visite: ",     "StudyUID: ",  "Referant: ",  "Institution: ",
                     kSeparator,      "     P2   ",   "Patient: ",   "Dossier: P2", "Naissance: ",
                     "Study Date: ",  "Study Time: ", "Visite: ",    "StudyUID: ",  "Referant: ",
                     "Institution: ", kSeparator}));
}

TEST_F(ListingNet, SeriesBlockLines) {
    node.SetResponses(DataSets({{{DCM_SeriesInstanceUID, "1.2.3.4"},
                                 {DCM_NumberOfSeriesRelatedInstances, "12"},
                                 {DCM_SeriesNumber, "2"},
                                 {DCM_SeriesDescription, "AX T2"},
                                 {DCM_Modality, "MR"}}}));
    Form().ButtonCFindStudySeries.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed(),
              (Lines{"        AX T2", "Patient: ", "Dossier: ", "Naissance: ", "Study Date: ",
                     "Study Time: ", "Visite: ", "StudyUID: ", "Referant: ", "Institution: ",
                     "SeriesUID : 1.2.3.4", "Nb Instances : 12", "Series Nbr : 2",
                     "Series Desc : AX T2", "Modalite : MR", kSeparator}));
}

TEST_F(ListingNet, ImageBlockLines) {
    node.SetResponses(DataSets({{{DCM_SeriesInstanceUID, "1.2.3.4"},
                                 {DCM_SOPInstanceUID, "1.2.3.4.5"},
                                 {DCM_SOPClassUID, "1.2.840.10008.5.1.4.1.1.2"},
                                 {DCM_InstanceNumber, "7"}}}));
    Form().ButtonCFindStudyImage.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed(),
              (Lines{"        ", "Patient: ", "Dossier: ", "Naissance: ", "Study Date: ",
                     "Study Time: ", "Visite: ", "StudyUID: ", "Referant: ", "Institution: ",
                     "SeriesUID : 1.2.3.4", "InstanceUID : 1.2.3.4.5",
                     "SOPClass : 1.2.840.10008.5.1.4.1.1.2", "InstanceNumber : 7", kSeparator}));
}

TEST_F(ListingNet, ResponsesAreDecodedFromTheirCharacterSet) {
    node.SetResponses(DataSets(
        {{{DCM_SpecificCharacterSet, "ISO_IR 100"}, {DCM_PatientName, "M\xFCller^Ren\xE9"}}}));
    Form().ButtonCFindPatient.Click();
    ASSERT_GE(Listed().size(), 2u);
    EXPECT_EQ(Listed()[1], "Patient: Müller^René");
}

TEST_F(ListingNet, NoResponseListsAucunResultat) {
    Form().ListBoxResult.Items.Add("left from before");
    Form().ButtonCFindStudyStudy.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed(), Lines{"Aucun résultat"});
    EXPECT_EQ(fixture.host.listed, 1);
}

TEST_F(ListingNet, TheRequestTimeIsPaintedBeforeTheQuery) {
    Form().lblDHReponse.Caption = "old";
    Form().EditPort.Text = testing::UnusedPort();
    Form().ButtonCFindPatient.Click();
    ASSERT_EQ(fixture.host.paintedLabels.size(), 1u);
    EXPECT_TRUE(std::regex_match(fixture.host.paintedLabels[0].first,
                                 std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}")));
    EXPECT_EQ(fixture.host.paintedLabels[0].second, "");
    EXPECT_EQ(Form().lblDHDemande.Caption, fixture.host.paintedLabels[0].first);
}

// A worklist answer is read at the top level, and in its first scheduled
// step for what the top level lacks.
TEST_F(ListingNet, WorklistValuesAbsentAtTheTopAreReadInTheFirstStep) {
    node.SetResponses(DataSets(
        {{{DCM_AccessionNumber, "ACC1"},
          {DCM_ReferringPhysicianName, "DR^TOP"},
          {DCM_ScheduledProcedureStepSequence, Items{{{DCM_Modality, "MR"},
                                                      {DCM_ReferringPhysicianName, "DR^STEP"},
                                                      {DCM_StudyDescription, "IN STEP"}},
                                                     {{DCM_Modality, "CT"}}}}}}));
    Form().ButtonWL.Click();
    ASSERT_EQ(Listed().size(), 13u);
    EXPECT_EQ(Listed()[3], "Référant DR^TOP");
    EXPECT_EQ(Listed()[4], "Study Description 0008, $1030IN STEP");
    EXPECT_EQ(Listed()[5], "Study Description 0032, $1060");
    EXPECT_EQ(Listed()[9], "Modalité MR");
}

// A node that breaks off half-way: what arrived is listed, then the error.
TEST_F(ListingNet, ResponsesBeforeAFailureAreListed) {
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "A1"}},
                                {{DCM_AccessionNumber, "A2"}},
                                {{DCM_AccessionNumber, "A3"}}}));
    node.SetAbortAfter(2);
    Form().ButtonCFindStudyStudy.Click();
    EXPECT_EQ(Form().lblDHReponse.Caption, "Erreur");
    ASSERT_EQ(Listed().size(), 30u);
    EXPECT_EQ(Listed()[14].rfind("A2", 0), 0u);
    EXPECT_EQ(Listed()[28], "EDicomNetworkError");
    EXPECT_FALSE(Form().LastQuery().Answered());
}

// A node's value cannot split a line or send escapes to a terminal.
TEST_F(ListingNet, ControlCharactersInValuesAreShownVisibly) {
    node.SetResponses(
        DataSets({{{DCM_PatientName, "EVIL\x1B[31m^X"}, {DCM_InstitutionName, "L1\rL2\x7F"}}}));
    Form().ButtonCFindStudyStudy.Click();
    ExpectAnswered();
    ASSERT_EQ(Listed().size(), 14u);
    EXPECT_EQ(Listed()[1], "Patient: EVIL<1B>[31m^X");
    EXPECT_EQ(Listed()[9], "Institution: L1<0D>L2<7F>");
}

// The raw bytes of a top-level text of a saved file.
std::string SavedText(const std::string& file, const DcmTagKey& key) {
    DcmFileFormat format;
    const char* bytes = nullptr;
    if (format.loadFile(file.c_str()).bad() ||
        format.getDataset()->findAndGetString(key, bytes).bad() || bytes == nullptr)
        return "";
    return bytes;
}

// Japanese names in their ISO 2022 encoding are listed decoded; bytes that
// are not what a response declares are marked, and the log says so once. A
// saved file says what its bytes are: converted text as ISO_IR 192, text
// that could not be read as it came, with its own declaration.
TEST(ListingCharsetNet, EverySetIsDecodedAndWhatCannotBeIsMarkedLoggedAndSavedAsItCame) {
    testing::ProgramFolder folder;
    TestNode node;
    FormOnNode on(testing::Started(node));
    TempDir dir;
    CurrentDir here(dir.Path());
    node.SetResponses(
        DataSets({{{DCM_SpecificCharacterSet, "\\ISO 2022 IR 87"},
                   {DCM_PatientName, "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B"}},
                  {{DCM_SpecificCharacterSet, "ISO_IR 192"},
                   {DCM_PatientName, "Zo\xE9"},
                   {DCM_InstitutionName, "\xFF"}}}));
    on.form.cbSaveResults.Checked = true;
    on.form.ButtonCFindStudyStudy.Click();
    const Lines& listed = on.form.ListBoxResult.Items.Copy();
    ASSERT_EQ(listed.size(), 28u);
    EXPECT_EQ(listed[1], "Patient: Yamada^Tarou=山田^太郎");
    EXPECT_EQ(listed[15], "Patient: Zo\uFFFD");
    Lines logged;
    for (const std::string& line : folder.LogLines())
        if (line.find("illisible") != std::string::npos) logged.push_back(line);
    EXPECT_EQ(logged, (Lines{"[050] Réponse 2 : texte illisible dans le jeu de caractères "
                             "\"ISO_IR 192\", marqué \uFFFD"}));
    const std::string first = dir.Path() + "/Logs/Lumo4410_1.dcm";
    const std::string second = dir.Path() + "/Logs/Lumo4410_2.dcm";
    EXPECT_EQ(SavedText(first, DCM_SpecificCharacterSet), "ISO_IR 192");
    EXPECT_EQ(SavedText(first, DCM_PatientName), "Yamada^Tarou=山田^太郎");
    // Another reader of DICOM files (Debian's pydicom) reads the same name.
    std::string byPydicom;
    EXPECT_EQ(lumo::testing::RunProgram({"/usr/bin/python3", "-c",
                                         "import sys, pydicom; "
                                         "print(pydicom.dcmread(sys.argv[1]).PatientName)",
                                         first},
                                        &byPydicom),
              0);
    EXPECT_EQ(byPydicom, "Yamada^Tarou=山田^太郎\n");
    EXPECT_EQ(SavedText(second, DCM_SpecificCharacterSet), "ISO_IR 192");
    EXPECT_EQ(SavedText(second, DCM_PatientName), "Zo\xE9");
}

// Nodes often leave (0008,0005) out, dcmtk's wlmscpfs even for files stored
// in UTF-8: such text is read as UTF-8 when it is, and the log says so once
// per response.
TEST(ListingCharsetNet, UndeclaredUtf8FromWlmscpfsIsListedAsItIsAndLogged) {
    testing::ProgramFolder folder;
    lumo::testing::TempDir db{"lumo-wlm"};
    std::filesystem::create_directory(db.File("OFFIS"));
    lumo::testing::WriteFile(db.File("OFFIS/lockfile"), "");
    // dcmtk's first sample worklist, stored in UTF-8.
    std::string dump =
        testing::ReadText("/usr/share/doc/dcmtk/examples/wlistdb/OFFIS/wklist1.dump");
    dump.replace(dump.find("ISO_IR 100"), 10, "ISO_IR 192");
    dump.replace(dump.find("EXAM6"), 5, "Échographie abdominale");
    lumo::testing::WriteFile(db.File("item.dump"), dump);
    ASSERT_EQ(lumo::testing::RunProgram({"dump2dcm", "--write-xfer-little", db.File("item.dump"),
                                         db.File("OFFIS/item.wl")}),
              0);
    std::uint16_t port = 0;
    const auto wlmscpfs = lumo::testing::StartServer(
        [&](std::uint16_t p) {
            return std::vector<std::string>{"wlmscpfs", "-dfp", db.Path(), std::to_string(p)};
        },
        port);
    TestNode node;
    FormOnNode on(node);
    on.form.EditPort.Text = std::to_string(port);
    on.form.EditAETitle.Text = "OFFIS";
    on.form.EditDate.Text.clear();
    on.form.cboModalite.Text.clear();
    on.form.ButtonWL.Click();
    const Lines listed = on.form.ListBoxResult.Items.Copy();
    EXPECT_NE(std::find(listed.begin(), listed.end(),
                        "Study Description 0032, $1060Échographie abdominale"),
              listed.end())
        << ::testing::PrintToString(listed);
    Lines logged;
    for (const std::string& line : folder.LogLines())
        if (line.find("non déclaré") != std::string::npos) logged.push_back(line);
    EXPECT_EQ(logged, (Lines{"[050] Réponse 1 : jeu de caractères non déclaré (0008,0005), texte "
                             "lu en UTF-8"}));
}

TEST_F(ListingNet, AnUnreachableNodeIsReportedInTwoLines) {
    Form().ListBoxResult.Items.Add("left from before");
    Form().EditPort.Text = testing::UnusedPort();
    Form().ButtonWL.Click();
    EXPECT_EQ(Form().lblDHReponse.Caption, "Erreur");
    ASSERT_EQ(Listed().size(), 2u);
    EXPECT_EQ(Listed()[0], "EDicomNetworkError");
    EXPECT_NE(Listed()[1].find("127.0.0.1:" + Form().EditPort.Text), std::string::npos)
        << Listed()[1];
    EXPECT_TRUE(fixture.host.errors.empty());
}

TEST_F(ListingNet, ARejectedAssociationIsReportedInTwoLines) {
    node.SetRejectAssociation(lumo::testing::RejectReason::CalledAETitleNotRecognized);
    Form().ButtonCFindStudyStudy.Click();
    EXPECT_EQ(Form().lblDHReponse.Caption, "Erreur");
    ASSERT_EQ(Listed().size(), 2u);
    EXPECT_EQ(Listed()[0], "EDicomAssociationRejected");
}

// A failure status is data of the outcome: the responses before it and the
// status are kept; the operator reads the responses that arrived, then the
// error's two lines.
TEST_F(ListingNet, AFailureStatusIsKeptInTheOutcome) {
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "A1"}}}));
    node.SetFinalStatus(0xA700, "out of resources");
    Form().ButtonCFindStudyStudy.Click();
    const QueryOutcome& outcome = Form().LastQuery();
    EXPECT_EQ(outcome.status, 0xA700);
    EXPECT_EQ(outcome.responses.DataSetsCount(), 1);
    ASSERT_TRUE(outcome.failure);
    EXPECT_EQ(outcome.failure->errorClass, ErrorClass::EDicomStatusError);
    EXPECT_FALSE(outcome.Answered());
    ASSERT_EQ(Listed().size(), 16u);
    EXPECT_EQ(Listed()[0].rfind("A1", 0), 0u);
    EXPECT_EQ(Listed()[13], kSeparator);
    EXPECT_EQ(Listed()[14], "EDicomStatusError");
    EXPECT_EQ(Listed()[15], outcome.failure->message);
    EXPECT_EQ(Form().lblDHReponse.Caption, "Erreur");
    EXPECT_NE(outcome.failure->message.find("status A700"), std::string::npos);
    EXPECT_NE(outcome.failure->message.find(": out of resources"), std::string::npos);
}

TEST_F(ListingNet, APortThatIsNotANumberIsReportedAndNothingIsSent) {
    Form().EditPort.Text = "31OO";
    Form().ButtonCFindStudyStudy.Click();
    EXPECT_EQ(Form().lblDHReponse.Caption, "Erreur");
    EXPECT_EQ(Listed(), (Lines{"EConvertError", "'31OO' is not a valid integer value"}));
    EXPECT_EQ(node.ReceivedCount(), 0u);
}

TEST_F(ListingNet, SaveResultsWritesOneFilePerResponseAndCreatesLogs) {
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "A1"}},
                                {{DCM_AccessionNumber, "A2"}},
                                {{DCM_AccessionNumber, "A3"}}}));
    TempDir dir;
    CurrentDir here(dir.Path());
    Form().cbSaveResults.Checked = true;
    Form().ButtonCFindStudyStudy.Click();
    ExpectAnswered();
    EXPECT_EQ(Listed().size(), 42u);
    EXPECT_EQ(testing::FileNames(dir.Path() + "/Logs"),
              (Lines{"Lumo4410_1.dcm", "Lumo4410_2.dcm", "Lumo4410_3.dcm"}));
    for (int i = 1; i <= 3; ++i) {
        const auto saved = dicom::DicomDataSet::ReadFile(dir.Path() + "/Logs/Lumo4410_" +
                                                         std::to_string(i) + ".dcm");
        EXPECT_EQ(saved.DataSetAccessionNumber(), "A" + std::to_string(i));
    }

    // A later, shorter query writes the same names again and leaves the
    // higher numbers alone.
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "B1"}}}));
    Form().ButtonCFindStudyStudy.Click();
    EXPECT_EQ(testing::FileNames(dir.Path() + "/Logs").size(), 3u);
    EXPECT_EQ(
        dicom::DicomDataSet::ReadFile(dir.Path() + "/Logs/Lumo4410_1.dcm").DataSetAccessionNumber(),
        "B1");
    EXPECT_EQ(
        dicom::DicomDataSet::ReadFile(dir.Path() + "/Logs/Lumo4410_2.dcm").DataSetAccessionNumber(),
        "A2");
}

TEST_F(ListingNet, WithoutSaveResultsNothingIsWritten) {
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "A1"}}}));
    TempDir dir;
    CurrentDir here(dir.Path());
    Form().ButtonCFindStudyStudy.Click();
    EXPECT_TRUE(testing::FileNames(dir.Path()).empty());
}

// When "Logs" cannot be a folder, each response says so before its block
// and every block is still listed.
TEST_F(ListingNet, AResponseThatCannotBeSavedIsReportedAndTheListingGoesOn) {
    node.SetResponses(DataSets({{{DCM_AccessionNumber, "A1"}}, {{DCM_AccessionNumber, "A2"}}}));
    TempDir dir;
    CurrentDir here(dir.Path());
    std::ofstream("Logs") << "a file, not a folder";
    Form().cbSaveResults.Checked = true;
    Form().ButtonCFindStudyStudy.Click();
    ExpectAnswered();
    ASSERT_EQ(Listed().size(), 30u);
    const std::string lead = "Exception dans DataSetWriteFile(Logs/Lumo4410_1.dcm):";
    EXPECT_EQ(Listed()[0].substr(0, lead.size()), lead) << Listed()[0];
    EXPECT_EQ(Listed()[1], "A1        ");
    EXPECT_EQ(Listed()[15].rfind("Exception dans DataSetWriteFile(Logs/Lumo4410_2.dcm):", 0), 0u);
    EXPECT_EQ(Listed()[16], "A2        ");
    EXPECT_EQ(Listed()[29], kSeparator);
}

TEST_F(ListingNet, CountsAboveSixteenBits) {
    node.SetSyntheticResponses(65537);
    Form().ButtonCFindPatient.Click();
    ExpectAnswered();
    ASSERT_EQ(Listed().size(), 65537u * 11u);
    EXPECT_EQ(Listed().back(), kSeparator);
}

}  // namespace
}  // namespace lumo::app
