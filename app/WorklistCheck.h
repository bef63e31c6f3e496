#pragma once

#include <optional>
#include <string>

#include "dicom/data/DicomDataSets.h"

namespace lumo::app {

class TFormTestWL;

// The worklist check of the button "Worklist TAVRIX": one worklist query of
// its own (BuildWorklistCheckIdentifier), then its first response examined
// for a missing or empty scheduled date and time. Each step is a progress
// line, written to the log and the result list; the findings go to the log
// only. Free functions over the form; the form's thread.

// The whole check, as the button runs it.
void RunWorklistCheck(TFormTestWL& form);

// The check's query with the modality given: its responses, or nothing when
// it failed (the failure is a progress line). The outcome becomes the
// form's last query.
std::optional<dicom::DicomDataSets> RequestWorklist(TFormTestWL& form, const std::string& modality);

// The examination of the first response, between the lines "Res" and "Fin
// check Res"; no response, or no scheduled step, ends it quietly.
void checkResults(TFormTestWL& form, const std::optional<dicom::DicomDataSets>& responses);

}  // namespace lumo::app
