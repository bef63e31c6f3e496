#include "dicom/web/QidoSearch.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmtkVr.h"
#include "dicom/web/detail/DicomWebFailure.h"
#include "dicom/web/detail/HttpClient.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace {

using detail::Element;
using detail::MakeTag;
using Clock = std::chrono::steady_clock;

constexpr const char* kCommand = "QIDO-RS";
constexpr std::uint32_t kSpecificCharacterSet = MakeTag(0x0008, 0x0005);
constexpr std::uint32_t kQueryRetrieveLevel = MakeTag(0x0008, 0x0052);
constexpr std::uint32_t kStudyUid = MakeTag(0x0020, 0x000D);
constexpr std::uint32_t kSeriesUid = MakeTag(0x0020, 0x000E);
constexpr std::uint32_t kSopInstanceUid = MakeTag(0x0008, 0x0018);

// One search as the identifier asks it.
struct Search {
    std::string level;     // "STUDY", "SERIES" or "IMAGE"
    std::string resource;  // "studies", "studies/{uid}/series", ...
    std::vector<std::pair<std::string, std::string>> parameters;
    std::vector<std::uint32_t> asked;  // the identifier's keys, in tag order
    std::uint32_t uniqueKey = kStudyUid;
};

std::string TextOf(const DicomDataSet::Impl& identifier, std::uint32_t tag) {
    const Element* element = identifier.Find(tag);
    const std::string* text = element != nullptr ? element->Text() : nullptr;
    return text != nullptr ? *text : std::string();
}

// A key that names one UID, which the path then carries.
bool IsOneUid(const std::string& text) {
    return !text.empty() && text.find_first_of("\\*?, ") == std::string::npos;
}

// The parameter name of a tag: its keyword, or its 8 hexadecimal digits.
std::string NameOf(const DicomDataSet& identifier, std::uint32_t tag) {
    std::string keyword = DicomAttribute(identifier, tag).AttributeKeyword();
    if (!keyword.empty() && keyword.front() != '(') return keyword;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", tag);
    return hex;
}

Search SearchOf(const DicomDataSet& identifier) {
    const DicomDataSet::Impl& impl = *identifier.GetImpl();
    Search search;
    std::string level = TextOf(impl, kQueryRetrieveLevel);
    level.erase(level.find_last_not_of(' ') + 1);
    search.level = level;
    const std::string study = TextOf(impl, kStudyUid);
    const std::string series = TextOf(impl, kSeriesUid);
    std::vector<std::uint32_t> inPath;
    if (level == "STUDY") {
        search.resource = "studies";
    } else if (level == "SERIES") {
        search.uniqueKey = kSeriesUid;
        search.resource = "series";
        if (IsOneUid(study)) {
            search.resource = "studies/" + study + "/series";
            inPath.push_back(kStudyUid);
        }
    } else if (level == "IMAGE") {
        search.uniqueKey = kSopInstanceUid;
        search.resource = "instances";
        if (IsOneUid(study)) {
            inPath.push_back(kStudyUid);
            search.resource = "studies/" + study + "/instances";
            if (IsOneUid(series)) {
                inPath.push_back(kSeriesUid);
                search.resource = "studies/" + study + "/series/" + series + "/instances";
            }
        }
    } else {
        throw Exception(ErrorClass::EDicomError,
                        std::string(kCommand) + " has no search at level " +
                            (level.empty() ? std::string("(none)") : level) +
                            ": only STUDY, SERIES and IMAGE");
    }
    for (const Element& element : impl.elements) {
        if (detail::TagGroup(element.tag) == 0x0000) continue;  // the command's, not a key
        search.asked.push_back(element.tag);
        if (element.tag == kSpecificCharacterSet || element.tag == kQueryRetrieveLevel) continue;
        if (std::find(inPath.begin(), inPath.end(), element.tag) != inPath.end()) continue;
        const std::string name = NameOf(identifier, element.tag);
        const std::string* text = element.Text();
        if (text == nullptr || text->empty()) {
            search.parameters.emplace_back("includefield", name);
            continue;
        }
        std::string value = *text;
        // A list of UIDs: backslashes in C-FIND, commas in QIDO-RS.
        if (element.vr == detail::MakeVr("UI")) std::replace(value.begin(), value.end(), '\\', ',');
        search.parameters.emplace_back(name, std::move(value));
    }
    return search;
}

bool AsItIs(char c) { return c == '*' || c == '?' || c == ','; }

// A matching value in the query: wildcards and the commas of a UID list as
// they are (a query may hold them, and a service that does not decode its
// parameters, as Orthanc 1.10's, reads %2A as no wildcard), the rest
// percent-encoded.
std::string ValueInQuery(const std::string& value) {
    std::string encoded;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size() && !AsItIs(value[i])) continue;
        encoded += detail::UrlEncoded(std::string_view(value).substr(start, i - start));
        if (i < value.size()) encoded += value[i];
        start = i + 1;
    }
    return encoded;
}

std::string UrlOf(const std::string& base, const Search& search, int limit, std::size_t offset) {
    std::string url = base + "/" + search.resource + "?";
    for (const auto& [name, value] : search.parameters)
        url += detail::UrlEncoded(name) + "=" + ValueInQuery(value) + "&";
    url += "fuzzymatching=false&limit=" + std::to_string(limit);
    if (offset > 0) url += "&offset=" + std::to_string(offset);
    return url;
}

