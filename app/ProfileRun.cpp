#include "app/ProfileRun.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/ProfileLevels.h"
#include "app/ProfileNegotiation.h"
#include "app/ProfileSession.h"
#include "app/ProfileWebServices.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

// The timed query takes this many responses, so that it has gaps to measure.
constexpr std::uint32_t kTimedLimit = 20;

constexpr ProfileKey kStudyDate{0x0008, 0x0020, false, "StudyDate"};

double Ms(std::chrono::microseconds value) { return static_cast<double>(value.count()) / 1000.0; }

bool Has(const std::vector<QueryLevel>& levels, QueryLevel level) {
    return std::find(levels.begin(), levels.end(), level) != levels.end();
}

// The phases of one run, into the samples of each.
void AddPhases(const dicom::ExchangeTimes& times, std::vector<std::vector<double>>& samples) {
    const auto add = [&](std::size_t phase, std::optional<std::chrono::microseconds> end,
                         std::optional<std::chrono::microseconds> start) {
        if (end && start) samples[phase].push_back(Ms(*end - *start));
    };
    const std::optional<std::chrono::microseconds> zero = std::chrono::microseconds(0);
    add(0, times.connected, zero);
    add(1, times.tlsEstablished, times.connected);
    add(2, times.accepted, times.tlsEstablished ? times.tlsEstablished : times.connected);
    add(3, times.firstResponse, times.requestSent);
    for (std::chrono::microseconds gap : times.gaps) samples[4].push_back(Ms(gap));
    add(5, times.ended, zero);
}

// The query of the first level offered, cut at a few responses, run
// `repeat` times, each on an association of its own: the time of each
// phase, as median, 95th percentile and worst. At the study level it asks
// the reference study's day: an archive's whole answer, which some nodes
// build entirely before the first response, would make the profile as slow
// as the archive is large, and the discovery already saw that answer.
void ProfileTimings(ProfileSession& session, const std::vector<QueryLevel>& levels, int repeat,
                    const std::optional<dicom::DicomDataSet>& study) {
    const QueryLevel level = Has(levels, QueryLevel::Study)     ? QueryLevel::Study
                             : Has(levels, QueryLevel::Patient) ? QueryLevel::Patient
                                                                : QueryLevel::Worklist;
    const dicom::DicomDataSet identifier = ProfileSession::Identifier(level);
    if (level == QueryLevel::Study && study && !KeyText(*study, kStudyDate).empty())
        SetKey(identifier, kStudyDate, KeyText(*study, kStudyDate));
    const char* phases[] = {"connect", "tls", "association", "first-response", "gap", "end"};
    std::vector<std::vector<double>> samples(std::size(phases));
    std::optional<QueryOutcome> last;
    int runs = 0;
    for (int run = 0; run < repeat; ++run) {
        std::optional<QueryOutcome> outcome = session.Ask(level, identifier, kTimedLimit);
        if (!outcome) break;
        if (!outcome->failure) {
            ++runs;
            AddPhases(outcome->report.times, samples);
        }
        last = std::move(outcome);
    }
    NodeProfile& profile = session.Profile();
    profile.timedRuns = runs;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (!samples[i].empty()) profile.timings.push_back(StatsOf(phases[i], samples[i]));
    ProfileFinding finding = session.Finding(ProfileSection::Timings, "timed-query",
                                             "Requête chronométrée", level, identifier, last);
    finding.verdict = runs == repeat ? "mesurée" : runs > 0 ? "mesurée en partie" : "non mesuré";
    finding.detail = std::to_string(runs) + " essai(s) sur " + std::to_string(repeat) +
                     (session.OverHttp()
                          // An HTTP search has no association, and its answers come in
                          // one body: no gaps between them.
                          ? ", chacun sur sa propre connexion HTTP ; ni association ni écart "
                            "entre réponses en HTTP"
                          : ", chacun sur sa propre association");
    if (!last) finding.detail += " ; " + session.Exhausted();
    session.Add(std::move(finding));
}

}  // namespace

NodeProfile RunProfile(const QueryRequest& base, const ProfileOptions& options,
                       std::stop_token stop, const std::function<void(int)>& progress) {
    ProfileOptions bounds = options;
    bounds.repeat = std::max(bounds.repeat, 1);
    // The runs the operator asked for come on top of the battery's queries.
    bounds.maxQueries += static_cast<std::size_t>(bounds.repeat);
    ProfileSession session(base, bounds, std::move(stop), progress);
    NodeProfile& profile = session.Profile();
    profile.node = base.transport == QueryTransport::DicomWeb
                       ? base.node.dicomWebUrl
                       : base.node.calledAETitle + "@" + base.node.address + ":" +
                             std::to_string(base.node.port);
    profile.started = FormatDateTime("yyyy-mm-dd hh:nn:ss", Now());
    const auto start = std::chrono::steady_clock::now();
    std::vector<QueryLevel> levels;
    switch (base.transport) {
        case QueryTransport::Dimse:
            profile.transport = "DIMSE";
            levels = ProfileNegotiation(session, base.node.Peer());
            break;
        case QueryTransport::DicomWeb:
            profile.transport = "DICOMweb";
            try {
                const dicom::DicomWebService service = base.node.WebService();
                profile.node = service.baseUrl;
                levels = ProfileWebServices(session, service);
            } catch (const Exception& e) {
                profile.failure = e.Message();
            }
            break;
    }
    profile.reached = !levels.empty();
    if (profile.reached) {
        // The battery leaves the timed query's runs their room.
        session.Reserve(static_cast<std::size_t>(bounds.repeat));
        std::optional<dicom::DicomDataSet> study;
        if (Has(levels, QueryLevel::Patient))
            ProfileLevel(session, QueryLevel::Patient, std::nullopt);
        if (Has(levels, QueryLevel::Study)) {
            study = ProfileLevel(session, QueryLevel::Study, std::nullopt);
            const auto series = ProfileLevel(session, QueryLevel::Series, study);
            ProfileLevel(session, QueryLevel::Image, series);
        }
        if (Has(levels, QueryLevel::Worklist))
            ProfileLevel(session, QueryLevel::Worklist, std::nullopt);
        session.Reserve(0);
        ProfileTimings(session, levels, bounds.repeat, study);
        profile.failure = session.CutShortBy();
        // A node that takes the association and then fails every query has
        // not been profiled: no finding stands on an answer.
        const std::string failed = session.EveryQueryFailed();
        if (!failed.empty() && !session.StopToken().stop_requested()) {
            profile.reached = false;
            profile.failure = failed;
        }
    }
    profile.stopped = session.StopToken().stop_requested();
    profile.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return profile;
}

}  // namespace lumo::app
