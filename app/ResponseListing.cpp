#include "app/ResponseListing.h"

#include "support/Exception.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/VisibleText.h"
#include "dicom/data/AttributeTextView.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;
using dicom::DicomAttributes;
using dicom::DicomDataSet;
using dicom::DicomDataSets;
using dicom::Variant;

// Appends a text from a node to the line being built. A control character
// a node put in a value is shown, never passed on to the list, a terminal
// or a file.
void AppendVisible(TStrings& lines, std::string_view text) {
    if (HasControlCharacter(text)) {
        lines.Append(VisibleText(text));
    } else {
        lines.Append(text);
    }
}

// The text of one top-level attribute of a response: absent and empty both
// give the empty text. A view of the response's own text or of `scratch`.
std::string_view Text(const DicomDataSet& response, std::uint16_t group, std::uint16_t element,
                      std::string& scratch) {
    return dicom::AttributeText(response, group, element, scratch).value_or(std::string_view());
}

struct LabelledTag {
    const char* label;
    std::uint16_t group;
    std::uint16_t element;
};

// Where a response's values are read: its top level and, for a worklist
// answer, for what is absent there, the first scheduled step (its modality,
// its step ID), where some nodes put more than the standard's top level.
// Texts are read straight into the lines, each value at most copied once.
// Used for one response, on the listing's thread.
class ResponseValues {
  public:
    ResponseValues(const DicomDataSet& top, bool worklist) : top_(top) {
        if (!worklist) return;
        const Variant steps =
            top.DataSetAttributes().AttributesFind(0x0040, 0x0100).AttributeValue();
        if (steps.GetType() == Variant::Type::Collection &&
            steps.AsCollection().DataSetsCount() > 0)
            step_ = steps.AsCollection().DataSetsItem(1);
    }

    // The text of (group, element), valid until the next call with the same
    // scratch.
    std::string_view Text(std::uint16_t group, std::uint16_t element, std::string& scratch) const {
        const std::optional<std::string_view> text =
            dicom::AttributeText(top_, group, element, scratch);
        if (text || !step_) return text.value_or(std::string_view());
        return app::Text(*step_, group, element, scratch);
    }

    // One labelled line; the value is read before anything is appended.
    void AddLine(TStrings& lines, std::string_view label, std::uint16_t group,
                 std::uint16_t element) {
        const std::string_view text = Text(group, element, scratch_[0]);
        lines.Append(label);
        AppendVisible(lines, text);
        lines.EndLine();
    }

    template <std::size_t N>
    void AddLines(TStrings& lines, const LabelledTag (&table)[N]) {
        for (const LabelledTag& line : table) AddLine(lines, line.label, line.group, line.element);
    }

    // The first line of every block.
    void AddHeaderLine(TStrings& lines) {
        const std::string_view accession = Text(0x0008, 0x0050, scratch_[0]);
        const std::string_view patientId = Text(0x0010, 0x0020, scratch_[1]);
        const std::string_view seriesDescription = Text(0x0008, 0x103E, scratch_[2]);
        AppendVisible(lines, accession);
        lines.Append("     ");
        AppendVisible(lines, patientId);
        lines.Append("   ");
        AppendVisible(lines, seriesDescription);
        lines.EndLine();
    }

  private:
    const DicomDataSet& top_;
    std::optional<DicomDataSet> step_;
    std::string scratch_[3];
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

// A line of a fixed label and a text already made.
void AddLine(TStrings& lines, std::string_view label, const std::string& text) {
    lines.Append(label);
    lines.Append(text);
    lines.EndLine();
}

void ListWorklistLines(TStrings& lines, const DicomDataSet& response) {
    ResponseValues values(response, true);
    values.AddHeaderLine(lines);
    values.AddLines(lines, kWorklistLines);
    const DicomAttributes attributes = response.DataSetAttributes();
    AddLine(lines, "Requested Code d'acte $0008,$0100 ",
            SequenceValueByName(attributes.AttributesFind(0x0032, 0x1064), "Code Value"));
    AddLine(lines, "Scheduled Code d'acte $0040,$0009 ",
            SequenceValueByName(attributes.AttributesFind(0x0040, 0x0100),
                                "Scheduled Procedure Step ID"));
    // Said here, taken out by the relay: some modalities refuse a worklist
    // entry that carries this sequence.
    if (attributes.AttributesFind(0x0008, 0x0051).AttributeIsPresent())
        lines.Add("0008,0051 Found -> Remove from response attribute");
}

void ListCFindLines(TStrings& lines, const DicomDataSet& response, QueryLevel level) {
    ResponseValues values(response, false);
    values.AddHeaderLine(lines);
    values.AddLines(lines, kCFindLines);
    if (level == QueryLevel::Study) values.AddLines(lines, kStudyLines);
    if (level == QueryLevel::Series) values.AddLines(lines, kSeriesLines);
    if (level == QueryLevel::Image) values.AddLines(lines, kImageLines);
}

}  // namespace

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
    try {
        if (level == QueryLevel::Worklist) {
            ListWorklistLines(lines, response);
        } else {
            ListCFindLines(lines, response, level);
        }
    } catch (...) {
        // The lines already listed stay; a line half built does not.
        lines.DiscardLine();
        throw;
    }
    lines.Add(kSeparator);
}

ResponseLister::ResponseLister(QueryLevel level) : level_(level) {}

void ResponseLister::operator()(const dicom::DicomDataSet& response) {
    if (failed_) return;
    const std::lock_guard lock(mutex_);
    try {
        ListResponse(lines_, response, level_);
    } catch (const std::exception& e) {
        failed_ = true;
        failure_ = ExceptionClassName(e) + ":" + e.what();
    }
    if (!passOn_) return;
    passOn_(lines_);
    lines_.Clear();
}

void ResponseLister::MoveNewLines(TStrings& shown) {
    const std::lock_guard lock(mutex_);
    shown.AppendAll(std::move(lines_));
}

}  // namespace lumo::app
