#include "app/ResponseExport.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/LinesFile.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomJson.h"
#include "dicom/data/Variant.h"
#include "support/Exception.h"
#include "support/NewFileBeside.h"

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

constexpr std::size_t kPiece = std::size_t{1} << 20;

void AppendRow(std::string& csv, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) csv += ',';
        csv += CsvField(cells[i]);
    }
    csv += "\r\n";
}

void AppendNumber(std::string& bytes, std::uint32_t value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Reads the spool back, row by row. Owns the open spool file; one thread.
class SpoolReader {
  public:
    explicit SpoolReader(const std::string& name) : file_(std::fopen(name.c_str(), "rb")) {
        if (!file_) throw Exception(ErrorClass::EInOutError, "Cannot read back " + name);
    }
    bool Number(std::uint32_t& value) {
        return std::fread(&value, sizeof value, 1, file_.get()) == 1;
    }
    std::string Text(std::uint32_t length) {
        std::string text(length, '\0');
        if (length > 0 && std::fread(text.data(), 1, length, file_.get()) != length)
            throw Exception(ErrorClass::EInOutError, "The spool of the export ends early");
        return text;
    }

  private:
    struct Close {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Close> file_;
};

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

void ExportResponsesCsv(const std::string& fileName, const dicom::DicomDataSets& responses) {
    CsvExport out(fileName);
    for (int i = 1; i <= responses.DataSetsCount(); ++i) out.Add(responses.DataSetsItem(i));
    out.Commit();
}

void ExportResponsesJson(const std::string& fileName, const dicom::DicomDataSets& responses) {
    JsonExport out(fileName);
    for (int i = 1; i <= responses.DataSetsCount(); ++i) out.Add(responses.DataSetsItem(i));
    out.Commit();
}

ResponseExport::ResponseExport(const std::string& fileName) {
    try {
        file_.emplace(fileName);
    } catch (...) {
        failure_ = std::current_exception();
    }
}

ResponseExport::~ResponseExport() = default;

void ResponseExport::Add(const dicom::DicomDataSet& response) {
    ++count_;
    if (failure_) return;
    try {
        Write(response, count_);
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void ResponseExport::Commit() {
    if (!failure_) {
        try {
            Finish();
            Flush();
            file_->Commit();
        } catch (...) {
            failure_ = std::current_exception();
        }
    }
    if (failure_) std::rethrow_exception(failure_);
}

void ResponseExport::Put(std::string_view bytes) {
    pending_.append(bytes);
    if (pending_.size() >= kPiece) Flush();
}

void ResponseExport::Flush() {
    if (file_) file_->Write(pending_);
    pending_.clear();
}

JsonExport::JsonExport(const std::string& fileName) : ResponseExport(fileName) { Put("["); }

void JsonExport::Write(const dicom::DicomDataSet& response, int number) {
    if (number > 1) Put(",");
    Put(dicom::DataSetJson(response, number));
}

void JsonExport::Finish() { Put("]\n"); }

CsvExport::CsvExport(const std::string& fileName) : ResponseExport(fileName), target_(fileName) {}

CsvExport::~CsvExport() = default;

// Each row as its count of cells, then each cell as its tag, its length and
// its text.
void CsvExport::Write(const dicom::DicomDataSet& response, int) {
    if (!spool_) {
        spool_ = std::make_unique<NewFileBeside>(target_);
        if (spool_->Error() != 0)
            throw Exception(ErrorClass::EFCreateError,
                            "Cannot create file \"" + spool_->Name() + "\". " +
                                std::system_category().message(spool_->Error()));
    }
    const dicom::DicomAttributes attributes = response.DataSetAttributes();
    const int count = attributes.AttributesCount();
    AppendNumber(spooled_, static_cast<std::uint32_t>(count));
    for (int j = 1; j <= count; ++j) {
        const dicom::DicomAttribute attribute = attributes.AttributesItemAt(j);
        const std::uint32_t tag = TagOf(attribute);
        if (!keywords_.count(tag)) keywords_.emplace(tag, attribute.AttributeKeyword());
        const std::string cell = CellText(attribute);
        AppendNumber(spooled_, tag);
        AppendNumber(spooled_, static_cast<std::uint32_t>(cell.size()));
        spooled_ += cell;
    }
    if (spooled_.size() >= kPiece) Spool();
}

void CsvExport::Spool() {
    if (const int error = spool_->Write(spooled_); error != 0)
        throw Exception(ErrorClass::EWriteError, "Stream write error: \"" + spool_->Name() +
                                                     "\". " +
                                                     std::system_category().message(error));
    spooled_.clear();
}

void CsvExport::Finish() {
    Put(kByteOrderMark);
    std::map<std::uint32_t, std::size_t> columns;
    std::vector<std::string> cells;
    for (const auto& [tag, keyword] : keywords_) {
        columns.emplace(tag, cells.size());
        cells.push_back(keyword);
    }
    std::string row;
    AppendRow(row, cells);
    Put(row);
    if (!spool_) return;
    Spool();
    if (const int error = spool_->Flush(); error != 0)
        throw Exception(ErrorClass::EWriteError, "Stream write error: \"" + spool_->Name() +
                                                     "\". " +
                                                     std::system_category().message(error));
    SpoolReader reader(spool_->Name());
    for (std::uint32_t count = 0; reader.Number(count);) {
        cells.assign(columns.size(), std::string());
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t tag = 0;
            std::uint32_t length = 0;
            if (!reader.Number(tag) || !reader.Number(length))
                throw Exception(ErrorClass::EInOutError, "The spool of the export ends early");
            cells[columns.at(tag)] = reader.Text(length);
        }
        row.clear();
        AppendRow(row, cells);
        Put(row);
    }
}

}  // namespace lumo::app
