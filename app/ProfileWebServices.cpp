#include "app/ProfileWebServices.h"

#include <string>
#include <utility>

#include "dicom/web/DicomWebChecks.h"

namespace lumo::app {

namespace {

// "HTTP 200 OK, 1 réponse(s)".
std::string StatusText(const dicom::HttpExchange& exchange) {
    std::string text = "HTTP " + std::to_string(exchange.status) +
                       (exchange.reason.empty() ? "" : " " + exchange.reason);
    if (exchange.answers) text += ", " + std::to_string(*exchange.answers) + " réponse(s)";
    return text;
}

ProfileFinding Finding(ProfileSection section, std::string id, std::string title,
                       std::string verdict, std::string detail = {}) {
    ProfileFinding finding;
    finding.section = section;
    finding.id = std::move(id);
    finding.title = std::move(title);
    finding.verdict = std::move(verdict);
    finding.detail = std::move(detail);
    return finding;
}

void AddAuthentication(ProfileSession& session, const dicom::HttpExchange& asked) {
    std::string verdict = "HTTP " + std::to_string(asked.status), detail;
    if (asked.status >= 200 && asked.status < 300) {
        verdict = "aucune";
    } else if (asked.status == 401 || asked.status == 403) {
        verdict = "demandée";
        detail = asked.authenticate;
    }
    ProfileFinding finding = Finding(ProfileSection::Services, "service/authentication",
                                     "Authentification demandée", verdict, detail);
    finding.query = "GET " + asked.url + " sans identifiants";
    finding.answer = StatusText(asked);
    session.Add(std::move(finding));
}

}  // namespace

std::vector<QueryLevel> ProfileWebServices(ProfileSession& session,
                                           const dicom::DicomWebService& service) {
    NodeProfile& profile = session.Profile();
    const dicom::DicomWebProbeResult probe = dicom::DicomWebProbe(service);
    if (!probe.Reached()) {
        profile.failure = probe.failure;
        return {};
    }
    if (probe.anonymous) AddAuthentication(session, *probe.anonymous);
    std::string studiesFailure;
    for (const dicom::DicomWebProbeResult::Search& search : probe.searches) {
        const bool answered = search.failure.empty() && search.exchange;
        ProfileFinding finding =
            Finding(ProfileSection::Services, "service/qido-" + search.resource,
                    "QIDO-RS " + search.resource, answered ? "accepté" : "refusé");
        if (search.exchange) {
            finding.query = "GET " + search.exchange->url;
            finding.answer = StatusText(*search.exchange);
        }
        if (!answered) finding.detail = search.failure;
        if (!answered && search.resource == "studies") studiesFailure = search.failure;
        session.Add(std::move(finding));
    }
    // What a C-FIND over DIMSE has and a QIDO-RS search has not.
    session.Add(Finding(ProfileSection::Services, "service/patient-root", "Niveau patient",
                        "non mesuré", "pas de niveau patient en QIDO-RS"));
    session.Add(Finding(ProfileSection::Services, "service/worklist", "Worklist", "non mesuré",
                        "pas de worklist en QIDO-RS ; elle s'interroge en DIMSE"));
    session.Add(Finding(ProfileSection::Negotiation, "extended-negotiation",
                        "Options de négociation étendue", "non mesuré",
                        "propre à l'association DIMSE ; QIDO-RS n'en a pas"));
    if (!studiesFailure.empty()) {
        profile.failure = "la recherche QIDO-RS des études échoue : " + studiesFailure;
        return {};
    }
    // The battery reaches series and images under their study
    // (/studies/{uid}/series, .../instances), whatever the searches at the
    // root answered.
    return {QueryLevel::Study, QueryLevel::Series, QueryLevel::Image};
}

}  // namespace lumo::app
