#include "dicom/web/detail/DicomWebFailure.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <string_view>

#include "dicom/data/DicomJsonReader.h"
#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

constexpr std::size_t kSummaryCharacters = 200;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// One line of at most kSummaryCharacters characters, cut between two UTF-8
// characters, with what a terminal or a list would act on blanked.
std::string OneLine(std::string_view text) {
    std::string line;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool starts = (byte & 0xC0) != 0x80;
        if (starts && ++characters > kSummaryCharacters) {
            line += "…";
            break;
        }
        line += byte < 0x20 || byte == 0x7F ? ' ' : text[i];
    }
    const std::size_t first = line.find_first_not_of(' ');
    const std::size_t last = line.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

std::string HtmlTitle(std::string_view body) {
    const std::string lower = Lower(body.substr(0, std::min<std::size_t>(body.size(), 64 * 1024)));
    const std::size_t open = lower.find("<title");
    if (open == std::string::npos) return {};
    const std::size_t start = lower.find('>', open);
    const std::size_t end = lower.find("</title", open);
    if (start == std::string::npos || end == std::string::npos || end < start) return {};
    return OneLine(body.substr(start + 1, end - start - 1));
}

// The message of a JSON error body ({"Message": ..., "Details": ...} as
// Orthanc writes it, or {"error": ...}).
std::string JsonMessage(std::string_view body) {
    const nlohmann::json parsed = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (!parsed.is_object()) return {};
    for (const char* key : {"Details", "Message", "message", "error_description", "error"}) {
        const auto found = parsed.find(key);
        if (found != parsed.end() && found->is_string() && !found->get<std::string>().empty())
            return OneLine(found->get<std::string>());
    }
    return {};
}

std::string MediaType(const std::string& contentType) {
    return Lower(contentType.substr(0, contentType.find(';')));
}

bool IsJson(const std::string& contentType) {
    const std::string type = MediaType(contentType);
    return type.empty() || type == "application/json" || type.ends_with("+json");
}

std::string Asked(const HttpAnswer& answer) {
    return answer.authenticate.empty() ? "it names none (no WWW-Authenticate)"
                                       : "it asks for " + answer.authenticate;
}

// What the operator can do about the status.
std::string Advice(const HttpAnswer& answer, const DicomWebService& service,
                   const std::string& credentials, const std::vector<std::string>& parameters,
                   const std::string& summary) {
    const int status = answer.status;
    if (status == 401) {
        if (credentials.empty())
            return std::string("the service requires authentication (") + Asked(answer) +
                   "): give the user with --http-user and the password in " +
                   kHttpPasswordVariable + ", or a bearer token in " + kHttpTokenVariable;
        if (!service.httpUser.empty())
            return "the service refuses the user " + service.httpUser + " with the password of " +
                   kHttpPasswordVariable + " (" + Asked(answer) + ")";
        return std::string("the service refuses the bearer token of ") + kHttpTokenVariable + " (" +
               Asked(answer) + ")";
    }
    if (status == 403)
        return "the service forbids this request to " +
               (credentials.empty() ? std::string("a caller without credentials")
                                    : "the credentials shown, " + credentials);
    if (status == 404)
        return "is " + service.baseUrl +
               " the service's DICOMweb root? (the URL its /studies hangs from; for Orthanc "
               "http://host:8042/dicom-web)";
    if (status == 400) {
        for (const std::string& name : parameters) {
            if (!name.empty() && summary.find(name) != std::string::npos)
                return "the service refused the parameter " + name;
        }
        return "the service refused the request";
    }
    if (status >= 300 && status < 400 && !answer.location.empty())
        return "the service sends to " + answer.location + ": give that URL instead";
    if (status >= 500) return "the service failed to answer";
    return {};
}

}  // namespace

std::string BodySummary(const HttpAnswer& answer) {
    const std::string_view body = answer.body;
    const std::string type = MediaType(answer.contentType);
    if (type.find("html") != std::string::npos || body.find("<html") != std::string_view::npos ||
        body.find("<HTML") != std::string_view::npos) {
        if (std::string title = HtmlTitle(body); !title.empty()) return title;
    }
    if (IsJson(answer.contentType) && !body.empty()) {
        if (std::string message = JsonMessage(body); !message.empty()) return message;
    }
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t end = std::min(body.find('\n', start), body.size());
        const std::string line = OneLine(body.substr(start, end - start));
        if (!line.empty()) return line;
        start = end + 1;
    }
    return {};
}

void FailOnStatus(const HttpAnswer& answer, const std::string& what, const DicomWebService& service,
                  const std::string& credentials, const std::vector<std::string>& parameters) {
    const std::string summary = BodySummary(answer);
    std::string message = what + ": HTTP " + std::to_string(answer.status) +
                          (answer.reason.empty() ? "" : " " + answer.reason);
    if (const std::string advice = Advice(answer, service, credentials, parameters, summary);
        !advice.empty())
        message += "; " + advice;
    if (!summary.empty()) message += "; the service says: " + summary;
    throw Exception(ErrorClass::EDicomStatusError, message);
}

DicomDataSets DicomJsonOf(const HttpAnswer& answer, const std::string& what) {
    if (answer.status == 204 || answer.body.empty()) return DicomDataSets();
    if (!IsJson(answer.contentType)) {
        const std::string summary = BodySummary(answer);
        throw Exception(ErrorClass::EDicomError, what + ": the answer is not DICOM JSON but " +
                                                     MediaType(answer.contentType) +
                                                     (summary.empty() ? "" : " (" + summary + ")"));
    }
    try {
        return DataSetsOfJson(answer.body);
    } catch (const Exception& e) {
        std::string why = e.Message();
        const std::string prefix = "Cannot read DICOM JSON: ";
        if (why.rfind(prefix, 0) == 0) why.erase(0, prefix.size());
        throw Exception(ErrorClass::EDicomError, what + ": the answer is not DICOM JSON: " + why);
    }
}

}  // namespace lumo::dicom::detail
