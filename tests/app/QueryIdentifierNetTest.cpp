// What each query button puts on the wire, as the test node received it.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/DateTime.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::ReceivedRequest;
using lumo::testing::TestNode;
using testing::FormOnNode;
using testing::TagTexts;
using testing::WireItemCount;
using testing::WireItemTags;
using testing::WireItemText;
using testing::WireText;

const DcmTagKey kStudyColumn[] = {DCM_SpecificCharacterSet,
                                  DCM_StudyDate,
                                  DCM_SeriesDate,
                                  DCM_StudyTime,
                                  DCM_SeriesTime,
                                  DCM_AccessionNumber,
                                  DCM_QueryRetrieveLevel,
                                  DCM_Modality,
                                  DCM_Manufacturer,
                                  DCM_InstitutionName,
                                  DCM_ReferringPhysicianName,
                                  DCM_SeriesDescription,
                                  DCM_PerformingPhysicianName,
                                  DCM_OperatorsName,
                                  DCM_ManufacturerModelName,
                                  DCM_PatientName,
                                  DCM_PatientID,
                                  DCM_PatientBirthDate,
                                  DCM_BodyPartExamined,
                                  DCM_SecondaryCaptureDeviceManufacturer,
                                  DCM_SecondaryCaptureDeviceManufacturerModelName,
                                  DCM_SoftwareVersions,
                                  DCM_StudyInstanceUID,
                                  DCM_SeriesInstanceUID};

std::vector<DcmTagKey> Sorted(std::vector<DcmTagKey> tags) {
    std::sort(tags.begin(), tags.end());
    return tags;
}

std::vector<DcmTagKey> StudyColumnWith(std::initializer_list<DcmTagKey> more) {
    std::vector<DcmTagKey> tags(std::begin(kStudyColumn), std::end(kStudyColumn));
    tags.insert(tags.end(), more);
    return Sorted(tags);
}

class QueryIdentifierNet : public ::testing::Test {
  protected:
    // Presses `button` and answers the one request the node received.
    ReceivedRequest Press(TButton& button) {
        node.ClearReceived();
        button.Click();
        EXPECT_EQ(fixture.form.lblDHReponse.Caption.empty(), false);
        EXPECT_NE(fixture.form.lblDHReponse.Caption, "Erreur") << Lines();
        EXPECT_EQ(node.ReceivedCount(), 1u);
        const std::vector<ReceivedRequest> received = node.Received();
        return received.empty() ? ReceivedRequest{} : received.back();
    }

    std::string Lines() const {
        std::string text;
        for (const std::string& line : fixture.form.ListBoxResult.Items.Copy()) text += line + "\n";
        return text;
    }

    void FillEveryField() {
        TFormTestWL& form = fixture.form;
        form.EditAccession.Text = "ACC1";
        form.EditDossier.Text = "PID1";
        form.EditNomPatient.Text = "DUPONT^JEAN";
        form.EditNomMedRef.Text = "MARTIN";
        form.EditDate.Text = "20261207";
        form.EditNaissance.Text = "19600101";
        form.EditStudyUID.Text = "1.2.3.4";
        form.EditSeriesUID.Text = "1.2.3.4.5";
        form.cboModalite.Text = "CT";
    }

    TestNode node;
    FormOnNode fixture{testing::Started(node)};
};

TEST_F(QueryIdentifierNet, WorklistSendsItsKeysAndOneScheduledStep) {
    FillEveryField();
    fixture.form.EditCallingAETitle.Text = "CALLING";
    fixture.form.EditAETitle.Text = "CALLED";
    const ReceivedRequest request = Press(fixture.form.ButtonWL);
    EXPECT_EQ(request.sopClassUID, lumo::testing::kWorklistFind);
    EXPECT_EQ(request.callingAETitle, "CALLING");
    EXPECT_EQ(request.calledAETitle, "CALLED");
    // The standard's top-level return keys are asked as well, empty.
    EXPECT_EQ(
        TagTexts(request.Tags()),
        TagTexts(Sorted({DCM_AccessionNumber, DCM_PatientID, DCM_ScheduledProcedureStepSequence,
                         DCM_ReferringPhysicianName, DCM_StudyDescription, DCM_PatientName,
                         DCM_StudyInstanceUID, DCM_StudyID, DCM_RequestedProcedureDescription,
                         DCM_RequestedProcedureCodeSequence, DCM_RequestedProcedureID})))
        << request.dump;
    EXPECT_EQ(WireItemCount(request, DCM_RequestedProcedureCodeSequence), 0u);
    EXPECT_EQ(WireText(request, DCM_StudyInstanceUID), "");
    EXPECT_EQ(WireText(request, DCM_AccessionNumber), "ACC1");
    EXPECT_EQ(WireText(request, DCM_PatientID), "PID1");
    ASSERT_EQ(WireItemCount(request, DCM_ScheduledProcedureStepSequence), 1u);
    EXPECT_EQ(
        TagTexts(WireItemTags(request, DCM_ScheduledProcedureStepSequence)),
        TagTexts(Sorted({DCM_Modality, DCM_ReferringPhysicianName, DCM_CodeValue,
                         DCM_StudyDescription, DCM_SeriesDescription, DCM_PatientName,
                         DCM_StudyInstanceUID, DCM_StudyID, DCM_Laterality,
                         DCM_RequestedProcedureDescription, DCM_ScheduledProcedureStepStartDate,
                         DCM_ScheduledProcedureStepDescription, DCM_ScheduledProcedureStepID,
                         DCM_ScheduledStationName, DCM_PerformedProcedureStepID,
                         DCM_RequestedProcedureID, DCM_RequestedProcedureComments})))
        << request.dump;
    const auto item = [&](const DcmTagKey& key) {
        return WireItemText(request, DCM_ScheduledProcedureStepSequence, key);
    };
    EXPECT_EQ(item(DCM_Modality), "CT");
    EXPECT_EQ(item(DCM_ScheduledProcedureStepStartDate), "20261207");
    // The C-FIND-only fields play no part.
    EXPECT_EQ(item(DCM_PatientName), "");
    EXPECT_EQ(item(DCM_ReferringPhysicianName), "");
    EXPECT_EQ(item(DCM_StudyInstanceUID), "");
    for (const DcmTagKey& key : WireItemTags(request, DCM_ScheduledProcedureStepSequence)) {
        if (key != DCM_Modality && key != DCM_ScheduledProcedureStepStartDate) {
            EXPECT_EQ(item(key), "") << testing::TagText(key);
        }
    }
}

