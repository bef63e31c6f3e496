#include "app/NodeProfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

#include "support/Exception.h"

namespace lumo::app {

namespace {

using nlohmann::json;

constexpr const char* kFormat = "lumo4410-profile/1";

struct SectionName {
    ProfileSection section;
    const char* key;    // in the JSON file
    const char* title;  // as the heading says it
};

constexpr SectionName kSections[] = {
    {ProfileSection::Services, "services", "Services"},
    {ProfileSection::Negotiation, "negotiation", "Négociation étendue"},
    {ProfileSection::Patient, "patient", "Patient"},
    {ProfileSection::Study, "study", "Étude"},
    {ProfileSection::Series, "series", "Série"},
    {ProfileSection::Image, "image", "Image"},
    {ProfileSection::Worklist, "worklist", "Worklist"},
    {ProfileSection::Timings, "timings", "Temps"},
};

const SectionName& NameOf(ProfileSection section) {
    for (const SectionName& name : kSections)
        if (name.section == section) return name;
    return kSections[0];
}

struct PhaseName {
    const char* phase;
    const char* title;
};

constexpr PhaseName kPhases[] = {
    {"connect", "Connexion TCP"},
    {"tls", "Poignée de main TLS"},
    {"association", "Association acceptée"},
    {"first-response", "Première réponse"},
    {"gap", "Écart entre réponses"},
    {"end", "Échange complet"},
};

const char* PhaseTitle(const std::string& phase) {
    for (const PhaseName& name : kPhases)
        if (phase == name.phase) return name.title;
    return "?";
}

// "12,3 ms": French decimals.
std::string Milliseconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", value);
    std::string out = text;
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

std::string FindingLine(const ProfileFinding& finding) {
    std::string line = finding.title + " : " + finding.verdict;
    if (!finding.detail.empty()) line += " (" + finding.detail + ")";
    if (!finding.query.empty()) line += " — " + finding.query;
    if (!finding.answer.empty()) line += " → " + finding.answer;
    return line;
}

void AddIdentifier(std::vector<std::string>& lines, const ProfileFinding& finding) {
    for (const std::string& attribute : finding.identifier) lines.push_back("    " + attribute);
}

bool IsReturnKey(const ProfileFinding& finding) { return finding.id.rfind("return/", 0) == 0; }

// The return keys of a section on three lines: filled, empty, absent; over
// DICOMweb, where the last two read alike, on two.
void AddReturnKeys(std::vector<std::string>& lines, const std::vector<const ProfileFinding*>& keys,
                   bool verbose) {
    if (keys.empty()) return;
    enum class Shown { Always, Apart, Merged };
    const struct {
        const char* verdict;
        const char* title;
        Shown shown;
    } groups[] = {{"rempli", "Clés de retour remplies", Shown::Always},
                  {"vide", "Clés de retour vides", Shown::Apart},
                  {"absent", "Clés de retour absentes", Shown::Apart},
                  {"vide ou absent", "Clés de retour vides ou absentes", Shown::Merged}};
    const bool merged = std::any_of(keys.begin(), keys.end(), [](const ProfileFinding* key) {
        return key->verdict == "vide ou absent";
    });
    for (const auto& group : groups) {
        if (group.shown == (merged ? Shown::Apart : Shown::Merged)) continue;
        std::string names;
        for (const ProfileFinding* key : keys) {
            if (key->verdict != group.verdict) continue;
            if (!names.empty()) names += ", ";
            names += key->id.substr(7);
        }
        if (names.empty()) names = "aucune";
        lines.push_back(std::string(group.title) + " : " + names + " — " + keys.front()->query);
    }
    if (verbose) AddIdentifier(lines, *keys.front());
}

json FindingJson(const ProfileFinding& finding) {
    return {{"section", NameOf(finding.section).key},
            {"id", finding.id},
            {"title", finding.title},
            {"verdict", finding.verdict},
            {"detail", finding.detail},
            {"query", finding.query},
            {"answer", finding.answer}};
}

[[noreturn]] void NotAProfile(const std::string& why) {
    throw Exception(ErrorClass::EConvertError, "Profil illisible : " + why);
}

std::string Text(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

ProfileFinding FindingOf(const json& object) {
    if (!object.is_object()) NotAProfile("un constat n'est pas un objet");
    ProfileFinding finding;
    const std::string section = Text(object, "section");
    const auto* name = std::find_if(std::begin(kSections), std::end(kSections),
                                    [&](const SectionName& s) { return section == s.key; });
    if (name == std::end(kSections)) NotAProfile("section inconnue « " + section + " »");
    finding.section = name->section;
    finding.id = Text(object, "id");
    if (finding.id.empty()) NotAProfile("un constat sans id");
    finding.title = Text(object, "title");
    finding.verdict = Text(object, "verdict");
    finding.detail = Text(object, "detail");
    finding.query = Text(object, "query");
    finding.answer = Text(object, "answer");
    return finding;
}

std::string Quoted(const std::string& verdict) { return "« " + verdict + " »"; }

}  // namespace

PhaseStats StatsOf(std::string phase, std::vector<double> values) {
    PhaseStats stats;
    stats.phase = std::move(phase);
    stats.samples = static_cast<int>(values.size());
    if (values.empty()) return stats;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    stats.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
    stats.p95 = values[std::max<std::size_t>(rank, 1) - 1];
    stats.worst = values.back();
    return stats;
}

const ProfileFinding* NodeProfile::Find(ProfileSection section, const std::string& id) const {
    for (const ProfileFinding& finding : findings)
        if (finding.section == section && finding.id == id) return &finding;
    return nullptr;
}

std::vector<std::string> ProfileLines(const NodeProfile& profile, bool verbose) {
    std::vector<std::string> lines;
    std::string head = "Profil de " + profile.node + " (" + profile.transport + ", " +
                       profile.started + ") : " + std::to_string(profile.queries) + " requêtes, ";
    // DICOMweb negotiates nothing.
    if (profile.transport != "DICOMweb")
        head += std::to_string(profile.associations) + " associations de négociation, ";
    head += Milliseconds(profile.seconds * 1000);
    lines.push_back(head);
    if (!profile.failure.empty())
        lines.push_back((profile.reached ? "Profil incomplet : " : "Profil impossible : ") +
                        profile.failure);
    for (const SectionName& section : kSections) {
        std::vector<const ProfileFinding*> returnKeys;
        std::vector<const ProfileFinding*> shown;
        for (const ProfileFinding& finding : profile.findings) {
            if (finding.section != section.section) continue;
            (IsReturnKey(finding) ? returnKeys : shown).push_back(&finding);
        }
        const bool timings = section.section == ProfileSection::Timings && profile.timedRuns > 0;
        if (shown.empty() && returnKeys.empty() && !timings) continue;
        lines.push_back(std::string("== ") + section.title + " ==");
        for (const ProfileFinding* finding : shown) {
            lines.push_back(FindingLine(*finding));
            if (verbose) AddIdentifier(lines, *finding);
        }
        AddReturnKeys(lines, returnKeys, verbose);
        if (!timings) continue;
        for (const PhaseStats& stats : profile.timings) {
            lines.push_back(std::string(PhaseTitle(stats.phase)) + " : médiane " +
                            Milliseconds(stats.median) + ", 95e centile " +
                            Milliseconds(stats.p95) + ", pire " + Milliseconds(stats.worst) + " (" +
                            std::to_string(stats.samples) + " mesures sur " +
                            std::to_string(profile.timedRuns) + " essais)");
        }
    }
    return lines;
}

std::string ProfileJson(const NodeProfile& profile) {
    json findings = json::array();
    for (const ProfileFinding& finding : profile.findings) findings.push_back(FindingJson(finding));
    json timings = json::array();
    for (const PhaseStats& stats : profile.timings)
        timings.push_back({{"phase", stats.phase},
                           {"samples", stats.samples},
                           {"median", stats.median},
                           {"p95", stats.p95},
                           {"worst", stats.worst}});
    const json root = {{"format", kFormat},
                       {"node", profile.node},
                       {"transport", profile.transport},
                       {"started", profile.started},
                       {"queries", profile.queries},
                       {"associations", profile.associations},
                       {"seconds", profile.seconds},
                       {"reached", profile.reached},
                       {"failure", profile.failure},
                       {"timedRuns", profile.timedRuns},
                       {"timings", timings},
                       {"findings", findings}};
    return root.dump(2) + "\n";
}

NodeProfile ProfileFromJson(const std::string& text) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded()) NotAProfile("ce n'est pas du JSON");
    if (!root.is_object() || Text(root, "format") != kFormat)
        NotAProfile(std::string("format attendu « ") + kFormat + " »");
    NodeProfile profile;
    profile.node = Text(root, "node");
    profile.transport = Text(root, "transport");
    profile.started = Text(root, "started");
    profile.failure = Text(root, "failure");
    profile.queries = root.value("queries", 0);
    profile.associations = root.value("associations", 0);
    profile.seconds = root.value("seconds", 0.0);
    profile.reached = root.value("reached", false);
    profile.timedRuns = root.value("timedRuns", 0);
    const json findings = root.value("findings", json::array());
    const json timings = root.value("timings", json::array());
    if (!findings.is_array() || !timings.is_array()) NotAProfile("findings ou timings mal formés");
    for (const json& finding : findings) profile.findings.push_back(FindingOf(finding));
    for (const json& phase : timings) {
        if (!phase.is_object()) NotAProfile("une phase n'est pas un objet");
        PhaseStats stats;
        stats.phase = Text(phase, "phase");
        stats.samples = phase.value("samples", 0);
        stats.median = phase.value("median", 0.0);
        stats.p95 = phase.value("p95", 0.0);
        stats.worst = phase.value("worst", 0.0);
        profile.timings.push_back(std::move(stats));
    }
    return profile;
}

