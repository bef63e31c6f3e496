#include "app/cli/CompareCommand.h"

#include <optional>
#include <string>

#include "app/LinesFile.h"
#include "app/NodeComparison.h"
#include "app/StrToInt.h"
#include "app/VisibleText.h"

namespace lumo::app {

namespace {

// Node B: node A but for what the options of B say (--node2's first).
QueryNode SecondNode(const QueryNode& first, const CliOptions& options) {
    QueryNode second = first;
    if (options.secondTls) second.tls = TlsOfSettings(*options.secondTls);
    for (const auto& [name, value] : options.secondNode) {
        if (name == "ip2") second.address = value;
        if (name == "port2") second.port = StrToInt(value);
        if (name == "aet2") second.calledAETitle = value;
        if (name == "calling-aet2") second.callingAETitle = value;
    }
    return second;
}

void Print(std::FILE* file, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
}

// The two-line report of a query that failed, named after its node.
bool ReportFailure(const char* node, const QueryOutcome& outcome, std::FILE* err) {
    if (!outcome.failure) return false;
    Print(err, std::string("Noeud ") + node + " : " + outcome.failure->ClassName());
    Print(err, VisibleText(outcome.failure->message));
    return true;
}

}  // namespace

int RunCompareCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out,
                      std::FILE* err) {
    const std::optional<QueryLevel> level = LevelOfKind(options.compareKind);
    if (!level) {
        Print(err, "lumo4410-cli: unknown kind of query '" + options.compareKind +
                       "' (worklist, patient, study, series or image)");
        return 2;
    }
    std::optional<ComparisonRun> run;
    const bool ran = form.RunHandler([&] {
        const QueryRequest a = form.QueryRequestFromFields(*level);
        const QueryNode b = SecondNode(a.node, options);
        const RunState::Scope running(form.Runs());
        run = CompareNodes(a, b, form.Runs().QueryStopSource().get_token());
    });
    if (!ran || !run) return 1;
    if (run->stopped) {
        Print(err, "Comparaison interrompue");
        return 1;
    }
    const bool failedA = ReportFailure("A", run->a, err);
    const bool failedB = ReportFailure("B", run->b, err);
    if (failedA || failedB || !run->Answered()) return 1;
    for (const std::string& line : ComparisonLines(run->comparison)) Print(out, VisibleText(line));
    std::fflush(out);
    if (!options.csvFile.empty() &&
        !form.RunHandler([&] { SaveBytesToFile(options.csvFile, ComparisonCsv(run->comparison)); }))
        return 1;
    return run->comparison.Differs() ? 3 : 0;
}

}  // namespace lumo::app
