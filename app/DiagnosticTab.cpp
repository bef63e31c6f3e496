#include "app/DiagnosticTab.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Diagnostics.h"
#include "app/NodeComparison.h"
#include "app/ProfileRun.h"
#include "app/ResponseExport.h"
#include "app/StrToInt.h"
#include "app/TFormTestWL.h"
#include "app/VisibleText.h"
#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

void ListLines(TStrings& list, const std::vector<std::string>& lines) {
    list.Clear();
    for (const std::string& line : lines) list.Add(line);
}

// The node of the fields, by the transport chosen: its DICOM peer, or its
// DICOMweb service. A field that holds no valid value is listed as a failed
// query's is, and nothing is sent.
struct NodeOfFields {
    std::optional<dicom::DicomPeer> peer;
    std::optional<dicom::DicomWebService> service;
};
std::optional<NodeOfFields> CheckedNodeOfFields(const TFormTestWL& form, TStrings& list) {
    try {
        const QueryRequest request = form.QueryRequestFromFields(QueryLevel::Study);
        if (request.transport == QueryTransport::DicomWeb)
            return NodeOfFields{std::nullopt, request.node.WebService()};
        return NodeOfFields{request.node.Peer(), std::nullopt};
    } catch (const Exception& e) {
        ListLines(list, {e.ClassName(), e.Message()});
        return std::nullopt;
    }
}

// The second node: the first one's address, port and AE title where its
// fields are left empty. A second node given by any of them is a DICOM
// node; without, it is the first one's, by its transport.
QueryNode SecondNode(const TFormTestWL& form, QueryNode node) {
    if (!form.EditIP2.Text.empty()) node.address = form.EditIP2.Text;
    if (!form.EditPort2.Text.empty()) node.port = StrToInt(form.EditPort2.Text);
    if (!form.EditAETitle2.Text.empty()) node.calledAETitle = form.EditAETitle2.Text;
    return node;
}

std::optional<QueryTransport> SecondTransport(const TFormTestWL& form) {
    if (form.EditIP2.Text.empty() && form.EditPort2.Text.empty() && form.EditAETitle2.Text.empty())
        return std::nullopt;
    return QueryTransport::Dimse;
}

std::vector<std::string> ComparisonRunLines(const ComparisonRun& run) {
    if (run.stopped) return {"Comparaison interrompue"};
    std::vector<std::string> lines;
    for (const auto& [node, outcome] : {std::pair{"A", &run.a}, std::pair{"B", &run.b}}) {
        if (!outcome->failure) continue;
        lines.push_back(std::string("Noeud ") + node + " : " + outcome->failure->ClassName());
        lines.push_back(VisibleText(outcome->failure->message));
    }
    if (run.failure) {
        lines.push_back(run.failure->ClassName());
        lines.push_back(run.failure->message);
    }
    if (lines.empty()) {
        for (const std::string& line : ComparisonLines(run.comparison))
            lines.push_back(VisibleText(line));
    }
    return lines;
}

// Runs `work` as a query runs: the inputs disabled and "Arrêter" enabled
// meanwhile, the window alive, and a stop asked for passed to `work`
// through its token.
void RunStoppable(TFormTestWL& form, const std::function<void(std::stop_token)>& work) {
    const RunState::Scope running(form.Runs());
    const std::stop_source stop = form.Runs().QueryStopSource();
    form.Host().ProcessMessages();
    form.Host().RunBusy([&] { work(stop.get_token()); }, [] {});
}

}  // namespace

bool EchoNode(TFormTestWL& form) {
    const std::optional<NodeOfFields> node = CheckedNodeOfFields(form, form.ListBoxResult.Items);
    if (!node) return false;
    form.ListBoxResult.Items.Clear();
    EchoOutcome outcome;
    // An HTTP check ends within its timeouts; "Arrêter" stops a DIMSE one at once.
    RunStoppable(form, [&](std::stop_token stop) {
        outcome = node->service ? RunEcho(*node->service) : RunEcho(*node->peer, std::move(stop));
    });
    ListLines(form.ListBoxResult.Items, EchoLines(outcome));
    form.ShowExchange({outcome.report}, true);
    return outcome.Succeeded();
}