std::vector<std::string> ProfileChanges(const NodeProfile& before, const NodeProfile& now) {
    std::vector<std::string> lines;
    const auto where = [](const ProfileFinding& f) {
        return std::string("[") + NameOf(f.section).title + "] " + f.title;
    };
    for (const ProfileFinding& old : before.findings) {
        const ProfileFinding* current = now.Find(old.section, old.id);
        if (current == nullptr) {
            lines.push_back(where(old) + " : " + Quoted(old.verdict) + " → plus mesuré");
        } else if (current->verdict != old.verdict) {
            std::string line =
                where(old) + " : " + Quoted(old.verdict) + " → " + Quoted(current->verdict);
            if (!current->detail.empty()) line += " (" + current->detail + ")";
            if (!current->query.empty()) line += " — " + current->query;
            lines.push_back(line);
        }
    }
    for (const ProfileFinding& current : now.findings) {
        if (before.Find(current.section, current.id) == nullptr)
            lines.push_back(where(current) + " : nouveau, " + Quoted(current.verdict));
    }
    for (const PhaseStats& old : before.timings) {
        for (const PhaseStats& current : now.timings) {
            if (current.phase != old.phase || current.samples == 0 || old.samples == 0) continue;
            if (current.median >= 2 * old.median && current.median - old.median >= 50)
                lines.push_back(std::string("[Temps] ") + PhaseTitle(old.phase) +
                                " plus lente : médiane " + Milliseconds(old.median) + " → " +
                                Milliseconds(current.median));
        }
    }
    return lines;
}

}  // namespace lumo::app
