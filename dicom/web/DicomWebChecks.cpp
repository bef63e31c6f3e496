#include "dicom/web/DicomWebChecks.h"

#include <chrono>
#include <exception>

#include "dicom/net/DicomQuery.h"
#include "dicom/web/detail/DicomWebFailure.h"
#include "dicom/web/detail/HttpClient.h"

namespace lumo::dicom {

namespace {

constexpr const char* kCommand = "QIDO-RS";

// The one search a check asks: the first answer of `resource`, which must
// come as DICOM JSON.
void AskOne(detail::HttpClient& client, const DicomWebService& service, AssociationReport& report,
            const std::string& resource, bool anonymous) {
    const std::string what = std::string(kCommand) + " to " + service.baseUrl + " failed";
    const std::optional<detail::HttpAnswer> answer = client.Get(
        service.baseUrl + "/" + resource + "?limit=1", DicomLimits().maxResponseBytes, anonymous);
    if (!answer) return;
    if (answer->status < 200 || answer->status >= 300)
        detail::FailOnStatus(*answer, what, service, anonymous ? "" : report.credentials,
                             {"limit"});
    const int count = detail::DicomJsonOf(*answer, what).DataSetsCount();
    report.http.back().answers = count;
}

std::string Described(const std::exception& e) {
    const auto* own = dynamic_cast<const Exception*>(&e);
    return ErrorClassName(own ? own->Class() : ErrorClass::Exception) + std::string(": ") +
           e.what();
}

}  // namespace

bool DicomWebProbeResult::AnySearchAnswered() const {
    for (const Search& search : searches) {
        if (search.failure.empty() && search.exchange) return true;
    }
    return false;
}

void DicomWebEcho(const DicomWebService& service, AssociationReport& report) {
    report.command = kCommand;
    const auto started = std::chrono::steady_clock::now();
    try {
        detail::HttpClient client(service, kCommand, report, {});
        AskOne(client, service, report, "studies", false);
    } catch (...) {
        report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        throw;
    }
    report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
}

DicomWebProbeResult DicomWebProbe(const DicomWebService& service) {
    DicomWebProbeResult result;
    AssociationReport& report = result.report;
    report.command = kCommand;
    const auto started = std::chrono::steady_clock::now();
    try {
        detail::HttpClient client(service, kCommand, report, {});
        try {
            AskOne(client, service, report, "studies", true);
        } catch (const Exception& e) {
            // A status or a body is an answer; no connection is the end.
            if (e.Class() == ErrorClass::EDicomNetworkError) throw;
        }
        if (!report.http.empty()) result.anonymous = report.http.front();
        for (const char* resource : {"studies", "series", "instances"}) {
            DicomWebProbeResult::Search search{resource, std::nullopt, std::string()};
            const std::size_t before = report.http.size();
            try {
                AskOne(client, service, report, resource, false);
            } catch (const std::exception& e) {
                search.failure = Described(e);
            }
            if (report.http.size() > before) search.exchange = report.http.back();
            result.searches.push_back(std::move(search));
        }
    } catch (const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        result.failureClass = own ? own->Class() : ErrorClass::Exception;
        result.failure = e.what();
    }
    report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    return result;
}

}  // namespace lumo::dicom