bool ProbeNode(TFormTestWL& form) {
    const std::optional<NodeOfFields> node = CheckedNodeOfFields(form, form.ListBoxResult.Items);
    if (!node) return false;
    form.ListBoxResult.Items.Clear();
    if (node->service) {
        dicom::DicomWebProbeResult probe;
        RunStoppable(form, [&](std::stop_token) { probe = dicom::DicomWebProbe(*node->service); });
        ListLines(form.ListBoxResult.Items, ProbeLines(probe));
        form.ShowExchange({probe.report}, true);
        return probe.Reached() && probe.AnySearchAnswered();
    }
    dicom::DicomProbeResult probe;
    RunStoppable(form, [&](std::stop_token stop) {
        probe = dicom::DicomProbe(*node->peer, std::move(stop));
    });
    ListLines(form.ListBoxResult.Items, ProbeLines(probe));
    form.ShowExchange(probe.reports, true);
    return probe.Reached() && probe.AnyAccepted();
}

std::optional<NodeProfile> ProfileNode(TFormTestWL& form, int repeat, bool verbose) {
    TStrings& list = form.ListBoxResult.Items;
    QueryRequest request;
    try {
        request = form.QueryRequestFromFields(QueryLevel::Study);
    } catch (const Exception& e) {
        ListLines(list, {e.ClassName(), e.Message()});
        return std::nullopt;
    }
    const RunState::Scope running(form.Runs());
    list.Clear();
    form.Host().ProcessMessages();
    const std::stop_source stop = form.Runs().QueryStopSource();
    ProfileOptions options;
    options.repeat = repeat;
    std::atomic<int> sent{0};
    NodeProfile profile;
    form.Host().RunBusy(
        [&] {
            profile = RunProfile(request, options, stop.get_token(), [&](int queries) {
                sent.store(queries, std::memory_order_relaxed);
            });
        },
        [&] {
            ListLines(list, {"Profil en cours : " +
                             std::to_string(sent.load(std::memory_order_relaxed)) + " requêtes"});
            form.Host().Changed();
        });
    std::vector<std::string> lines = ProfileLines(profile, verbose);
    for (std::string& line : lines) line = VisibleText(line);
    ListLines(list, lines);
    AppLogger().Log(lines.front(), LogLevel::Startup, 0);
    return profile;
}

void ExportLastResponses(TFormTestWL& form) {
    FormHost& host = form.Host();
    const dicom::DicomDataSets& responses = form.LastQuery().responses;
    if (responses.DataSetsCount() == 0) {
        host.ShowMessage(ApplicationTitle(), "Aucune réponse à exporter", MessageKind::Error);
        return;
    }
    const std::optional<std::string> file = host.ChooseSaveFile("reponses.json");
    if (!file) return;
    const std::string extension = std::filesystem::path(*file).extension().string();
    if (extension == ".json") {
        ExportResponsesJson(*file, responses);
    } else if (extension == ".csv") {
        ExportResponsesCsv(*file, responses);
    } else {
        host.ShowMessage(ApplicationTitle(),
                         "Choisissez un fichier .json (DICOM JSON) ou .csv : " + *file,
                         MessageKind::Error);
    }
}

void CompareWithSecondNode(TFormTestWL& form) {
    TStrings& list = form.ListBoxResult.Items;
    const std::optional<QueryLevel> level = LevelOfKind(form.cboCompareKind.Text);
    if (!level) {
        ListLines(list, {"EConvertError",
                         "Type de requête inconnu : '" + form.cboCompareKind.Text + "'"});
        return;
    }
    std::optional<QueryRequest> a;
    QueryNode b;
    try {
        a = form.QueryRequestFromFields(*level);
        b = SecondNode(form, a->node);
    } catch (const Exception& e) {
        ListLines(list, {e.ClassName(), e.Message()});
        return;
    }
    list.Clear();
    ComparisonRun run;
    RunStoppable(form, [&](std::stop_token stop) {
        run = CompareNodes(*a, b, SecondTransport(form), {}, std::move(stop));
    });
    ListLines(list, ComparisonRunLines(run));
    form.ShowExchange({run.a.report, run.b.report}, true);
}

void CopyExchangeReport(TFormTestWL& form) {
    std::string text;
    for (const std::string_view line : form.MemoDiagnostic.Lines) {
        text.append(line);
        text += '\n';
    }
    form.Host().CopyText(text);
}

}  // namespace lumo::app