// A key beyond Latin-1 goes out in UTF-8, declared, exactly as typed: never
// as "?", a wildcard. Keys within Latin-1 keep ISO_IR 100; the worklist
// declares it too once a key goes beyond ASCII, and nothing otherwise.
TEST_F(QueryIdentifierNet, KeysBeyondLatin1GoOutInUtf8) {
    const struct {
        TButton* button;
        const char* accession;
        std::optional<std::string> charset;
        const char* onTheWire;
    } cases[] = {
        {&fixture.form.ButtonCFindStudyStudy, "Иванов*", "ISO_IR 192", "Иванов*"},
        {&fixture.form.ButtonCFindStudyStudy, "Müller*", "ISO_IR 100", "M\xFCller*"},
        {&fixture.form.ButtonWL, "山田*", "ISO_IR 192", "山田*"},
        {&fixture.form.ButtonWL, "Müller*", "ISO_IR 100", "M\xFCller*"},
        {&fixture.form.ButtonWL, "WL*", std::nullopt, "WL*"},
    };
    for (const auto& c : cases) {
        fixture.form.EditAccession.Text = c.accession;
        const ReceivedRequest request = Press(*c.button);
        EXPECT_EQ(WireText(request, DCM_SpecificCharacterSet), c.charset) << c.accession;
        EXPECT_EQ(WireText(request, DCM_AccessionNumber), c.onTheWire) << c.accession;
    }
}

TEST_F(QueryIdentifierNet, PatientLevelSendsThePatientKeysOnly) {
    FillEveryField();
    const ReceivedRequest request = Press(fixture.form.ButtonCFindPatient);
    EXPECT_EQ(request.sopClassUID, lumo::testing::kPatientRootFind);
    EXPECT_EQ(TagTexts(request.Tags()),
              TagTexts(Sorted({DCM_SpecificCharacterSet, DCM_StudyDate, DCM_QueryRetrieveLevel,
                               DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate})))
        << request.dump;
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "PATIENT");
    EXPECT_EQ(WireText(request, DCM_SpecificCharacterSet), "ISO_IR 100");
    EXPECT_EQ(WireText(request, DCM_StudyDate), "20261207");
    EXPECT_EQ(WireText(request, DCM_PatientName), "DUPONT^JEAN");
    EXPECT_EQ(WireText(request, DCM_PatientID), "PID1");
    EXPECT_EQ(WireText(request, DCM_PatientBirthDate), "19600101");
}

TEST_F(QueryIdentifierNet, StudyLevelSendsTheStudyColumn) {
    FillEveryField();
    const ReceivedRequest request = Press(fixture.form.ButtonCFindStudyStudy);
    EXPECT_EQ(request.sopClassUID, lumo::testing::kStudyRootFind);
    EXPECT_EQ(TagTexts(request.Tags()),
              TagTexts(StudyColumnWith(
                  {DCM_NumberOfStudyRelatedSeries, DCM_NumberOfStudyRelatedInstances})))
        << request.dump;
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "STUDY");
    EXPECT_EQ(WireText(request, DCM_AccessionNumber), "ACC1");
    EXPECT_EQ(WireText(request, DCM_Modality), "CT");
    EXPECT_EQ(WireText(request, DCM_ReferringPhysicianName), "MARTIN");
    EXPECT_EQ(WireText(request, DCM_StudyInstanceUID), "1.2.3.4");
    // The series field plays no part at study level.
    EXPECT_EQ(WireText(request, DCM_SeriesInstanceUID), "");
    EXPECT_EQ(WireText(request, DCM_NumberOfStudyRelatedSeries), "");
    EXPECT_EQ(WireText(request, DCM_Manufacturer), "");
}

