#include "app/ProfileLevels.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/AssociationText.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "dicom/web/QidoSearch.h"
#include "support/DateTime.h"

namespace lumo::app {

namespace {

using dicom::DicomDataSet;

// A broad query takes this many entries at most, a probe this many answers.
constexpr std::uint32_t kBroadLimit = 500;
constexpr std::uint32_t kProbeLimit = 50;

// What a key holds, for the value that matches nothing.
enum class Kind { Text, Name, Date, Time, Uid, Number };

struct Key {
    ProfileKey tag;
    Kind kind = Kind::Text;

    bool operator==(const Key& other) const {
        return tag.group == other.tag.group && tag.element == other.tag.element &&
               tag.inStep == other.tag.inStep;
    }
};

// clang-format off
constexpr Key kPatientName{{0x0010, 0x0010, false, "PatientName"}, Kind::Name};
constexpr Key kPatientID{{0x0010, 0x0020, false, "PatientID"}, Kind::Text};
constexpr Key kBirthDate{{0x0010, 0x0030, false, "PatientBirthDate"}, Kind::Date};
constexpr Key kStudyDate{{0x0008, 0x0020, false, "StudyDate"}, Kind::Date};
constexpr Key kSeriesDate{{0x0008, 0x0021, false, "SeriesDate"}, Kind::Date};
constexpr Key kStudyTime{{0x0008, 0x0030, false, "StudyTime"}, Kind::Time};
constexpr Key kAccession{{0x0008, 0x0050, false, "AccessionNumber"}, Kind::Text};
constexpr Key kModality{{0x0008, 0x0060, false, "Modality"}, Kind::Text};
constexpr Key kReferring{{0x0008, 0x0090, false, "ReferringPhysicianName"}, Kind::Name};
constexpr Key kSopUid{{0x0008, 0x0018, false, "SOPInstanceUID"}, Kind::Uid};
constexpr Key kStudyUid{{0x0020, 0x000D, false, "StudyInstanceUID"}, Kind::Uid};
constexpr Key kSeriesUid{{0x0020, 0x000E, false, "SeriesInstanceUID"}, Kind::Uid};
constexpr Key kInstanceNumber{{0x0020, 0x0013, false, "InstanceNumber"}, Kind::Number};
constexpr Key kProcedureID{{0x0040, 0x1001, false, "RequestedProcedureID"}, Kind::Text};
constexpr Key kStepModality{{0x0008, 0x0060, true, "ScheduledProcedureStepSequence>Modality"}, Kind::Text};
constexpr Key kStepStation{{0x0040, 0x0001, true, "ScheduledProcedureStepSequence>ScheduledStationAETitle"}, Kind::Text};
constexpr Key kStepDate{{0x0040, 0x0002, true, "ScheduledProcedureStepSequence>ScheduledProcedureStepStartDate"}, Kind::Date};
constexpr Key kStepTime{{0x0040, 0x0003, true, "ScheduledProcedureStepSequence>ScheduledProcedureStepStartTime"}, Kind::Time};
constexpr Key kStepID{{0x0040, 0x0009, true, "ScheduledProcedureStepSequence>ScheduledProcedureStepID"}, Kind::Text};
constexpr ProfileKey kCharset{0x0008, 0x0005, false, "SpecificCharacterSet"};
constexpr ProfileKey kLevel{0x0008, 0x0052, false, "QueryRetrieveLevel"};
constexpr ProfileKey kStudySeries{0x0020, 0x1206, false, "NumberOfStudyRelatedSeries"};
constexpr ProfileKey kSeriesInstances{0x0020, 0x1209, false, "NumberOfSeriesRelatedInstances"};
// clang-format on

// The return key verdict over DICOMweb, where empty and absent read alike.
constexpr const char* kEmptyOrAbsent = "vide ou absent";

// A name no node holds, in letters Latin-1 has no byte for.
constexpr const char* kNonLatinName = "ЖЩΩ*";
// A UID no node holds: a second value in a list of UIDs.
constexpr const char* kNoSuchUid = "2.25.0";

enum class Family {
    Exact,
    Star,
    Question,
    Case,
    Trailing,
    Closed,
    Before,
    After,
    DateTime,
    Combined,
    UidList
};

struct Match {
    Family family;
    Key key;
    Key second{};  // the time of a date-time probe
};

// What a level's battery uses.
struct Plan {
    ProfileSection section = ProfileSection::Study;
    std::vector<Key> parents;      // the unique keys of the levels above, from the parent entry
    Key own;                       // the level's unique key: the reference entry's anchor
    std::optional<Key> alternate;  // the anchor of probes about the own key
    std::vector<Key> identity;     // what tells one entry from another in an answer
    std::vector<Key> ignored;      // keys tried with a value that matches nothing
    std::vector<Match> matches;
    std::optional<Key> name;          // the person name of the character set probes
    std::optional<Key> partition;     // the date that splits a broad answer in two
    std::optional<ProfileKey> count;  // in the parent: how many entries the level holds
    std::vector<Key> asked;           // asked back by the broad query beyond the console's keys
};

std::vector<Match> NameMatches(const Key& name) {
    return {{Family::Star, name}, {Family::Question, name}, {Family::Case, name}};
}

std::vector<Match> DateRanges(const Key& date) {
    return {{Family::Closed, date}, {Family::Before, date}, {Family::After, date}};
}

template <typename T>
void Append(std::vector<T>& to, const std::vector<T>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

Plan PlanOf(QueryLevel level) {
    Plan plan;
    switch (level) {
        case QueryLevel::Patient:
            plan.section = ProfileSection::Patient;
            plan.own = kPatientID;
            plan.identity = {kPatientID};
            plan.ignored = {kPatientName, kBirthDate, kStudyDate};
            plan.matches = NameMatches(kPatientName);
            plan.matches.push_back({Family::Trailing, kPatientID});
            Append(plan.matches, DateRanges(kBirthDate));
            plan.name = kPatientName;
            plan.partition = kBirthDate;
            break;
        case QueryLevel::Study:
            plan.section = ProfileSection::Study;
            plan.own = kStudyUid;
            plan.identity = {kStudyUid};
            plan.ignored = {kStudyDate, kStudyTime,   kAccession, kModality,
                            kReferring, kPatientName, kPatientID, kBirthDate};
            plan.matches = {{Family::Exact, kAccession}, {Family::Exact, kPatientID}};
            Append(plan.matches, NameMatches(kPatientName));
            plan.matches.push_back({Family::Trailing, kAccession});
            Append(plan.matches, DateRanges(kStudyDate));
            plan.matches.push_back({Family::DateTime, kStudyDate, kStudyTime});
            plan.matches.push_back({Family::Combined, kStudyDate, kStudyTime});
            plan.matches.push_back({Family::UidList, kStudyUid});
            plan.name = kPatientName;
            plan.partition = kStudyDate;
            break;
        case QueryLevel::Series:
            plan.section = ProfileSection::Series;
            plan.parents = {kStudyUid};
            plan.own = kSeriesUid;
            plan.identity = {kSeriesUid};
            plan.ignored = {kModality,  kSeriesDate,  kStudyDate, kAccession,
                            kReferring, kPatientName, kPatientID, kBirthDate};
            plan.matches = {{Family::Exact, kModality},
                            {Family::Question, kModality},
                            {Family::Closed, kSeriesDate},
                            {Family::UidList, kSeriesUid}};
            plan.count = kStudySeries;
            break;
        case QueryLevel::Image:
            plan.section = ProfileSection::Image;
            plan.parents = {kStudyUid, kSeriesUid};
            plan.own = kSopUid;
            plan.identity = {kSopUid};
            plan.ignored = {kInstanceNumber, kModality,    kStudyDate, kAccession,
                            kReferring,      kPatientName, kPatientID, kBirthDate};
            plan.matches = {{Family::Exact, kInstanceNumber}, {Family::UidList, kSopUid}};
            plan.count = kSeriesInstances;
            break;
        case QueryLevel::Worklist:
            plan.section = ProfileSection::Worklist;
            plan.own = kAccession;
            plan.alternate = kPatientID;
            plan.identity = {kAccession, kPatientID, kProcedureID, kStepID};
            plan.ignored = {kAccession,   kPatientID, kPatientName, kStepModality,
                            kStepStation, kStepDate,  kStepTime};
            plan.matches = {{Family::Exact, kPatientID}};
            Append(plan.matches, NameMatches(kPatientName));
            plan.matches.push_back({Family::Trailing, kPatientID});
            plan.matches.push_back({Family::Exact, kStepModality});
            plan.matches.push_back({Family::Exact, kStepStation});
            plan.matches.push_back({Family::Exact, kStepDate});
            Append(plan.matches, DateRanges(kStepDate));
            plan.matches.push_back({Family::DateTime, kStepDate, kStepTime});
            plan.name = kPatientName;
            plan.partition = kStepDate;
            plan.asked = {kStepStation, kStepTime};
            break;
    }
    return plan;
}

std::string Name(const Key& key) { return key.tag.name; }

bool IsDate(const std::string& text) {
    return text.size() == 8 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Seconds since midnight of a time ("HHMMSS.frac", "HH:MM:SS", "HHMM"), or
// -1 when it is none.
int Seconds(const std::string& time) {
    std::string digits;
    for (char c : time) {
        if (c == '.') break;
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    }
    if (digits.size() < 2 || digits.size() % 2 == 1) return -1;
    digits.resize(6, '0');
    return std::stoi(digits.substr(0, 2)) * 3600 + std::stoi(digits.substr(2, 2)) * 60 +
           std::stoi(digits.substr(4, 2));
}

std::string TimeText(int seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d%02d%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

// The day after a date "YYYYMMDD", or empty when it is not one.
std::string NextDay(const std::string& date) {
    try {
        TDateTime day = EncodeDate(std::stoi(date.substr(0, 4)), std::stoi(date.substr(4, 2)),
                                   std::stoi(date.substr(6, 2)));
        int year = 0, month = 0, dayOfMonth = 0;
        DecodeDate(day + 1, year, month, dayOfMonth);
        char text[40];
        std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, dayOfMonth);
        return text;
    } catch (const std::exception&) {
        return {};
    }
}

// A value of the key's kind that no entry holds (and `held` is not).
std::string MatchingNothing(const Key& key, const std::string& held) {
    const auto other = [&](const char* a, const char* b) { return held == a ? b : a; };
    switch (key.kind) {
        case Kind::Name:
            return "LUMOZZ^PROFIL";
        case Kind::Date:
            return other("19000102", "19000103");
        case Kind::Time:
            return other("000001", "000002");
        case Kind::Uid:
            return kNoSuchUid;
        case Kind::Number:
            return other("999999", "999998");
        case Kind::Text:
            break;
    }
    return other("LUMOZZ", "LUMOZY");
}

std::string SwappedCase(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::islower(u))
            c = static_cast<char>(std::toupper(u));
        else if (std::isupper(u))
            c = static_cast<char>(std::tolower(u));
    }
    return text;
}

struct FamilyText {
    Family family;
    const char* id;
    const char* title;
};

constexpr FamilyText kFamilies[] = {
    {Family::Exact, "exact", "Valeur exacte sur "},
    {Family::Star, "star", "Joker * sur "},
    {Family::Question, "question", "Joker ? sur "},
    {Family::Case, "case", "Casse des noms sur "},
    {Family::Trailing, "trailing", "Espaces de fin sur "},
    {Family::Closed, "range-closed", "Intervalle de dates fermé sur "},
    {Family::Before, "range-open-start", "Intervalle de dates ouvert au début sur "},
    {Family::After, "range-open-end", "Intervalle de dates ouvert à la fin sur "},
    {Family::DateTime, "date-time-range", "Date et intervalle d'heures sur "},
    {Family::Combined, "date-time-combined", "Date-heure combinée sur "},
    {Family::UidList, "uid-list", "Liste de UID sur "},
};

const FamilyText& TextOf(Family family) {
    return *std::find_if(std::begin(kFamilies), std::end(kFamilies),
                         [&](const FamilyText& f) { return f.family == family; });
}

// The return keys of the console's identifier of a level: its top-level
// attributes and those of its scheduled-step item, each with its name.
struct ReturnKey {
    ProfileKey tag;
    std::string name;
};

std::vector<ReturnKey> ReturnKeysOf(QueryLevel level) {
    std::vector<ReturnKey> keys;
    const auto walk = [&](const DicomDataSet& dataSet, bool inStep) {
        const dicom::DicomAttributes attributes = dataSet.DataSetAttributes();
        for (int i = 1; i <= attributes.AttributesCount(); ++i) {
            const dicom::DicomAttribute attribute = attributes.AttributesItemAt(i);
            const std::uint16_t group = attribute.Group(), element = attribute.Element();
            if (group == 0x0000 || (group == 0x0008 && (element == 0x0005 || element == 0x0052)))
                continue;
            if (group == 0x0040 && element == 0x0100 && !inStep) continue;  // walked below
            const std::string name = attribute.AttributeKeyword();
            keys.push_back({{group, element, inStep, ""},
                            inStep ? "ScheduledProcedureStepSequence>" + name : name});
        }
    };
    const DicomDataSet identifier = ProfileSession::Identifier(level);
    walk(identifier, false);
    if (const std::optional<DicomDataSet> step = StepItem(identifier)) walk(*step, true);
    return keys;
}

// Whether the key holds something: a text, or a sequence with an item.
bool Filled(const DicomDataSet& dataSet, const ProfileKey& key) {
    if (!KeyText(dataSet, key).empty()) return true;
    const std::optional<DicomDataSet> holder = key.inStep ? StepItem(dataSet) : dataSet;
    if (!holder) return false;
    const dicom::Variant value =
        holder->DataSetAttributes().AttributesFind(key.group, key.element).AttributeWideValue();
    return value.GetType() == dicom::Variant::Type::Collection &&
           value.AsCollection().DataSetsCount() > 0;
}

std::vector<DicomDataSet> ResponsesOf(const QueryOutcome& outcome) {
    std::vector<DicomDataSet> responses;
    for (int i = 1; i <= outcome.responses.DataSetsCount(); ++i)
        responses.push_back(outcome.responses.DataSetsItem(i));
    return responses;
}

// One level's battery. Owns the entries found and the reference entry;
// sends its queries through the session. On the session's thread.
class LevelBattery {
  public:
    LevelBattery(ProfileSession& session, QueryLevel level, std::optional<DicomDataSet> parent)
        : session_(session), level_(level), plan_(PlanOf(level)), parent_(std::move(parent)) {}

