#include "app/cli/CompareCommand.h"

#include <optional>
#include <string>

#include "app/DicomWebFind.h"
#include "app/LinesFile.h"
#include "app/NodeComparison.h"
#include "app/StrToInt.h"
#include "app/VisibleText.h"

namespace lumo::app {

namespace {

// Node B: node A but for what the options of B say.
QueryNode SecondNode(const QueryNode& first, const CliOptions& options) {
    QueryNode second = first;
    for (const auto& [name, value] : options.secondNode) {
        if (name == "ip2") second.address = value;
        if (name == "port2") second.port = StrToInt(value);
        if (name == "aet2") second.calledAETitle = value;
        if (name == "calling-aet2") second.callingAETitle = value;
        if (name == "dicomweb2") second.dicomWebUrl = value;
    }
    return second;
}

// Node B's transport: DICOMweb with --dicomweb2, DIMSE with an address, port
// or AE title of its own, node A's otherwise.
std::optional<QueryTransport> SecondTransport(const CliOptions& options) {
    std::optional<QueryTransport> transport;
    for (const auto& [name, value] : options.secondNode) {
        if (name == "dicomweb2" && !value.empty()) return QueryTransport::DicomWeb;
        transport = QueryTransport::Dimse;
    }
    return transport;
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
    std::optional<std::string> refusal;
    const bool ran = form.RunHandler([&] {
        const QueryRequest a = form.QueryRequestFromFields(*level);
        const std::optional<QueryTransport> bTransport = SecondTransport(options);
        if (a.transport == QueryTransport::DicomWeb || bTransport == QueryTransport::DicomWeb)
            refusal = DicomWebRefusal(a);
        if (!refusal) run = CompareNodes(a, SecondNode(a.node, options), bTransport);
    });
    if (refusal) {
        Print(err, "lumo4410-cli: " + *refusal);
        return 2;
    }
    if (!ran || !run) return 1;
    const bool failedA = ReportFailure("A", run->a, err);
    const bool failedB = ReportFailure("B", run->b, err);
    if (run->failure) {
        Print(err, run->failure->ClassName());
        Print(err, run->failure->message);
    }
    if (failedA || failedB || !run->Answered()) return 1;
    for (const std::string& line : ComparisonLines(run->comparison)) Print(out, VisibleText(line));
    std::fflush(out);
    if (!options.csvFile.empty() &&
        !form.RunHandler([&] { SaveBytesToFile(options.csvFile, ComparisonCsv(run->comparison)); }))
        return 1;
    return run->comparison.Differs() ? 3 : 0;
}

}  // namespace lumo::app
