#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/LinesFile.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"

namespace lumo {
class NewFileBeside;
}

namespace lumo::app {

// The responses of a query written out for a script or a spreadsheet, beside
// the listed lines of "Export Result". Each file is replaced whole (a
// temporary file, then a rename), so nothing partial is ever left under its
// name; one that cannot be written raises as SaveLinesToFile does.

// The DICOM JSON model of the responses (an array, one object each), UTF-8.
void ExportResponsesJson(const std::string& fileName, const dicom::DicomDataSets& responses);

// One row per response, one column per attribute returned (a header row of
// keywords, in tag order, the union over all responses); values as their
// text, several values joined by a backslash, a sequence as its count of
// items; RFC 4180 quoting, UTF-8 with a byte-order mark for spreadsheets.
void ExportResponsesCsv(const std::string& fileName, const dicom::DicomDataSets& responses);

// A field of a CSV row, quoted when it holds a comma, a quote or a line end.
// A field a spreadsheet would take for a formula (it starts with =, +, -, @,
// a tab or a carriage return) is quoted after an apostrophe, so that it is
// read as text; a NUL is written "<00>", as the listing shows it.
std::string CsvField(const std::string& text);

// The same files written as the responses arrive, so that a query of
// millions of responses holds none of them for its export. Add never
// raises: a failure to create or write the file is kept and raised by
// Commit, once the query is over, as the functions above raise it. Dropped
// without Commit (the query failed), the export leaves nothing behind. Owns
// its new file; used on one thread.
class ResponseExport {
  public:
    virtual ~ResponseExport();
    ResponseExport(const ResponseExport&) = delete;
    ResponseExport& operator=(const ResponseExport&) = delete;

    void Add(const dicom::DicomDataSet& response);
    void Commit();

  protected:
    explicit ResponseExport(const std::string& fileName);
    virtual void Write(const dicom::DicomDataSet& response, int number) = 0;
    virtual void Finish() = 0;
    // Keeps `bytes` for the file, written out a mebibyte at a time.
    void Put(std::string_view bytes);
    void Flush();

  private:
    std::optional<ReplacingFile> file_;
    std::string pending_;
    std::exception_ptr failure_;
    int count_ = 0;
};

// DICOM JSON: the array written object by object.
class JsonExport : public ResponseExport {
  public:
    explicit JsonExport(const std::string& fileName);

  private:
    void Write(const dicom::DicomDataSet& response, int number) override;
    void Finish() override;
};

// CSV: the header needs every column, known only at the end, so the rows
// wait in a spool file beside the target (a cell per attribute) and are
// laid out in columns by Commit.
class CsvExport : public ResponseExport {
  public:
    explicit CsvExport(const std::string& fileName);
    ~CsvExport() override;

  private:
    void Write(const dicom::DicomDataSet& response, int number) override;
    void Finish() override;
    void Spool();

    std::string target_;
    std::unique_ptr<NewFileBeside> spool_;
    std::string spooled_;                            // not yet in the spool file
    std::map<std::uint32_t, std::string> keywords_;  // every column, by tag
};

}  // namespace lumo::app