    std::optional<DicomDataSet> Run();

  private:
    bool Discover();
    void ReturnKeys();
    void AnswerCharsets();
    bool ChooseReference();
    void CheckAnchor();
    void TryIgnored(const Key& key);
    void TryMatch(const Match& match);
    void TryAbsentKeys();
    void TryUtf8Query();
    void TryNonLatinKey();
    void TryCap();
    std::string CapByPartition(int count, std::string& detail);
    std::optional<bool> EscapesRead();

    // The console's identifier of the level with the parents' keys.
    DicomDataSet Base() const;
    // The same with the reference entry's anchor, or, for a probe about the
    // anchor itself, the alternate anchor (or none).
    DicomDataSet Anchored(const Key* about) const;
    bool Holds(const QueryOutcome& outcome) const;
    std::string Identity(const DicomDataSet& dataSet) const;
    std::optional<QueryOutcome> Ask(const DicomDataSet& identifier, std::uint32_t limit) {
        return session_.Ask(level_, identifier, limit);
    }
    void Add(std::string id, std::string title, const DicomDataSet& identifier,
             const std::optional<QueryOutcome>& outcome, std::string verdict,
             std::string detail = {});
    void NotMeasured(std::string id, std::string title, std::string why);
    // The verdict of a query that failed, or empty when it did not.
    static std::string FailureVerdict(const QueryOutcome& outcome);

