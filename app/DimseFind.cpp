#include "app/DimseFind.h"

#include <string>
#include <utility>

#include "app/AssociationText.h"
#include "app/VisibleText.h"
#include "logging/uApplicationLogger.h"

namespace lumo::app {

namespace {

constexpr int kResponsesInMemory = 10'000;

// Text a node sent in bytes its character set does not have is listed with
// a mark; the log says which response, once.
void LogUndecodable(const dicom::DicomDataSet& response, int number) {
    const std::string charset = response.DataSetUndecodableCharset();
    if (charset.empty()) return;
    AppLogger().Log("Réponse " + std::to_string(number) +
                        " : texte illisible dans le jeu de caractères \"" + VisibleText(charset) +
                        "\", marqué \uFFFD",
                    LogLevel::Finding, 0);
}

// Text beyond ASCII without a declared character set was read by its bytes;
// the log says how, once per response, so that a wrong guess can be traced.
void LogAssumedCharset(const dicom::DicomDataSet& response, int number) {
    using Assumed = dicom::DicomDataSet::AssumedCharset;
    const char* read = nullptr;
    switch (response.DataSetAssumedCharset()) {
        case Assumed::None:
            return;
        case Assumed::Utf8:
            read = "UTF-8";
            break;
        case Assumed::Latin1:
            read = "Latin-1 (Windows-1252)";
            break;
        case Assumed::Both:
            read = "UTF-8 ou Latin-1 (Windows-1252) selon la valeur";
            break;
    }
    AppLogger().Log("Réponse " + std::to_string(number) +
                        " : jeu de caractères non déclaré (0008,0005), texte lu en " + read,
                    LogLevel::Finding, 0);
}

// The toolkit's wording with the status named ("A700 Out of resources")
// and the Offending Element when the node named one.
std::string StatusFailureText(const dicom::DicomFindResult& result,
                              const dicom::AssociationReport& report) {
    std::string message =
        dicom::FindFailureText(StatusText(result.status), result.peer, result.errorComment);
    for (std::uint32_t tag : report.offendingElements)
        message += " ; Offending Element (0000,0901) : " + TagText(tag);
    return message;
}

}  // namespace

dicom::DicomQuery MakeDicomQuery(const QueryRequest& request) {
    dicom::DicomQuery query;
    query.SetTimeouts(request.node.timeouts);
    query.SetMaxPdu(request.node.maxPdu);
    query.SetTls(request.node.tls);
    query.SetLimits(request.node.limits);
    query.SetKeepResponses(false);
    query.QuerySetCallingAETitle(request.node.callingAETitle);
    query.QuerySetCalledAETitle(request.node.calledAETitle);
    query.QuerySetNodeAddress(request.node.address);
    query.QuerySetNodePort(request.node.port);
    query.QuerySetRoot(request.Root());
    // The C-FIND levels travel in (0008,0052) of the identifier instead.
    if (request.level == QueryLevel::Worklist) query.QuerySetLevel("STUDY");
    return query;
}

QueryOutcome RunDimseFind(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                          const ResponseHandler& onResponse, std::stop_token stop) {
    QueryOutcome outcome;
    outcome.request = request;
    outcome.requested = Now();
    // Held here as they arrive, once, so that a query that fails half-way
    // still shows what it received; beyond the first few thousand, on disk
    // in the bytes they came in (a window may keep a million for its export).
    if (request.keepResponses) outcome.responses.DataSetsKeepOnDiskBeyond(kResponsesInMemory);
    int count = 0;
    const auto take = [&](const dicom::DicomDataSet& response) {
        ++count;
        if (request.keepResponses) outcome.responses.DataSetsAppend(response);
        LogUndecodable(response, count);
        LogAssumedCharset(response, count);
        if (onResponse) onResponse(response, count);
    };
    dicom::DicomQuery query = MakeDicomQuery(request);
    try {
        const dicom::DicomFindResult result = query.QueryFind(identifier, take, std::move(stop));
        outcome.report = query.QueryLastReport();
        outcome.status = result.status;
        if (!result.Completed()) {
            outcome.failure = QueryFailure{ErrorClass::EDicomStatusError,
                                           StatusFailureText(result, outcome.report)};
        } else {
            outcome.replied = Now();
        }
    } catch (const std::exception& e) {
        outcome.report = query.QueryLastReport();
        outcome.failure = QueryFailure::Of(e, outcome.report);
    }
    return outcome;
}

}  // namespace lumo::app
