// What runs on the form and how it stops: the inputs disabled and the stop
// button enabled while a query, the worklist check or the batch runs, the
// query run through the front end so that the window stays alive, and the
// stop that cancels it. Members of TFormTestWL.

#include <atomic>
#include <string>

#include "app/TFormTestWL.h"

namespace lumo::app {

TFormTestWL::RunningScope::RunningScope(TFormTestWL& form, bool batch)
    : form_(form), batch_(batch) {
    if (form_.running_++ == 0) form_.SetInputsEnabled(false);
    if (batch_) form_.batchRunning_ = true;
}

TFormTestWL::RunningScope::~RunningScope() {
    if (batch_) form_.batchRunning_ = false;
    if (--form_.running_ > 0) return;
    form_.stopRequested_ = false;
    form_.SetInputsEnabled(true);
}

void TFormTestWL::RequestStop() noexcept {
    stopRequested_ = true;
    std::lock_guard lock(stopMutex_);
    queryStop_.request_stop();
}

// Only what starts a handler is disabled: the lists stay scrollable.
void TFormTestWL::SetInputsEnabled(bool enabled) {
    for (TControl* control : controls_) {
        switch (control->Kind) {
            case ControlKind::Edit:
            case ControlKind::ComboBox:
            case ControlKind::CheckBox:
            case ControlKind::Button:
                control->Enabled = enabled;
                break;
            default:
                break;
        }
    }
    ButtonArreter.Enabled = !enabled;
    host_.Changed();
}

std::stop_source TFormTestWL::QueryStopSource() {
    std::lock_guard lock(stopMutex_);
    queryStop_ = std::stop_source();
    if (batchRunning_) return std::stop_source();
    if (stopRequested_) queryStop_.request_stop();
    return queryStop_;
}

QueryOutcome TFormTestWL::RunQueryBusy(const QueryRequest& request,
                                       const dicom::DicomDataSet& identifier,
                                       const dicom::DicomQuery::ResponseHandler& onResponse,
                                       std::stop_token stop,
                                       const std::function<void(int)>& progress) {
    std::atomic<int> received{0};
    const auto counted = [&](const dicom::DicomDataSet& response) {
        received.fetch_add(1, std::memory_order_relaxed);
        if (onResponse) onResponse(response);
    };
    QueryOutcome outcome;
    host_.RunBusy([&] { outcome = RunQuery(request, identifier, counted, std::move(stop)); },
                  [&] {
                      if (!progress) return;
                      progress(received.load(std::memory_order_relaxed));
                      host_.Changed();
                  });
    return outcome;
}

std::string TFormTestWL::CancelLine() const {
    switch (lastQuery_.report.cancel) {
        case dicom::CancelReason::Stop:
            return "Annulée après " + std::to_string(lastQuery_.report.responses) + " réponses";
        case dicom::CancelReason::Limit:
            return "Limite de " + std::to_string(lastQuery_.request.node.limits.maxResults) +
                   " réponses atteinte : requête annulée";
        default:
            return {};
    }
}

}  // namespace lumo::app
