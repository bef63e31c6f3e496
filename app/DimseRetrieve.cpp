#include "app/DimseRetrieve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <memory>
#include <utility>

#include "app/AssociationText.h"
#include "app/DimseFind.h"
#include "app/RetrievalText.h"
#include "dicom/data/AttributeTextView.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/Variant.h"
#include "dicom/listener/StorageReceiver.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

using dicom::DicomDataSet;

constexpr std::uint32_t kPatientId = 0x00100020;
constexpr std::uint32_t kStudyUid = 0x0020000D;
constexpr std::uint32_t kSeriesUid = 0x0020000E;
constexpr std::uint32_t kSopUid = 0x00080018;
constexpr std::uint32_t kSopClass = 0x00080016;
constexpr std::uint32_t kStudyInstances = 0x00201208;
constexpr std::uint32_t kSopClassesInStudy = 0x00080062;

// A C-FIND identifier: the level, then each tag with its value (empty: a
// return key).
DicomDataSet Identifier(const char* level,
                        const std::vector<std::pair<std::uint32_t, std::string>>& keys) {
    DicomDataSet identifier;
    dicom::DicomAttributes attributes = identifier.DataSetAttributes();
    attributes.AttributesAdd(0x0008, 0x0052, dicom::Variant(std::string(level)));
    for (const auto& [tag, value] : keys)
        attributes.AttributesAdd(static_cast<std::uint16_t>(tag >> 16),
                                 static_cast<std::uint16_t>(tag & 0xFFFF), dicom::Variant(value));
    return identifier;
}

std::string TextOf(const DicomDataSet& response, std::uint32_t tag) {
    std::string scratch;
    const std::optional<std::string_view> text =
        dicom::AttributeText(response, static_cast<std::uint16_t>(tag >> 16),
                             static_cast<std::uint16_t>(tag & 0xFFFF), scratch);
    return text ? std::string(*text) : std::string();
}

void AddClass(std::vector<std::string>& classes, const std::string& uid) {
    if (!uid.empty() && std::find(classes.begin(), classes.end(), uid) == classes.end())
        classes.push_back(uid);
}

// The C-FIND side of the census, on an association of its own or on the
// retrieval's: each response handed on; a failure status or a failed
// exchange raises, in words.
class CensusFinds {
  public:
    CensusFinds(const QueryRequest& request, std::stop_token stop)
        : find_([request = OnItsOwn(request), stop = std::move(stop)](
                    const DicomDataSet& identifier,
                    const std::function<void(const DicomDataSet&)>& onResponse) {
              dicom::DicomQuery query = MakeDicomQuery(request);
              return query.QueryFind(identifier, onResponse, stop);
          }) {}
    explicit CensusFinds(dicom::CensusFind find) : find_(std::move(find)) {}

    std::vector<DicomDataSet> Find(const DicomDataSet& identifier) {
        std::vector<DicomDataSet> responses;
        Find(identifier, [&](const DicomDataSet& response) { responses.push_back(response); });
        return responses;
    }

    void Find(const DicomDataSet& identifier,
              const std::function<void(const DicomDataSet&)>& onResponse) {
        const dicom::DicomFindResult result = find_(identifier, onResponse);
        if (result.cancel != dicom::CancelReason::None || result.cutOff)
            throw Exception(ErrorClass::EDicomError, "C-FIND de comptage interrompu");
        if (!result.Completed())
            throw Exception(ErrorClass::EDicomStatusError, result.FailureText());
    }

    // The images of a series (or of those instances), counted, their classes
    // noted as each answer comes: none is kept, whatever their number.
    void Images(const std::string& study, const std::string& series, const std::string& sops,
                InstanceCensus& census) {
        census.count = census.count.value_or(0);
        Find(Identifier(
                 "IMAGE",
                 {{kSopClass, ""}, {kSopUid, sops}, {kStudyUid, study}, {kSeriesUid, series}}),
             [&](const DicomDataSet& image) {
                 ++*census.count;
                 AddClass(census.sopClasses, TextOf(image, kSopClass));
             });
    }

    // The series of a study, each walked down to its images.
    void Series(const std::string& study, InstanceCensus& census) {
        for (const DicomDataSet& series :
             Find(Identifier("SERIES", {{kStudyUid, study}, {kSeriesUid, ""}})))
            Images(study, TextOf(series, kSeriesUid), "", census);
    }

  private:
    // Study Root for every census query; every answer taken.
    static QueryRequest OnItsOwn(QueryRequest request) {
        request.service = QueryService::Find;
        request.level = QueryLevel::Study;
        request.node.limits.maxResults = 0;
        return request;
    }

