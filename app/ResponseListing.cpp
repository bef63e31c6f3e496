#include "app/ResponseListing.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "app/VisibleText.h"
#include "dicom/DicomAttributes.h"
#include "dicom/DicomDataSets.h"
#include "dicom/Variant.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;
using dicom::DicomAttributes;
using dicom::DicomDataSets;
using dicom::Variant;

// The text of one top-level attribute of a response: absent and empty both
// give the empty text. A control character a node put in a value is shown,
// never passed on to the list, a terminal or a file.
std::string Text(const DicomAttributes& attributes, std::uint16_t group, std::uint16_t element) {
    return VisibleText(dicom::VarToStr(attributes.AttributesFind(group, element).AttributeValue()));
}

// One labelled line, built in a single allocation: a listing of a hundred
// thousand responses makes well over a million of them.
std::string Labelled(std::string_view label, const std::string& value) {
    std::string line;
    line.reserve(label.size() + value.size());
    line.append(label).append(value);
    return line;
}

struct LabelledTag {
    const char* label;
    std::uint16_t group;
    std::uint16_t element;
};

template <std::size_t N>
void AddLines(TStrings& lines, const DicomAttributes& attributes, const LabelledTag (&table)[N]) {
    for (const LabelledTag& line : table)
        lines.Add(Labelled(line.label, Text(attributes, line.group, line.element)));
}

// The first line of every block.
std::string HeaderLine(std::string accession, const std::string& patientId,
                       const std::string& seriesDescription) {
    accession.append("     ").append(patientId).append("   ").append(seriesDescription);
    return accession;
}

// Where a worklist answer's values are read: the top level, where the
// standard puts most of them, and, for what is absent there, the first
// scheduled step (its modality, its step ID), where some nodes put more.
class WorklistEntry {
  public:
    explicit WorklistEntry(const DicomAttributes& top) : top_(top) {
        const Variant steps = top.AttributesFind(0x0040, 0x0100).AttributeValue();
        if (steps.GetType() == Variant::Type::Collection &&
            steps.AsCollection().DataSetsCount() > 0)
            step_ = steps.AsCollection().DataSetsItem(1).DataSetAttributes();
    }

    std::string Text(std::uint16_t group, std::uint16_t element) const {
        if (step_ && !top_.AttributesFind(group, element).AttributeIsPresent())
            return app::Text(*step_, group, element);
        return app::Text(top_, group, element);
    }

  private:
    const DicomAttributes& top_;
    std::optional<DicomAttributes> step_;
};

// The lines of each kind, after the header line, in order.
constexpr LabelledTag kWorklistLines[] = {
    {"0020,0010 ", 0x0020, 0x0010},
    {"", 0x0020, 0x000D},
    {"Référant ", 0x0008, 0x0090},
    {"Study Description 0008, $1030", 0x0008, 0x1030},
    {"Study Description 0032, $1060", 0x0032, 0x1060},
    {"Code d'acte $0040,$0009", 0x0040, 0x0009},
    {"Code d'acte $0040,$1001", 0x0040, 0x1001},
    {"Code d'acte $0040,$0253", 0x0040, 0x0253},
    {"Modalité ", 0x0008, 0x0060},
};
constexpr LabelledTag kCFindLines[] = {
    {"Patient: ", 0x0010, 0x0010},     {"Dossier: ", 0x0010, 0x0020},
    {"Naissance: ", 0x0010, 0x0030},   {"Study Date: ", 0x0008, 0x0020},
    {"Study Time: ", 0x0008, 0x0030},  {"Visite: ", 0x0008, 0x0050},
    {"StudyUID: ", 0x0020, 0x000D},    {"Referant: ", 0x0008, 0x0090},
    {"Institution: ", 0x0008, 0x0080},
};
constexpr LabelledTag kStudyLines[] = {
    {"Nb Series : ", 0x0020, 0x1206},
    {"Nb Instances : ", 0x0020, 0x1208},
    {"Modalite : ", 0x0008, 0x0060},
};
constexpr LabelledTag kSeriesLines[] = {
    {"SeriesUID : ", 0x0020, 0x000E},  {"Nb Instances : ", 0x0020, 0x1209},
    {"Series Nbr : ", 0x0020, 0x0011}, {"Series Desc : ", 0x0008, 0x103E},
    {"Modalite : ", 0x0008, 0x0060},
};
constexpr LabelledTag kImageLines[] = {
    {"SeriesUID : ", 0x0020, 0x000E},
    {"InstanceUID : ", 0x0008, 0x0018},
    {"SOPClass : ", 0x0008, 0x0016},
    {"InstanceNumber : ", 0x0020, 0x0013},
};

