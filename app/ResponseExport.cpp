#include "app/ResponseExport.h"

#include <cstdint>
#include <map>
#include <string_view>

#include "app/LinesFile.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomJson.h"
#include "dicom/data/Variant.h"

namespace lumo::app {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::uint32_t TagOf(const dicom::DicomAttribute& attribute) {
    return (static_cast<std::uint32_t>(attribute.Group()) << 16) | attribute.Element();
}

// A value as a cell: its text as received, or a sequence's count of items.
std::string CellText(const dicom::DicomAttribute& attribute) {
    const dicom::Variant value = attribute.AttributeWideValue();
    if (value.GetType() == dicom::Variant::Type::Collection)
        return std::to_string(value.AsCollection().DataSetsCount());
    return dicom::VarToStr(value);
}

// Every attribute returned, by tag, with its keyword and its column.
std::map<std::uint32_t, std::pair<std::string, std::size_t>> Columns(
    const dicom::DicomDataSets& responses) {
    std::map<std::uint32_t, std::pair<std::string, std::size_t>> columns;
    for (int i = 1; i <= responses.DataSetsCount(); ++i) {
        const dicom::DicomAttributes attributes = responses.DataSetsItem(i).DataSetAttributes();
        for (int j = 1; j <= attributes.AttributesCount(); ++j) {
            const dicom::DicomAttribute attribute = attributes.AttributesItemAt(j);
            if (!columns.count(TagOf(attribute)))
                columns.emplace(TagOf(attribute), std::make_pair(attribute.AttributeKeyword(), 0));
        }
    }
    std::size_t column = 0;
    for (auto& entry : columns) entry.second.second = column++;
    return columns;
}

void AppendRow(std::string& csv, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) csv += ',';
        csv += CsvField(cells[i]);
    }
    csv += "\r\n";
}

}  // namespace

std::string CsvField(const std::string& text) {
    // A cell a spreadsheet would take for a formula (a node's value such as
    // "=HYPERLINK(...)") is written as text: quoted, after an apostrophe.
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    if (!formula && text.find_first_of(std::string_view(",\"\r\n\0", 5)) == std::string::npos)
        return text;
    std::string quoted = formula ? "\"'" : "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        // A NUL would end the cell early in many readers: shown as the
        // listing and the JSON export show it.
        if (c == '\0') {
            quoted += "<00>";
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string ResponsesCsv(const dicom::DicomDataSets& responses) {
    const auto columns = Columns(responses);
    std::string csv = kByteOrderMark;
    std::vector<std::string> cells;
    for (const auto& entry : columns) cells.push_back(entry.second.first);
    AppendRow(csv, cells);
    for (int i = 1; i <= responses.DataSetsCount(); ++i) {
        cells.assign(columns.size(), std::string());
        const dicom::DicomAttributes attributes = responses.DataSetsItem(i).DataSetAttributes();
        for (int j = 1; j <= attributes.AttributesCount(); ++j) {
            const dicom::DicomAttribute attribute = attributes.AttributesItemAt(j);
            cells[columns.at(TagOf(attribute)).second] = CellText(attribute);
        }
        AppendRow(csv, cells);
    }
    return csv;
}

void ExportResponsesCsv(const std::string& fileName, const dicom::DicomDataSets& responses) {
    SaveBytesToFile(fileName, ResponsesCsv(responses));
}

void ExportResponsesJson(const std::string& fileName, const dicom::DicomDataSets& responses) {
    SaveBytesToFile(fileName, dicom::DataSetsJson(responses));
}

}  // namespace lumo::app
