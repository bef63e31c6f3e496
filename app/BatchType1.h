#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo::app {

class TFormTestWL;

// The accession-and-name batch of the tab "Type 1": for each record of a
// patient file it runs the study query of the form and writes one SQL line
// from the values listed. The pieces below are the batch's rules, usable on
// their own; RunBatchType1 is the whole run as the form's button does it.
// Stateless; the run uses the form's thread, the pieces any thread.

// One record "NOM;PRENOM;NAISSANCE;ACCESSION;ID_ZUNDA". Fields are taken as
// written: not trimmed, a missing one empty.
struct BatchRecord {
    std::string nom;
    std::string prenom;
    std::string naissance;
    std::string accession;
    std::string idZunda;
};
BatchRecord ParseBatchRecord(const std::string& line);

// The output file: the input's full name with its extension (from the last
// "." of the file name) replaced by "_RESULT.txt", or that text appended
// when the name has no extension.
std::string BatchResultFileName(const std::string& inputFileName);

// The value of the last line of `lines` that starts with `label` (same case,
// same length): the at most 100 characters after the label, trimmed of blanks
// and control characters. Empty when no line matches; an empty label matches
// every line.
std::string LabelValue(const std::vector<std::string>& lines, const std::string& label);

// A text made safe inside an SQL string literal: each single quote doubled.
std::string SqlEscaped(std::string_view text);

// The line for a record whose query answered: `sql` + " = " + ID_ZUNDA and
// the record as a comment, with every "%1" replaced by v1, then every "%2"
// by v2. The values are put in as given: escape them first.
std::string BatchStatementLine(const std::string& sql, const BatchRecord& record,
                               const std::string& v1, const std::string& v2);

// The comment line for a record whose query found nothing.
std::string BatchNoResultLine(const BatchRecord& record);

// The comment line for a record whose query failed: the error instead of a
// statement, so the row it names is left as it is.
std::string BatchErrorLine(const BatchRecord& record, const std::string& error);

// The batch as the button `ButtonCFINDType1` runs it, on the form's thread:
// the file choice, the records into ListBoxOrig, a study query per record,
// the lines into MemoDest and the output file, then "FIN". Errors are not
// caught: they end the run and reach the form's error report.
void RunBatchType1(TFormTestWL& form);

}  // namespace lumo::app