    ProfileSession& session_;
    const QueryLevel level_;
    const Plan plan_;
    const std::optional<DicomDataSet> parent_;
    DicomDataSet broadIdentifier_;
    std::optional<QueryOutcome> broad_;
    std::vector<DicomDataSet> entries_;
    DicomDataSet reference_;
    bool anchored_ = false;
    std::set<std::string> ignored_;
    bool escapesTried_ = false;
    std::optional<bool> escapesRead_;
};

std::optional<DicomDataSet> LevelBattery::Run() {
    if (!Discover()) return std::nullopt;
    ReturnKeys();
    AnswerCharsets();
    if (!ChooseReference()) return std::nullopt;
    CheckAnchor();
    for (const Key& key : plan_.ignored) TryIgnored(key);
    for (const Match& match : plan_.matches) TryMatch(match);
    TryAbsentKeys();
    if (plan_.name) {
        TryUtf8Query();
        TryNonLatinKey();
    }
    TryCap();
    return reference_;
}

DicomDataSet LevelBattery::Base() const {
    const DicomDataSet identifier = ProfileSession::Identifier(level_);
    for (const Key& key : plan_.parents)
        SetKey(identifier, key.tag, parent_ ? KeyText(*parent_, key.tag) : std::string());
    return identifier;
}

DicomDataSet LevelBattery::Anchored(const Key* about) const {
    const DicomDataSet identifier = Base();
    const Key* anchor = &plan_.own;
    if (about != nullptr && *about == plan_.own)
        anchor = plan_.alternate ? &*plan_.alternate : nullptr;
    if (anchor != nullptr) SetKey(identifier, anchor->tag, KeyText(reference_, anchor->tag));
    return identifier;
}

std::string LevelBattery::Identity(const DicomDataSet& dataSet) const {
    std::string identity;
    for (const Key& key : plan_.identity) identity += KeyText(dataSet, key.tag) + "|";
    return identity;
}

bool LevelBattery::Holds(const QueryOutcome& outcome) const {
    const std::string wanted = Identity(reference_);
    for (int i = 1; i <= outcome.responses.DataSetsCount(); ++i)
        if (Identity(outcome.responses.DataSetsItem(i)) == wanted) return true;
    return false;
}

void LevelBattery::Add(std::string id, std::string title, const DicomDataSet& identifier,
                       const std::optional<QueryOutcome>& outcome, std::string verdict,
                       std::string detail) {
    ProfileFinding finding = session_.Finding(plan_.section, std::move(id), std::move(title),
                                              level_, identifier, outcome);
    finding.verdict = std::move(verdict);
    finding.detail = std::move(detail);
    session_.Add(std::move(finding));
}

void LevelBattery::NotMeasured(std::string id, std::string title, std::string why) {
    ProfileFinding finding;
    finding.section = plan_.section;
    finding.id = std::move(id);
    finding.title = std::move(title);
    finding.verdict = "non mesuré";
    finding.detail = std::move(why);
    session_.Add(std::move(finding));
}

std::string LevelBattery::FailureVerdict(const QueryOutcome& outcome) {
    if (Refused(outcome)) return "refusée";
    if (outcome.failure) return "échec";
    return {};
}

bool LevelBattery::Discover() {
    const char* title = "Entrées trouvées";
    if (!plan_.parents.empty() && !parent_) {
        NotMeasured("entries", title, "pas d'entrée de référence au niveau au-dessus");
        return false;
    }
    broadIdentifier_ = Base();
    for (const Key& key : plan_.asked) SetKey(broadIdentifier_, key.tag, "");
    broad_ = Ask(broadIdentifier_, kBroadLimit);
    if (!broad_) {
        NotMeasured("entries", title, session_.Exhausted());
        return false;
    }
    entries_ = ResponsesOf(*broad_);
    const int count = broad_->ResponseCount();
    if (count == 0) {
        const std::string failed = FailureVerdict(*broad_);
        Add("entries", title, broadIdentifier_, broad_, failed.empty() ? "aucune" : failed);
        return false;
    }
    Add("entries", title, broadIdentifier_, broad_, "trouvées",
        std::to_string(count) + (broad_->CutShort() ? " et plus" : ""));
    return true;
}

void LevelBattery::ReturnKeys() {
    // A QIDO-RS answer comes shaped as the C-FIND response to the query,
    // every key asked in it: one the service left out reads as empty.
    const char* notFilled = session_.OverHttp() ? kEmptyOrAbsent : "vide";
    for (const ReturnKey& key : ReturnKeysOf(level_)) {
        bool present = false, filled = false;
        for (const DicomDataSet& entry : entries_) {
            present = present || KeyPresent(entry, key.tag);
            filled = filled || Filled(entry, key.tag);
        }
        Add("return/" + key.name, "Clé de retour " + key.name, broadIdentifier_, broad_,
            filled    ? "rempli"
            : present ? notFilled
                      : "absent");
    }
}

void LevelBattery::AnswerCharsets() {
    if (session_.OverHttp())
        return NotMeasured("charset/answers", "Jeu de caractères des réponses",
                           "les réponses DICOM JSON sont en UTF-8 par définition");
    std::vector<std::string> seen;
    for (const DicomDataSet& entry : entries_) {
        std::string charset = KeyText(entry, kCharset);
        if (charset.empty()) charset = "aucun";
        if (std::find(seen.begin(), seen.end(), charset) == seen.end()) seen.push_back(charset);
    }
    std::string verdict;
    for (const std::string& charset : seen) verdict += (verdict.empty() ? "" : " / ") + charset;
    Add("charset/answers", "Jeu de caractères des réponses", broadIdentifier_, broad_, verdict);
}

// The entry with the most of the values the battery uses, among those that
// hold the anchor.
bool LevelBattery::ChooseReference() {
    int best = -1;
    for (const DicomDataSet& entry : entries_) {
        if (KeyText(entry, plan_.own.tag).empty()) continue;
        int score = 0;
        for (const Key& key : plan_.ignored) score += !KeyText(entry, key.tag).empty();
        for (const Match& match : plan_.matches) score += !KeyText(entry, match.key.tag).empty();
        if (score > best) {
            best = score;
            reference_ = entry;
        }
    }
    if (best < 0) {
        NotMeasured("reference", "Entrée de référence",
                    "aucune entrée trouvée n'a de " + Name(plan_.own));
        return false;
    }
    return true;
}

void LevelBattery::CheckAnchor() {
    const DicomDataSet identifier = Anchored(nullptr);
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    const std::string title = "Entrée de référence retrouvée par " + Name(plan_.own);
    if (!outcome) return NotMeasured("anchor", title, session_.Exhausted());
    anchored_ = Holds(*outcome);
    const std::string failed = FailureVerdict(*outcome);
    Add("anchor", title, identifier, outcome,
        !failed.empty() ? failed
        : anchored_     ? "conforme"
                        : "non conforme",
        anchored_ ? "" : "l'entrée attendue manque");
}

void LevelBattery::TryIgnored(const Key& key) {
    const std::string id = "ignored/" + Name(key);
    const std::string title = "Clé ignorée ? " + Name(key);
    if (!anchored_)
        return NotMeasured(id, title, "l'entrée de référence n'est pas retrouvée par sa clé");
    const DicomDataSet identifier = Anchored(&key);
    SetKey(identifier, key.tag, MatchingNothing(key, KeyText(reference_, key.tag)));
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    if (!outcome) return NotMeasured(id, title, session_.Exhausted());
    std::string verdict = FailureVerdict(*outcome);
    if (verdict.empty()) verdict = outcome->ResponseCount() > 0 ? "ignorée" : "prise en compte";
    if (verdict == "ignorée") ignored_.insert(Name(key));
    Add(id, title, identifier, outcome, verdict,
        verdict == "ignorée" ? "une valeur qui ne correspond à rien n'a pas vidé la réponse" : "");
}

void LevelBattery::TryMatch(const Match& match) {
    const FamilyText& family = TextOf(match.family);
    const bool paired = match.family == Family::DateTime || match.family == Family::Combined;
    const std::string keys = Name(match.key) + (paired ? " et " + Name(match.second) : "");
    const std::string id = std::string(family.id) + "/" + keys;
    const std::string title = family.title + keys;
    if (!anchored_)
        return NotMeasured(id, title, "l'entrée de référence n'est pas retrouvée par sa clé");
    for (const Key* key : {&match.key, paired ? &match.second : nullptr}) {
        if (key == nullptr) continue;
        if (ignored_.count(Name(*key)) > 0) {
            ProfileFinding finding;
            finding.section = plan_.section;
            finding.id = id;
            finding.title = title;
            finding.verdict = "sans objet";
            finding.detail = Name(*key) + " ignorée par le nœud";
            return session_.Add(std::move(finding));
        }
        if (KeyText(reference_, key->tag).empty())
            return NotMeasured(id, title, "l'entrée de référence n'a pas de " + Name(*key));
    }
    const std::string value = KeyText(reference_, match.key.tag);
    const int seconds = paired ? Seconds(KeyText(reference_, match.second.tag)) : 0;
    std::string key = value, time;
    switch (match.family) {
        case Family::Exact:
            break;
        case Family::Star:
        case Family::Question: {
            if (value.size() < 2) return NotMeasured(id, title, "valeur trop courte : " + value);
            // The middle character, whole: a wildcard in place of one byte of
            // a UTF-8 letter ("MÜLLER") would send text that is no text.
            const auto continuation = [&](std::size_t at) {
                return at < value.size() && (static_cast<unsigned char>(value[at]) & 0xC0) == 0x80;
            };
            std::size_t middle = value.size() / 2;
            while (middle > 0 && continuation(middle)) --middle;
            std::size_t next = middle + 1;
            while (continuation(next)) ++next;
            key = match.family == Family::Star ? value.substr(0, middle) + "*"
                                               : value.substr(0, middle) + "?" + value.substr(next);
            break;
        }
        case Family::Case:
            key = SwappedCase(value);
            if (key == value) return NotMeasured(id, title, "nom sans lettres : " + value);
            break;
        case Family::Trailing:
            key = value + "  ";
            break;
        case Family::Closed:
        case Family::Before:
        case Family::After:
        case Family::DateTime:
        case Family::Combined:
            if (!IsDate(value)) return NotMeasured(id, title, "date illisible : " + value);
            if (paired && seconds < 0) return NotMeasured(id, title, "heure illisible");
            key = match.family == Family::Closed   ? value + "-" + value
                  : match.family == Family::Before ? "-" + value
                  : match.family == Family::After  ? value + "-"
                                                   : value;
            if (match.family == Family::DateTime)
                time = TimeText(std::max(seconds - 60, 0)) + "-" +
                       TimeText(std::min(seconds + 60, 86399));
            if (match.family == Family::Combined) {
                // From the first day at a later time to the entry's day at
                // that later time: the entry is inside only if date and time
                // are read as one.
                if (seconds + 120 > 86399) return NotMeasured(id, title, "heure trop tardive");
                key = "19000101-" + value;
                time = TimeText(seconds + 60) + "-" + TimeText(seconds + 120);
            }
            break;
        case Family::UidList:
            key = value + "\\" + kNoSuchUid;
            break;
    }
    // A service that reads "%5E" as it stands finds nothing by such a key,
    // whatever its matching: that says nothing of the rule probed.
    if (session_.OverHttp() && dicom::TravelsEscaped(key) && EscapesRead() == false)
        return NotMeasured(
            id, title,
            "le service ne décode pas les caractères encodés %XX de l'URL : « " + key + " »");
    const DicomDataSet identifier = Anchored(&match.key);
    SetKey(identifier, match.key.tag, key);
    if (paired) SetKey(identifier, match.second.tag, time);
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    if (!outcome) return NotMeasured(id, title, session_.Exhausted());
    const bool found = Holds(*outcome);
    std::string verdict = FailureVerdict(*outcome), detail;
    if (!verdict.empty()) {
        // The node turned the query down: that is the finding.
    } else if (match.family == Family::Case) {
        verdict = found ? "insensible à la casse" : "sensible à la casse";
    } else if (match.family == Family::Combined) {
        verdict = found ? "combinée" : "séparée";
        detail = found ? "la date et l'heure lues comme un seul instant"
                       : "la date et l'heure appariées chacune à part";
    } else {
        verdict = found ? "conforme" : "non conforme";
        if (!found) detail = "l'entrée attendue manque";
    }
    Add(id, title, identifier, outcome, verdict, detail);
}

// Over DICOMweb, whether the service decodes a value sent with
// percent-escapes: the reference entry asked by its exact name, which holds
// one ("^" most often). Tried once; nullopt when it cannot tell.
std::optional<bool> LevelBattery::EscapesRead() {
    if (escapesTried_) return escapesRead_;
    escapesTried_ = true;
    const char* id = "escapes";
    const char* title = "Caractères encodés %XX dans l'URL";
    const std::string name = plan_.name ? KeyText(reference_, plan_.name->tag) : std::string();
    if (!anchored_ || !dicom::TravelsEscaped(name)) return std::nullopt;
    const DicomDataSet identifier = Anchored(&*plan_.name);
    SetKey(identifier, plan_.name->tag, name);
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    if (!outcome) {
        NotMeasured(id, title, session_.Exhausted());
        return std::nullopt;
    }
    std::string verdict = FailureVerdict(*outcome), detail;
    if (verdict.empty()) {
        escapesRead_ = Holds(*outcome);
        verdict = *escapesRead_ ? "décodés" : "non décodés";
        if (!*escapesRead_) detail = "le nom exact ne retrouve pas l'entrée";
    }
    Add(id, title, identifier, outcome, verdict, detail);
    return escapesRead_;
}

// A query with the anchor alone: what comes back beyond what was asked.
void LevelBattery::TryAbsentKeys() {
    const char* id = "absent-keys";
    const char* title = "Clés absentes de la requête";
    if (session_.OverHttp())
        return NotMeasured(id, title,
                           "la console met chaque réponse QIDO-RS à la forme de la requête : "
                           "une clé non demandée n'en est pas gardée");
    if (!anchored_)
        return NotMeasured(id, title, "l'entrée de référence n'est pas retrouvée par sa clé");
    DicomDataSet identifier;
    if (level_ != QueryLevel::Worklist) SetKey(identifier, kLevel, LevelText(level_));
    for (const Key& key : plan_.parents) SetKey(identifier, key.tag, KeyText(*parent_, key.tag));
    SetKey(identifier, plan_.own.tag, KeyText(reference_, plan_.own.tag));
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    if (!outcome) return NotMeasured(id, title, session_.Exhausted());
    std::string verdict = FailureVerdict(*outcome), extra;
    if (verdict.empty() && outcome->ResponseCount() == 0) verdict = "entrée non trouvée";
    if (verdict.empty()) {
        const dicom::DicomAttributes asked = identifier.DataSetAttributes();
        const dicom::DicomAttributes answered =
            outcome->responses.DataSetsItem(1).DataSetAttributes();
        for (int i = 1; i <= answered.AttributesCount(); ++i) {
            const dicom::DicomAttribute attribute = answered.AttributesItemAt(i);
            const std::uint16_t group = attribute.Group(), element = attribute.Element();
            // What a node may add on its own: its character set, the level,
            // where to retrieve from, the availability, the time zone.
            if (group == 0x0008 && (element == 0x0005 || element == 0x0052 || element == 0x0054 ||
                                    element == 0x0056 || element == 0x0201))
                continue;
            if (asked.AttributesFind(group, element).AttributeIsPresent()) continue;
            extra += (extra.empty() ? "" : ", ") + attribute.AttributeKeyword();
        }
        verdict = extra.empty() ? "seules les clés demandées" : "clés non demandées renvoyées";
    }
    Add(id, title, identifier, outcome, verdict, extra);
}

// The reference entry asked in ISO_IR 192: found, and its name as it was.
void LevelBattery::TryUtf8Query() {
    const char* id = "charset/utf8-query";
    const char* title = "Requête en ISO_IR 192";
    if (session_.OverHttp())
        return NotMeasured(id, title,
                           "une requête QIDO-RS ne déclare pas de jeu de caractères : son URL est "
                           "en UTF-8");
    if (!anchored_)
        return NotMeasured(id, title, "l'entrée de référence n'est pas retrouvée par sa clé");
    const DicomDataSet identifier = Anchored(nullptr);
    SetKey(identifier, kCharset, "ISO_IR 192");
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    if (!outcome) return NotMeasured(id, title, session_.Exhausted());
    std::string verdict = FailureVerdict(*outcome), detail;
    const std::string name = KeyText(reference_, plan_.name->tag);
    if (verdict.empty()) verdict = "entrée non trouvée";
    for (int i = 1; i <= outcome->responses.DataSetsCount() && verdict == "entrée non trouvée";
         ++i) {
        const DicomDataSet response = outcome->responses.DataSetsItem(i);
        if (Identity(response) != Identity(reference_)) continue;
        const std::string answered = KeyText(response, plan_.name->tag);
        std::string charset = KeyText(response, kCharset);
        if (charset.empty()) charset = "aucun";
        verdict = answered == name ? "conforme" : "nom altéré";
        detail = (answered == name ? "« " + name + " » rendu tel quel"
                                   : "« " + name + " » devenu « " + answered + " »") +
                 ", réponse en " + charset;
    }
    Add(id, title, identifier, outcome, verdict, detail);
}

// A name in letters outside Latin-1 that no entry holds: no answer.
void LevelBattery::TryNonLatinKey() {
    const char* id = "charset/non-latin-key";
    const char* title = session_.OverHttp() ? "Clé non latine envoyée en UTF-8 (URL QIDO-RS)"
                                            : "Clé non latine envoyée en ISO_IR 192";
    if (ignored_.count(Name(*plan_.name)) > 0) {
        ProfileFinding finding;
        finding.section = plan_.section;
        finding.id = id;
        finding.title = title;
        finding.verdict = "sans objet";
        finding.detail = Name(*plan_.name) + " ignorée par le nœud";
        return session_.Add(std::move(finding));
    }
    const DicomDataSet identifier = Base();
    SetKey(identifier, plan_.name->tag, kNonLatinName);
    const std::optional<QueryOutcome> outcome = Ask(identifier, kProbeLimit);
    if (!outcome) return NotMeasured(id, title, session_.Exhausted());
    std::string verdict = FailureVerdict(*outcome), detail;
    if (verdict.empty()) verdict = outcome->ResponseCount() == 0 ? "conforme" : "clé mal lue";
    if (verdict == "clé mal lue")
        detail = std::to_string(outcome->ResponseCount()) + " réponses au lieu d'aucune";
    Add(id, title, identifier, outcome, verdict, detail);
}

void LevelBattery::TryCap() {
    const QueryOutcome& outcome = *broad_;
    const int count = outcome.ResponseCount();
    const dicom::AssociationReport& report = outcome.report;
    std::string verdict, detail;
    if (report.truncation) {
        // A QIDO-RS search that could not ask past the service's cut.
        verdict = "limite à " + std::to_string(count) +
                  (report.truncation->warning.empty() ? ", silencieuse" : ", signalée");
        detail = TruncationText(*report.truncation);
    } else if (outcome.CutShort()) {
        verdict = "pas de limite";
        detail = "les " + std::to_string(count) + " premières prises, la suite " +
                 (session_.OverHttp() ? "non demandée" : "annulée");
    } else if ((report.finalStatus && *report.finalStatus != dicom::DimseStatus::Success) ||
               !report.errorComment.empty()) {
        verdict = "limite à " + std::to_string(count) + ", signalée";
        detail = AnswerText(outcome);
    } else if (plan_.count) {
        const std::string held = parent_ ? KeyText(*parent_, *plan_.count) : std::string();
        const bool number =
            !held.empty() &&
            std::all_of(held.begin(), held.end(), [](unsigned char c) { return std::isdigit(c); });
        if (!number)
            return NotMeasured("cap", "Limite de réponses",
                               std::string("le nœud ne donne pas ") + plan_.count->name);
        const int expected = std::stoi(held);
        verdict = count < expected ? "limite à " + std::to_string(count) + ", silencieuse"
                                   : "pas de limite";
        detail = std::to_string(expected) + " annoncées par " + plan_.count->name;
    } else {
        verdict = CapByPartition(count, detail);
        if (verdict.empty()) return NotMeasured("cap", "Limite de réponses", detail);
    }
    // A service that pages its answers cuts nothing: the search asks on.
    if (report.http.size() > 1 && !report.truncation)
        detail += (detail.empty() ? "" : " ; ") + std::string("réponses en ") +
                  std::to_string(report.http.size()) + " pages, la suite demandée par offset";
    Add("cap", "Limite de réponses", broadIdentifier_, broad_, verdict, detail);
}

// Splits the broad answer in two by date: when the halves together hold
// more than the whole, the whole was cut short without a word. Empty, with
// `detail` saying why, when it cannot tell.
std::string LevelBattery::CapByPartition(int count, std::string& detail) {
    const Key& date = *plan_.partition;
    std::vector<std::string> dates;
    for (const DicomDataSet& entry : entries_)
        if (IsDate(KeyText(entry, date.tag))) dates.push_back(KeyText(entry, date.tag));
    if (dates.empty()) {
        detail = "aucune " + Name(date) + " pour partager la réponse";
        return {};
    }
    std::sort(dates.begin(), dates.end());
    const std::string pivot = dates[(dates.size() - 1) / 2];
    const std::string next = NextDay(pivot);
    int halves = 0;
    for (const std::string& range : {"-" + pivot, next + "-"}) {
        const DicomDataSet identifier = Base();
        SetKey(identifier, date.tag, range);
        const std::optional<QueryOutcome> half = Ask(identifier, kBroadLimit);
        if (!half || half->failure || half->CutShort() || next.empty()) {
            detail = half ? "une moitié n'a pas pu être comptée : " + AnswerText(*half)
                          : session_.Exhausted();
            return {};
        }
        halves += half->ResponseCount();
    }
    detail = std::to_string(halves) + " en deux moitiés par " + Name(date) + " (" + pivot +
             " et avant, après)";
    return halves > count ? "limite à " + std::to_string(count) + ", silencieuse" : "pas de limite";
}

}  // namespace

std::optional<DicomDataSet> ProfileLevel(ProfileSession& session, QueryLevel level,
                                         const std::optional<DicomDataSet>& parent) {
    return LevelBattery(session, level, parent).Run();
}

}  // namespace lumo::app
