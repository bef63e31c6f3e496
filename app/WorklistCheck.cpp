#include "app/WorklistCheck.h"

#include <cstdint>

#include "app/QueryIdentifier.h"
#include "app/RunState.h"
#include "app/TFormTestWL.h"
#include "app/VisibleText.h"
#include "app/pacsFunctionsProcedures.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/Variant.h"
#include "logging/uApplicationLogger.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;
using dicom::DicomAttributes;
using dicom::DicomDataSet;
using dicom::DicomDataSets;

void LogAndList(TFormTestWL& form, const std::string& text) {
    AppLogger().Log(text, LogLevel::Trace, 0);
    form.ListBoxResult.Items.Add(text);
}

// A date or time is reported when its attribute is absent, or present
// without a value; `absentLevel` is how much the absence matters.
void CheckPresent(const DicomAttributes& attributes, std::uint16_t group, std::uint16_t element,
                  const std::string& accession, const char* nullLabel, const char* absentLabel,
                  std::uint8_t absentLevel) {
    const DicomAttribute attribute = attributes.AttributesFind(group, element);
    if (!attribute.AttributeIsPresent()) {
        AppLogger().Log(absentLabel + accession, absentLevel, 0);
    } else if (attribute.AttributeValue().IsNull()) {
        AppLogger().Log(nullLabel + accession, LogLevel::Finding, 0);
    }
}

void CheckScheduledStep(const DicomAttributes& step, const std::string& accession) {
    pacsRetDicomAttr(step, 0x0008, 0x0060);
    // A missing start date is the one finding logged as an error.
    CheckPresent(step, 0x0040, 0x0002, accession, "Reponse avec Study StartDate null:",
                 "Reponse sans Study StartDate:", LogLevel::Error);
    CheckPresent(step, 0x0040, 0x0003, accession, "Reponse avec Study StartTime null:",
                 "Reponse sans Study StartTime:", LogLevel::Finding);
}

void CheckStudyLevel(const DicomAttributes& attributes, const std::string& accession) {
    if (pacsRetFirstDicomAttr(attributes, 0x0008, 0x0061).empty()) {
        pacsRetFirstDicomAttr(attributes, 0x0008, 0x0060);
    }
    CheckPresent(attributes, 0x0008, 0x0020, accession,
                 "Reponse avec StudyDate null:", "Reponse sans StudyDate:", LogLevel::Finding);
    CheckPresent(attributes, 0x0008, 0x0030, accession,
                 "Reponse avec StudyTime null:", "Reponse sans StudyTime:", LogLevel::Finding);
}

}  // namespace

void RunWorklistCheck(TFormTestWL& form) {
    const RunState::Scope running(form.Runs());
    const std::optional<DicomDataSets> responses = RequestWorklist(form, form.cboModalite.Text);
    LogAndList(form, "checkResults");
    checkResults(form, responses);
}

std::optional<DicomDataSets> RequestWorklist(TFormTestWL& form, const std::string& modality) {
    QueryRequest request = form.QueryRequestFromFields(QueryLevel::Worklist);
    request.keys.modality = modality;
    request.keepResponses = true;  // the check reads the first one
    const DicomDataSet identifier = BuildWorklistCheckIdentifier(request);

    LogAndList(form, "Worklist demandé à " + request.node.calledAETitle);
    const QueryOutcome& outcome = form.RunQueryBusy(
        request, identifier, nullptr, form.Runs().QueryStopSource().get_token(), nullptr);
    if (const std::string cancel = CancelLine(outcome); !cancel.empty()) LogAndList(form, cancel);
    // The check writes its own progress to the log, the report stays on the tab.
    form.ShowExchange({outcome.report}, false);
    if (const std::optional<QueryFailure>& failure = outcome.failure) {
        LogAndList(form,
                   "Exception(" + failure->ClassName() + "):" + VisibleText(failure->message));
        return std::nullopt;
    }
    LogAndList(form, "-> Réponse arrivée");
    if (outcome.responses.DataSetsCount() == 0) LogAndList(form, "Aucun résultat pour Query");
    return outcome.responses;
}

void checkResults(TFormTestWL& form, const std::optional<DicomDataSets>& responses) {
    const std::string accession = form.EditAccession.Text;
    // No answer, no matching entry, or an entry without a scheduled step
    // item: nothing to examine, and the run still ends as usual.
    if (responses) {
        LogAndList(form, "Res");
        if (responses->DataSetsCount() > 0) {
            const DicomDataSet first = responses->DataSetsItem(1);
            LogAndList(form, "studyuid:" + VisibleText(first.DataSetStudyUID()));
            const DicomAttributes attributes = first.DataSetAttributes();
            const DicomAttribute sequence = attributes.AttributesFind(0x0040, 0x0100);
            if (sequence.AttributeIsPresent()) {
                const dicom::Variant steps = sequence.AttributeValue();
                if (!steps.IsNull() && steps.AsCollection().DataSetsCount() > 0) {
                    CheckScheduledStep(steps.AsCollection().DataSetsItem(1).DataSetAttributes(),
                                       accession);
                }
            } else {
                CheckStudyLevel(attributes, accession);
            }
        }
    }
    LogAndList(form, "Fin check Res");
}

}  // namespace lumo::app
