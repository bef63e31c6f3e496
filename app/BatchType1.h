#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/TStrings.h"

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
std::string LabelValue(const TStrings& lines, const std::string& label);

// A text made safe inside an SQL string literal: each single quote doubled.
// Enough only for a text that BatchValueRefusal accepts: a backslash is an
// escape in the strings of some databases (MySQL, MariaDB).
std::string SqlEscaped(std::string_view text);

// Whether a text is a whole number: digits with an optional leading minus,
// nothing else (no blank, no plus sign). The only ID_ZUNDA written into a
// statement, where it stands outside any quotes.
bool IsWholeNumber(std::string_view text);

// Why a value read from the responses is never written into a statement,
// or nothing when it may be (once escaped): a backslash (an escape for some
// databases; the DICOM values read here cannot hold one) or a control
// character (a line end would end the statement's line).
std::optional<std::string> BatchValueRefusal(std::string_view value);

// The line for a record whose query answered: `sql` + " = " + ID_ZUNDA and
// the record as a comment, with every "%1" replaced by v1, then every "%2"
// by v2. The values are put in as given: refuse and escape them first; the
// ID_ZUNDA as well, which must be a whole number.
std::string BatchStatementLine(const std::string& sql, const BatchRecord& record,
                               const std::string& v1, const std::string& v2);

// The comment lines the batch writes instead of a statement, each opening
// "--<what> pour ID_ZUNDA: " so that one search finds them all. Every text
// they carry from the file or a node shows its control characters
// (VisibleText), so that nothing in it can end the comment.
// A record whose query found nothing.
std::string BatchNoResultLine(const BatchRecord& record);
// A record whose query failed, or whose ID_ZUNDA or answer cannot be
// written: the error instead of a statement, so the row it names is left as
// it is.
std::string BatchErrorLine(const BatchRecord& record, const std::string& error);
// A record left out without a query.
std::string BatchSkippedLine(const BatchRecord& record, const std::string& reason);

// The line of a record that is not queried, or nothing when it is: one with
// neither accession nor name (blanks and wildcards only) would match every
// study, and one whose ID_ZUNDA is not a whole number cannot be written.
std::optional<std::string> BatchUnqueriedLine(const BatchRecord& record);

// The last line of a batch stopped on request after `done` of `count`
// records: "-- Interrompu après 2 / 5 enregistrements".
std::string BatchInterruptedLine(std::size_t done, std::size_t count);

// The batch as the button `ButtonCFINDType1` runs it, on the form's thread:
// the file choice, the records into ListBoxOrig, a study query per record,
// the lines into MemoDest and the output file, then "FIN". A stop requested
// on the form (TFormTestWL::RequestStop, from any thread; cleared when the
// batch starts) ends it after the record under way: the file gets the lines
// built and BatchInterruptedLine, and "FIN" is not shown. Errors are not
// caught: they end the run and reach the form's error report.
void RunBatchType1(TFormTestWL& form);

}  // namespace lumo::app