TEST_F(QueryIdentifierNet, SeriesLevelSendsTheSeriesUidOnce) {
    FillEveryField();
    const ReceivedRequest request = Press(fixture.form.ButtonCFindStudySeries);
    EXPECT_EQ(request.sopClassUID, lumo::testing::kStudyRootFind);
    EXPECT_EQ(TagTexts(request.Tags()),
              TagTexts(StudyColumnWith({DCM_SeriesNumber, DCM_NumberOfSeriesRelatedInstances})))
        << request.dump;
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "SERIES");
    EXPECT_EQ(WireText(request, DCM_SeriesInstanceUID), "1.2.3.4.5");
    EXPECT_EQ(WireText(request, DCM_SeriesNumber), "");
    EXPECT_EQ(WireText(request, DCM_NumberOfSeriesRelatedInstances), "");
}

TEST_F(QueryIdentifierNet, SeriesLevelWithoutSeriesUidSendsAnEmptyKey) {
    const ReceivedRequest request = Press(fixture.form.ButtonCFindStudySeries);
    EXPECT_EQ(WireText(request, DCM_SeriesInstanceUID), "");
}

TEST_F(QueryIdentifierNet, ImageLevelSendsTheInstanceKeys) {
    FillEveryField();
    const ReceivedRequest request = Press(fixture.form.ButtonCFindStudyImage);
    EXPECT_EQ(request.sopClassUID, lumo::testing::kStudyRootFind);
    EXPECT_EQ(TagTexts(request.Tags()),
              TagTexts(StudyColumnWith({DCM_SOPClassUID, DCM_SOPInstanceUID, DCM_InstanceNumber})))
        << request.dump;
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "IMAGE");
    EXPECT_EQ(WireText(request, DCM_SeriesInstanceUID), "1.2.3.4.5");
    EXPECT_EQ(WireText(request, DCM_SOPInstanceUID), "");
    EXPECT_EQ(WireText(request, DCM_SOPClassUID), "");
    EXPECT_EQ(WireText(request, DCM_InstanceNumber), "");
}

TEST_F(QueryIdentifierNet, AllFieldsEmptyGivesZeroLengthKeys) {
    TFormTestWL& form = fixture.form;
    for (TEdit* edit :
         {&form.EditAccession, &form.EditDossier, &form.EditNomPatient, &form.EditNomMedRef,
          &form.EditDate, &form.EditNaissance, &form.EditStudyUID, &form.EditSeriesUID}) {
        edit->Text.clear();
    }
    form.cboModalite.Text.clear();
    const ReceivedRequest request = Press(form.ButtonCFindStudyStudy);
    for (const DcmTagKey& key : request.Tags()) {
        if (key == DCM_SpecificCharacterSet || key == DCM_QueryRetrieveLevel) continue;
        EXPECT_EQ(WireText(request, key), "") << testing::TagText(key);
    }
    EXPECT_EQ(request.Tags().size(), 26u);
    EXPECT_EQ(WireText(request, DCM_SpecificCharacterSet), "ISO_IR 100");
    EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), "STUDY");
}

TEST_F(QueryIdentifierNet, FieldsGoOutAsTyped) {
    TFormTestWL& form = fixture.form;
    form.EditDate.Text = "20260101-20261231";
    form.EditNomPatient.Text = "dup*";
    form.EditDossier.Text = "P 1";
    form.cboModalite.Text = "XYZ";
    form.EditNomMedRef.Text = "Müller";
    const ReceivedRequest study = Press(form.ButtonCFindStudyStudy);
    EXPECT_EQ(WireText(study, DCM_StudyDate), "20260101-20261231");
    EXPECT_EQ(WireText(study, DCM_PatientName), "dup*");
    EXPECT_EQ(WireText(study, DCM_PatientID), "P 1");
    EXPECT_EQ(WireText(study, DCM_Modality), "XYZ");
    // Latin-1 on the wire, as the identifier declares.
    EXPECT_EQ(WireText(study, DCM_ReferringPhysicianName), "M\xFCller");

    const ReceivedRequest worklist = Press(form.ButtonWL);
    EXPECT_EQ(WireItemText(worklist, DCM_ScheduledProcedureStepSequence,
                           DCM_ScheduledProcedureStepStartDate),
              "20260101-20261231");
    EXPECT_EQ(WireItemText(worklist, DCM_ScheduledProcedureStepSequence, DCM_Modality), "XYZ");
}

TEST_F(QueryIdentifierNet, TheDateFieldStartsAtToday) {
    SetClock([] { return EncodeDateTime(2026, 12, 7, 9, 30, 0); });
    fixture.form.FormCreate();
    SetClock({});
    fixture.form.EditPort.Text = std::to_string(node.Port());
    const ReceivedRequest request = Press(fixture.form.ButtonCFindPatient);
    EXPECT_EQ(WireText(request, DCM_StudyDate), "20261207");
}

}  // namespace
}  // namespace lumo::app
