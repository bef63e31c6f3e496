#include "app/ProfileNegotiation.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "app/AssociationText.h"
#include "dicom/net/NodeChecks.h"

namespace lumo::app {

namespace {

using dicom::DicomNegotiation;
using dicom::ExtendedNegotiation;

constexpr const char* kWorklistFind = "1.2.840.10008.5.1.4.31";
constexpr const char* kPatientRootFind = "1.2.840.10008.5.1.4.1.2.1.1";
constexpr const char* kStudyRootFind = "1.2.840.10008.5.1.4.1.2.2.1";

struct Model {
    const char* sopClass;
    const char* name;
    const char* id;
    bool worklist;
};

constexpr Model kModels[] = {
    {kWorklistFind, "Modality Worklist FIND", "worklist", true},
    {kPatientRootFind, "Patient Root FIND", "patient-root", false},
    {kStudyRootFind, "Study Root FIND", "study-root", false},
};

// An option of extended negotiation: its byte in the sub-item (from 0),
// and whether the worklist has it too (there the first two bytes are
// reserved, always 1).
struct Option {
    std::size_t byte;
    const char* id;
    const char* name;
    bool worklist;
};

constexpr Option kOptions[] = {
    {0, "relational", "requêtes relationnelles", false},
    {1, "date-time", "appariement date-heure combiné", false},
    {2, "fuzzy-names", "appariement sémantique flou des noms", true},
    {3, "timezone", "ajustement au fuseau horaire", true},
    {4, "enhanced-multi-frame", "conversion en images multi-trames améliorées", false},
};

std::vector<std::uint8_t> SubItem(const Model& model, const Option& option) {
    std::vector<std::uint8_t> info(option.byte + 1, 0);
    if (model.worklist) info[0] = info[1] = 1;
    info[option.byte] = 1;
    return info;
}

std::string Bytes(const std::vector<std::uint8_t>& info) {
    std::string text = "[";
    for (std::uint8_t byte : info) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += (text.size() > 1 ? " " : "") + std::string(hex);
    }
    return text + "]";
}

bool Accepted(const DicomNegotiation& negotiation, const char* sopClass) {
    for (const dicom::ProposedContext& context : negotiation.report.contexts)
        if (context.abstractSyntax == sopClass && context.Accepted()) return true;
    return false;
}

std::string ProposedText(const std::vector<const Model*>& models) {
    std::string text = "A-ASSOCIATE proposant";
    for (std::size_t i = 0; i < models.size(); ++i)
        text += (i == 0 ? " " : ", ") + std::string(models[i]->name);
    return text;
}

// The services, proposed together; each alone when the node turns the
// whole association down.
std::vector<const Model*> Services(ProfileSession& session, const dicom::DicomPeer& peer) {
    NodeProfile& profile = session.Profile();
    std::vector<std::string> all;
    std::vector<const Model*> everyModel;
    for (const Model& model : kModels) {
        all.push_back(model.sopClass);
        everyModel.push_back(&model);
    }
    ++profile.associations;
    const DicomNegotiation together = dicom::DicomNegotiate(peer, all);
    std::vector<const Model*> accepted;
    if (!together.report.connected) {
        profile.failure = together.failure;
        return accepted;
    }
    for (const Model& model : kModels) {
        DicomNegotiation alone;
        const DicomNegotiation* learnt = &together;
        if (!together.report.accepted) {
            ++profile.associations;
            alone = dicom::DicomNegotiate(peer, {model.sopClass});
            learnt = &alone;
        }
        ProfileFinding finding;
        finding.section = ProfileSection::Services;
        finding.id = std::string("service/") + model.id;
        finding.title = model.name;
        finding.query = ProposedText(learnt == &together ? everyModel : std::vector{&model});
        for (const dicom::ProposedContext& context : learnt->report.contexts) {
            if (context.abstractSyntax != model.sopClass) continue;
            if (context.result != dicom::ContextResult::NotAnswered)
                finding.answer = ContextResultText(context);
        }
        if (Accepted(*learnt, model.sopClass)) {
            finding.verdict = "accepté";
            accepted.push_back(&model);
        } else {
            finding.verdict = "refusé";
            if (finding.answer.empty()) finding.answer = learnt->failure;
        }
        session.Add(std::move(finding));
    }
    if (accepted.empty())
        profile.failure =
            together.failure.empty() ? "aucun service C-FIND accepté" : together.failure;
    return accepted;
}

// One option proposed alone for each accepted model that has it.
void TryOption(ProfileSession& session, const dicom::DicomPeer& peer,
               const std::vector<const Model*>& models, const Option& option) {
    std::vector<const Model*> proposed;
    std::vector<std::string> services;
    std::vector<ExtendedNegotiation> items;
    for (const Model* model : models) {
        if (model->worklist && !option.worklist) continue;
        proposed.push_back(model);
        services.push_back(model->sopClass);
        items.push_back({model->sopClass, SubItem(*model, option)});
    }
    if (proposed.empty()) return;
    ++session.Profile().associations;
    const DicomNegotiation negotiation = dicom::DicomNegotiate(peer, services, items);
    for (const Model* model : proposed) {
        ProfileFinding finding;
        finding.section = ProfileSection::Negotiation;
        finding.id = std::string(model->id) + "/" + option.id;
        finding.title = std::string(model->name) + ", " + option.name;
        finding.query =
            ProposedText(proposed) + " + sous-élément " + Bytes(SubItem(*model, option));
        if (!negotiation.report.accepted) {
            finding.verdict = "association refusée";
            finding.answer = negotiation.failure;
            session.Add(std::move(finding));
            continue;
        }
        finding.verdict = "refusée";
        finding.answer = "aucun sous-élément en retour";
        for (const ExtendedNegotiation& answered : negotiation.report.extendedAccepted) {
            if (answered.sopClass != model->sopClass) continue;
            finding.answer = "sous-élément en retour " + Bytes(answered.info);
            if (answered.info.size() > option.byte && answered.info[option.byte] == 1)
                finding.verdict = "acceptée";
        }
        session.Add(std::move(finding));
    }
}

QueryLevel LevelOf(const Model& model, std::vector<QueryLevel>& more) {
    if (model.worklist) return QueryLevel::Worklist;
    if (std::string(model.sopClass) == kPatientRootFind) return QueryLevel::Patient;
    more = {QueryLevel::Series, QueryLevel::Image};
    return QueryLevel::Study;
}

}  // namespace

std::vector<QueryLevel> ProfileNegotiation(ProfileSession& session, const dicom::DicomPeer& peer) {
    const std::vector<const Model*> models = Services(session, peer);
    for (const Option& option : kOptions) {
        if (!session.Exhausted().empty()) break;
        TryOption(session, peer, models, option);
    }
    std::vector<QueryLevel> levels;
    for (const Model* model : models) {
        std::vector<QueryLevel> more;
        levels.push_back(LevelOf(*model, more));
        levels.insert(levels.end(), more.begin(), more.end());
    }
    return levels;
}

}  // namespace lumo::app