    dicom::CensusFind find_;
};

// The studies asked for, by their count and classes when the node gives
// both for each. Else walked down to their images when the count is needed
// (a check asked for); without, the classes stay unknown (a C-GET then
// proposes its broad list), as walking a large study costs more than the
// retrieval itself.
void Studies(CensusFinds& finds, const QueryRequest& request, bool needCount,
             InstanceCensus& census) {
    const bool patient = request.level == QueryLevel::Patient;
    const std::vector<DicomDataSet> studies =
        finds.Find(Identifier("STUDY", {{kSopClassesInStudy, ""},
                                        {kPatientId, patient ? request.keys.patientId : ""},
                                        {kStudyUid, patient ? "" : request.keys.studyUid},
                                        {kStudyInstances, ""}}));
    std::uint64_t count = 0;
    std::vector<std::string> classes;
    bool told = true;
    for (const DicomDataSet& study : studies) {
        const std::string number = TextOf(study, kStudyInstances);
        const std::vector<std::string> inStudy = UidList(TextOf(study, kSopClassesInStudy));
        std::uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
            (value > 0 && inStudy.empty())) {
            told = false;
            break;
        }
        count += value;
        for (const std::string& uid : inStudy) AddClass(classes, uid);
    }
    if (told) {
        census.count = count;
        census.sopClasses = std::move(classes);
        return;
    }
    if (!needCount) return;
    census.count = 0;
    for (const DicomDataSet& study : studies) finds.Series(TextOf(study, kStudyUid), census);
}

// The node's address as a connection from it shows it: a name resolved to
// its first IPv4 address.
std::string Ipv4Of(const std::string& host) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) == 1) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return host;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, ::freeaddrinfo);
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    return text;
}

std::string ServiceWord(QueryService service) {
    return service == QueryService::Move ? "C-MOVE" : "C-GET";
}

std::string KindWord(QueryLevel level) {
    static const char* const kWords[] = {"worklist", "patient", "study", "series", "image"};
    return kWords[static_cast<int>(level)];
}

// Why the request cannot go out, before anything is sent; empty when it can.
std::string Unfit(const QueryRequest& request) {
    const std::string what = ServiceWord(request.service) + " " + KindWord(request.level);
    if (request.level == QueryLevel::Worklist)
        return "Récupération impossible au niveau worklist : patient, study, series ou image";
    if (const std::string missing = MissingRetrieveKey(request); !missing.empty())
        return what + " : " + missing + " manquant";
    if (request.service == QueryService::Move &&
        (request.retrieval.storePort < 1 || request.retrieval.storePort > 65535))
        return what + " : port de réception " + std::to_string(request.retrieval.storePort) +
               " hors de 1 à 65535";
    return {};
}

}  // namespace

std::vector<std::string> UidList(const std::string& text) {
    std::vector<std::string> uids;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\\', at), text.size());
        std::string uid = text.substr(at, end - at);
        uid.erase(0, uid.find_first_not_of(' '));
        uid.erase(uid.find_last_not_of(" \0", std::string::npos, 2) + 1);
        if (!uid.empty()) uids.push_back(std::move(uid));
        at = end + 1;
    }
    return uids;
}

dicom::RetrieveKeys RetrieveKeysOf(const QueryRequest& request) {
    dicom::RetrieveKeys keys;
    keys.level = LevelText(request.level);
    keys.patientId = request.keys.patientId;
    if (request.level == QueryLevel::Patient) return keys;
    keys.studyUids = UidList(request.keys.studyUid);
    if (request.level == QueryLevel::Study) return keys;
    keys.seriesUids = UidList(request.keys.seriesUid);
    if (request.level == QueryLevel::Series) return keys;
    keys.sopUids = UidList(request.keys.sopInstanceUid);
    return keys;
}

std::string MissingRetrieveKey(const QueryRequest& request) {
    const QueryKeys& keys = request.keys;
    switch (request.level) {
        case QueryLevel::Patient:
            return keys.patientId.empty() ? "Dossier" : "";
        case QueryLevel::Image:
            if (UidList(keys.sopInstanceUid).empty()) return "SOP Instance UID";
            [[fallthrough]];
        case QueryLevel::Series:
            if (UidList(keys.seriesUid).empty()) return "SeriesUID";
            [[fallthrough]];
        default:
            return UidList(keys.studyUid).empty() ? "StudyUID" : "";
    }
}