// The answer as the C-FIND response to the identifier.
DicomDataSet Shaped(const DicomDataSet& answer, const Search& search) {
    const DicomDataSet::Impl& given = *answer.GetImpl();
    DicomDataSet shaped;
    DicomDataSet::Impl& impl = *shaped.GetImpl();
    impl.elements.reserve(search.asked.size());
    for (const std::uint32_t tag : search.asked) {
        if (const Element* found = given.Find(tag)) {
            impl.elements.push_back(*found);
            continue;
        }
        Element empty;
        empty.tag = tag;
        empty.vr = detail::DictionaryVr(tag);
        empty.value = std::string();
        if (empty.vr == detail::MakeVr("SQ")) empty.value = DicomDataSets();
        impl.elements.push_back(std::move(empty));
    }
    impl.Put(Element{kSpecificCharacterSet, detail::MakeVr("CS"), std::string("ISO_IR 192")});
    impl.Put(Element{kQueryRetrieveLevel, detail::MakeVr("CS"), search.level});
    return shaped;
}

std::size_t Times(std::size_t bytes, int answers) {
    const auto count = static_cast<std::size_t>(std::max(answers, 1));
    return bytes > std::numeric_limits<std::size_t>::max() / count
               ? std::numeric_limits<std::size_t>::max()
               : bytes * count;
}

// The report's duration, however the search ends.
struct Timed {
    AssociationReport& report;
    Clock::time_point started = Clock::now();
    ~Timed() {
        report.duration =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    }
};

// The end of the search in the report's times, however it ends.
struct Ended {
    AssociationReport& report;
    const detail::HttpClient& client;
    ~Ended() { report.times.ended = client.Elapsed(); }
};

}  // namespace

bool TravelsEscaped(std::string_view value) {
    for (const char c : value)  // a UID list's backslashes travel as commas
        if (!AsItIs(c) && c != '\\' && detail::UrlEncoded(std::string_view(&c, 1)).size() > 1)
            return true;
    return false;
}

void QidoFind(const DicomWebService& service, const DicomLimits& limits,
              const DicomDataSet& identifier,
              const std::function<void(const DicomDataSet& response)>& onResponse,
              std::stop_token stop, AssociationReport& report) {
    report.command = kCommand;
    const Timed timed{report};
    const Search search = SearchOf(identifier);
    detail::HttpClient client(service, kCommand, report, stop);
    const Ended ended{report, client};
    const std::string what = std::string(kCommand) + " to " + service.baseUrl + " failed";
    std::vector<std::string> names{"limit", "offset", "fuzzymatching"};
    for (const auto& [name, value] : search.parameters)
        names.push_back(name == "includefield" ? value : name);

    const std::uint32_t most = limits.maxResults;
    std::uint32_t taken = 0;
    std::size_t offset = 0;
    int pageSize = kQidoPageAnswers;
    std::string firstKey;
    for (;;) {
        const int limit = most > 0 ? static_cast<int>(std::min<std::uint32_t>(
                                         most - taken, static_cast<std::uint32_t>(pageSize)))
                                   : pageSize;
        const std::optional<detail::HttpAnswer> answer = client.Get(
            UrlOf(service.baseUrl, search, limit, offset), Times(limits.maxResponseBytes, limit));
        if (!answer) {
            report.cancel = CancelReason::Stop;
            return;
        }
        if (answer->status < 200 || answer->status >= 300)
            detail::FailOnStatus(*answer, what, service, report.credentials, names);
        const DicomDataSets page = detail::DicomJsonOf(*answer, what);
        const int count = page.DataSetsCount();
        report.http.back().answers = count;
        const bool warned = answer->warning.find("299") != std::string::npos;
        const auto keyOf = [&](int index) {
            const Element* key = page.DataSetsItem(index).GetImpl()->Find(search.uniqueKey);
            return key != nullptr && key->Text() != nullptr ? *key->Text() : std::string();
        };
        // A service that does not read offset sends its first page again.
        if (offset > 0 && count > 0 && keyOf(1) == firstKey) {
            report.truncation =
                AssociationReport::Truncation{static_cast<int>(taken), true, answer->warning};
            return;
        }
        if (offset == 0 && count > 0) firstKey = keyOf(1);
        for (int i = 1; i <= count && (most == 0 || taken < most); ++i) {
            if (stop.stop_requested()) {
                report.cancel = CancelReason::Stop;
                return;
            }
            const DicomDataSet response = Shaped(page.DataSetsItem(i), search);
            ++taken;
            report.responses = static_cast<int>(taken);
            if (onResponse) onResponse(response);
        }
        if (most > 0 && taken >= most) {
            report.cancel = CancelReason::Limit;
            return;
        }
        if (count == 0 && warned) {
            report.truncation =
                AssociationReport::Truncation{static_cast<int>(taken), false, answer->warning};
            return;
        }
        // The end: a page short of its limit without a warning, or a service
        // that sent more than asked (it does not read limit: it sent all).
        if (count == 0 || count > limit || (!warned && count < limit)) return;
        if (count < limit) pageSize = count;  // the service's own page, as it warned
        offset += static_cast<std::size_t>(count);
    }
}

}  // namespace lumo::dicom
