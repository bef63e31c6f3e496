#include "app/RetrievalTab.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/QueryIdentifier.h"
#include "app/ResponseListing.h"
#include "app/RetrievalText.h"
#include "app/StrToInt.h"
#include "app/TFormTestWL.h"
#include "app/VisibleText.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

std::string TimeStamp(TDateTime time) { return FormatDateTime("hh:nn:ss.zzz", time); }

// The end of a retrieval in the result list and the time labels.
void ShowEnd(TFormTestWL& form, const QueryOutcome& outcome) {
    TStrings& lines = form.ListBoxResult.Items;
    lines.Clear();
    for (const std::string& line : RetrievalLines(outcome)) lines.Add(VisibleText(line));
    if (outcome.failure) {
        lines.Add(outcome.failure->ClassName());
        lines.Add(VisibleText(outcome.failure->message));
    }
    form.lblDHReponse.Caption =
        outcome.failure || !outcome.replied ? "Erreur" : TimeStamp(*outcome.replied);
}

// The value of a block's line that starts with `label`, if it is there.
std::optional<std::string> ValueAfter(std::string_view line, std::string_view label) {
    if (line.substr(0, label.size()) != label) return std::nullopt;
    return std::string(line.substr(label.size()));
}

}  // namespace

QueryRequest RetrievalRequestOf(const TFormTestWL& form, QueryService service) {
    const std::optional<QueryLevel> level = LevelOfKind(form.cboRetrieveLevel.Text);
    if (!level || *level == QueryLevel::Worklist)
        throw Exception(ErrorClass::EConvertError,
                        "Niveau de récupération '" + form.cboRetrieveLevel.Text +
                            "' inconnu : patient, study, series ou image est attendu");
    QueryRequest request = form.QueryRequestFromFields(*level);
    request.service = service;
    // Retrieval is DIMSE's whatever transport the query buttons use.
    request.transport = QueryTransport::Dimse;
    request.keepResponses = false;
    RetrievalOptions& options = request.retrieval;
    options.moveDestination = form.EditMoveDest.Text;
    options.storePort = StrToInt(form.EditStorePort.Text);
    options.storeFolder = form.EditStoreFolder.Text;
    options.verify = form.cbVerify.Checked;
    options.storeTls = form.ListenTls;
    options.maxInstanceBytes = form.RetrieveMaxInstanceBytes;
    return request;
}

void RunRetrieval(TFormTestWL& form, QueryService service) {
    const RunState::Scope running(form.Runs());
    form.lblDHDemande.Caption = TimeStamp(Now());
    form.lblDHReponse.Caption.clear();
    TStrings& lines = form.ListBoxResult.Items;
    lines.Clear();
    form.Host().ProcessMessages();
    QueryRequest request;
    try {
        request = RetrievalRequestOf(form, service);
    } catch (const Exception& e) {
        QueryOutcome unsent;
        unsent.failure = QueryFailure::Of(e);
        form.SetLastQuery(unsent);
        ShowEnd(form, form.LastQuery());
        form.Host().QueryListed();
        return;
    }
    // The exchange's thread hands each pending response's line over; the
    // window shows the latest at each of its ticks.
    std::mutex mutex;
    std::optional<std::string> latest;
    const RetrievalHandler onRetrieval = [&](const dicom::RetrieveProgress& progress) {
        std::string line = ProgressLine(progress);
        form.Host().RetrievalProgress(line);
        const std::lock_guard lock(mutex);
        latest = std::move(line);
    };
    const auto tick = [&](int) {
        const std::lock_guard lock(mutex);
        if (!latest) return;
        lines.Clear();
        lines.Add(*latest);
    };
    const std::stop_source stop = form.Runs().QueryStopSource();
    const QueryOutcome& outcome = form.RunQueryBusy(request, BuildIdentifier(request), nullptr,
                                                    stop.get_token(), tick, onRetrieval);
    form.ShowExchange(RetrievalReports(outcome), true);
    if (const std::string more = MoreStoreReportsLine(outcome); !more.empty())
        form.MemoDiagnostic.Lines.Add(more);
    ShowEnd(form, outcome);
    form.Host().QueryListed();
}

void FillKeysFromBlock(TFormTestWL& form) {
    const TStrings& lines = form.ListBoxResult.Items;
    const int count = static_cast<int>(lines.Count());
    const int index = form.ListBoxResult.ItemIndex;
    if (index < 0 || index >= count) return;
    // A block ends with its separator: the separator belongs to the block
    // above it.
    int first = index;
    while (first > 0 && lines[static_cast<std::size_t>(first - 1)] != kSeparator) --first;
    std::optional<std::string> patient, study, series, instance;
    for (int i = first; i < count; ++i) {
        const std::string_view line = lines[static_cast<std::size_t>(i)];
        if (line == kSeparator) break;
        if (auto value = ValueAfter(line, "Dossier: ")) patient = value;
        if (auto value = ValueAfter(line, "StudyUID: ")) study = value;
        if (auto value = ValueAfter(line, "SeriesUID : ")) series = value;
        if (auto value = ValueAfter(line, "InstanceUID : ")) instance = value;
    }
    if (!study) return;
    if (patient) form.EditDossier.Text = *patient;
    form.EditStudyUID.Text = *study;
    form.EditSeriesUID.Text = series.value_or("");
    form.EditSOPInstanceUID.Text = instance.value_or("");
    form.cboRetrieveLevel.Text = instance ? "image" : series ? "series" : "study";
}

}  // namespace lumo::app