namespace {

InstanceCensus TakeCensus(const QueryRequest& request, CensusFinds& finds) {
    InstanceCensus census;
    try {
        const dicom::RetrieveKeys keys = RetrieveKeysOf(request);
        switch (request.level) {
            case QueryLevel::Image:
            case QueryLevel::Series:
                for (const std::string& study : keys.studyUids)
                    finds.Images(
                        study, request.keys.seriesUid,
                        request.level == QueryLevel::Image ? request.keys.sopInstanceUid : "",
                        census);
                break;
            default:
                Studies(finds, request, request.retrieval.verify, census);
        }
    } catch (const std::exception& e) {
        // Classes noted before the failure are not all of them: proposing
        // only those would refuse the rest.
        census.count.reset();
        census.sopClasses.clear();
        census.failure = ExceptionClassName(e) + ": " + e.what();
    }
    return census;
}

}  // namespace

InstanceCensus TakeInstanceCensus(const QueryRequest& request, std::stop_token stop) {
    CensusFinds finds(request, std::move(stop));
    return TakeCensus(request, finds);
}

QueryOutcome RunDimseRetrieve(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                              const RetrievalHandler& onRetrieval, std::stop_token stop) {
    QueryOutcome outcome;
    outcome.request = request;
    outcome.requested = Now();
    RetrievalOutcome& part = outcome.retrieval.emplace();
    const bool move = request.service == QueryService::Move;
    const RetrievalOptions& options = request.retrieval;
    part.moveDestination =
        options.moveDestination.empty() ? request.node.callingAETitle : options.moveDestination;
    std::optional<dicom::ReceivedInstances> received;
    std::optional<dicom::StorageReceiver> receiver;
    try {
        if (const std::string unfit = Unfit(request); !unfit.empty())
            throw Exception(ErrorClass::EConvertError, unfit);
        // A C-GET's census goes on the C-GET's association (RetrieveRequest::census).
        InstanceCensus census;
        if (move && options.verify) census = TakeInstanceCensus(request, stop);
        received.emplace(dicom::ReceivedInstances::Settings{
            RetrieveKeysOf(request), options.storeFolder, options.maxInstanceBytes,
            move ? part.moveDestination : std::string(), move ? Ipv4Of(request.node.address) : ""});
        if (move) {
            dicom::StorageReceiverSettings settings;
            settings.associationSeconds = static_cast<int>(
                std::chrono::ceil<std::chrono::seconds>(request.node.timeouts.association).count());
            settings.messageSeconds = static_cast<int>(
                std::chrono::ceil<std::chrono::seconds>(request.node.timeouts.response).count());
            settings.tls = options.storeTls;
            receiver.emplace(*received, settings);
            receiver->Listen(options.storePort);
            part.storePort = receiver->Port();
        }
        dicom::RetrieveRequest retrieve;
        retrieve.service = move ? dicom::RetrieveService::Move : dicom::RetrieveService::Get;
        retrieve.root = request.level == QueryLevel::Patient ? "PATIENT" : "STUDY";
        retrieve.moveDestination = part.moveDestination;
        if (!move) {
            census.failure = "C-FIND de comptage non fait";
            retrieve.census = [&](const dicom::CensusFind& find) {
                CensusFinds finds(find);
                census = TakeCensus(request, finds);
                return census.sopClasses;
            };
        }
        retrieve.maxResponseBytes = request.node.limits.maxResponseBytes;
        const auto noteExpected = [&] {
            if (!options.verify) return;
            part.expected = census.count;
            part.expectedFailure = census.failure;
        };
        try {
            dicom::Retrieve(request.node.Peer(), retrieve, identifier, *received, part.result,
                            outcome.report, onRetrieval, std::move(stop));
        } catch (...) {
            noteExpected();
            throw;
        }
        noteExpected();
    } catch (const std::exception& e) {
        outcome.failure = QueryFailure::Of(e, outcome.report);
    }
    if (receiver) receiver->Stop();
    if (received) part.received = received->Tally();
    part.localAddress = outcome.report.localAddress;
    const dicom::RetrieveResult& result = part.result;
    outcome.status = result.status;
    if (outcome.failure) return outcome;
    const bool stopped = outcome.report.cancel != dicom::CancelReason::None;
    if (result.finalReceived && result.status != dicom::DimseStatus::Success && !stopped) {
        std::string message = dicom::RetrieveFailureText(
            move ? dicom::RetrieveService::Move : dicom::RetrieveService::Get,
            RetrieveStatusText(result.status), result.peer, result.errorComment);
        for (std::uint32_t tag : result.offendingElements)
            message += " ; Offending Element (0000,0901) : " + TagText(tag);
        outcome.failure = QueryFailure{ErrorClass::EDicomStatusError, message};
    } else {
        outcome.replied = Now();
    }
    return outcome;
}

}  // namespace lumo::app