void ListWorklistLines(TStrings& lines, const DicomAttributes& attributes) {
    const WorklistEntry entry(attributes);
    lines.Add(HeaderLine(entry.Text(0x0008, 0x0050), entry.Text(0x0010, 0x0020),
                         entry.Text(0x0008, 0x103E)));
    for (const LabelledTag& line : kWorklistLines)
        lines.Add(Labelled(line.label, entry.Text(line.group, line.element)));
    lines.Add("Requested Code d'acte $0008,$0100 " +
              SequenceValueByName(attributes.AttributesFind(0x0032, 0x1064), "Code Value"));
    lines.Add("Scheduled Code d'acte $0040,$0009 " +
              SequenceValueByName(attributes.AttributesFind(0x0040, 0x0100),
                                  "Scheduled Procedure Step ID"));
    // Said here, taken out by the relay: some modalities refuse a worklist
    // entry that carries this sequence.
    if (attributes.AttributesFind(0x0008, 0x0051).AttributeIsPresent())
        lines.Add("0008,0051 Found -> Remove from response attribute");
}

void ListCFindLines(TStrings& lines, const DicomAttributes& attributes, QueryLevel level) {
    lines.Add(HeaderLine(Text(attributes, 0x0008, 0x0050), Text(attributes, 0x0010, 0x0020),
                         Text(attributes, 0x0008, 0x103E)));
    AddLines(lines, attributes, kCFindLines);
    if (level == QueryLevel::Study) AddLines(lines, attributes, kStudyLines);
    if (level == QueryLevel::Series) AddLines(lines, attributes, kSeriesLines);
    if (level == QueryLevel::Image) AddLines(lines, attributes, kImageLines);
}

}  // namespace

std::size_t LinesPerBlock(QueryLevel level) {
    switch (level) {
        case QueryLevel::Worklist:
            return 13;
        case QueryLevel::Study:
            return 14;
        case QueryLevel::Series:
            return 16;
        case QueryLevel::Image:
            return 15;
        default:
            return 11;
    }
}

std::string SequenceValueByName(const DicomAttribute& sequence, const std::string& name) {
    std::string result;
    const Variant value = sequence.AttributeValue();
    if (value.IsNull()) return result;
    const DicomDataSets items = value.AsCollection();
    const int itemCount = items.DataSetsCount();
    for (int i = 1; i <= itemCount; ++i) {
        const DicomAttributes attributes = items.DataSetsItem(i).DataSetAttributes();
        const int count = attributes.AttributesCount();
        for (int j = 1; j <= count; ++j) {
            const DicomAttribute attribute = attributes.AttributesItemAt(j);
            std::string attributeName = attribute.AttributeDisplayName();
            if (attributeName == name) {
                result = VisibleText(dicom::VarToStr(attribute.AttributeValue()));
                break;
            }
            result += '|';
            result += attributeName;
        }
    }
    return result;
}

void ListResponse(TStrings& lines, const dicom::DicomDataSet& response, QueryLevel level) {
    const DicomAttributes attributes = response.DataSetAttributes();
    if (level == QueryLevel::Worklist) {
        ListWorklistLines(lines, attributes);
    } else {
        ListCFindLines(lines, attributes, level);
    }
    lines.Add(kSeparator);
}

ResponseLister::ResponseLister(QueryLevel level) : level_(level) {
    // Room for the lines of the first 16,384 responses: the list grows
    // without moving its lines at the usual counts, and pages of the room
    // left unused are never touched.
    lines_.Reserve(LinesPerBlock(level) * 16'384);
}

void ResponseLister::operator()(const dicom::DicomDataSet& response) {
    if (failed_) return;
    try {
        ListResponse(lines_, response, level_);
    } catch (const std::exception&) {
        failed_ = true;
    }
}

}  // namespace lumo::app
