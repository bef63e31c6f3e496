#include "app/BatchType1.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/LinesFile.h"
#include "app/RunState.h"
#include "app/TFormTestWL.h"
#include "app/VisibleText.h"
#include "support/Application.h"
#include "support/Global_Utils.h"

namespace lumo::app {

namespace {

const char* const kMarker = "CONCATENATION";
const char* const kIdle = "CFind (ACCESSION+NOM)";
constexpr std::size_t kValueLength = 100;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

// The first `count` characters of a UTF-8 text, never cutting one in two.
std::string_view FirstCharacters(std::string_view text, std::size_t count) {
    std::size_t end = 0;
    std::size_t taken = 0;
    while (end < text.size()) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) {
            if (taken == count) break;
            ++taken;
        }
        ++end;
    }
    return text.substr(0, end);
}

// The lines, in order, are those of a list or of a file.
template <typename Lines>
std::string LastLabelValue(const Lines& lines, const std::string& label) {
    std::string value;
    for (const std::string_view line : lines) {
        if (!line.starts_with(label)) continue;
        value = TrimBlanks(std::string(FirstCharacters(line.substr(label.size()), kValueLength)));
    }
    return value;
}

// The record as the comment of every output line shows it.
std::string RecordComment(const BatchRecord& record) {
    return "; -- " + VisibleText(record.accession) + " - " + VisibleText(record.nom) + " - " +
           VisibleText(record.naissance);
}

// "--<what> pour ID_ZUNDA: <id>; -- <record>", the opening of every comment
// line written instead of a statement.
std::string CommentLine(std::string_view what, const BatchRecord& record) {
    return "--" + std::string(what) + " pour ID_ZUNDA: " + VisibleText(record.idZunda) +
           RecordComment(record);
}

// Whether a field gives the query something to match: a field of blanks and
// wildcards only matches every study.
bool Matches(const std::string& field) {
    return std::any_of(field.begin(), field.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && c != '*' && c != '?';
    });
}

// The refusal of a value read for a label, or nothing when it may be written.
std::optional<std::string> RefusedValue(const std::string& label, const std::string& value) {
    const std::optional<std::string> why = BatchValueRefusal(value);
    if (!why) return std::nullopt;
    return "valeur de \"" + label + "\" refusée, " + *why + " : " + value;
}

// Why the query of the current record gave no answer to read, or nothing
// when it answered: the error of a query that failed, or a query that ended
// before its listing.
std::optional<std::string> QueryFailure(const QueryOutcome& outcome) {
    if (outcome.failure) return outcome.failure->ClassName() + ": " + outcome.failure->message;
    if (!outcome.replied) return std::string("la requête n'a pas abouti");
    return std::nullopt;
}

// The output line of one record: its study query, then the values the
// listed lines give for the two labels.
std::string RecordLine(TFormTestWL& form, const BatchRecord& record) {
    if (std::optional<std::string> unqueried = BatchUnqueriedLine(record)) return *unqueried;
    form.EditNomPatient.Text = record.nom;
    form.EditNaissance.Text = record.naissance;
    form.EditAccession.Text = record.accession + "*";
    form.ButtonCFindStudyStudy.Click();

    const QueryOutcome& outcome = form.LastQuery();
    if (const std::optional<std::string> failure = QueryFailure(outcome))
        return BatchErrorLine(record, *failure);
    if (outcome.ResponseCount() == 0) return BatchNoResultLine(record);
    const TStrings& listed = form.ListBoxResult.Items;
    const std::string& label1 = form.EditNomData1.Text;
    const std::string& label2 = form.EditNomData2.Text;
    const std::string v1 = LabelValue(listed, label1);
    const std::string v2 = LabelValue(listed, label2);
    if (std::optional<std::string> refused = RefusedValue(label1, v1))
        return BatchErrorLine(record, *refused);
    if (std::optional<std::string> refused = RefusedValue(label2, v2))
        return BatchErrorLine(record, *refused);
    return BatchStatementLine(form.EditSQL.Text, record, SqlEscaped(v1), SqlEscaped(v2));
}

std::string ProgressText(std::size_t index, std::size_t count) {
    return "Enregistrement " + std::to_string(index) + " / " + std::to_string(count);
}

}  // namespace

BatchRecord ParseBatchRecord(const std::string& line) {
    BatchRecord record;
    record.nom = GetDelimitedField(line, ';', 1);
    record.prenom = GetDelimitedField(line, ';', 2);
    record.naissance = GetDelimitedField(line, ';', 3);
    record.accession = GetDelimitedField(line, ';', 4);
    record.idZunda = GetDelimitedField(line, ';', 5);
    return record;
}

std::string BatchResultFileName(const std::string& inputFileName) {
    const std::size_t slash = inputFileName.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = inputFileName.rfind('.');
    const std::size_t stem =
        dot == std::string::npos || dot < nameStart ? inputFileName.size() : dot;
    return inputFileName.substr(0, stem) + "_RESULT.txt";
}

std::string LabelValue(const std::vector<std::string>& lines, const std::string& label) {
    return LastLabelValue(lines, label);
}

std::string LabelValue(const TStrings& lines, const std::string& label) {
    return LastLabelValue(lines, label);
}

std::string SqlEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        escaped += c;
        if (c == '\'') escaped += '\'';
    }
    return escaped;
}

std::string BatchStatementLine(const std::string& sql, const BatchRecord& record,
                               const std::string& v1, const std::string& v2) {
    std::string line = sql + " = " + record.idZunda + RecordComment(record);
    // In this order, over the whole line, the record's fields included: a
    // first value that holds "%2" thus gets the second value as well.
    ReplaceAll(line, "%1", v1);
    ReplaceAll(line, "%2", v2);
    return line;
}

bool IsWholeNumber(std::string_view text) {
    if (text.starts_with('-')) text.remove_prefix(1);
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> BatchValueRefusal(std::string_view value) {
    if (value.find('\\') != std::string_view::npos)
        return std::string("elle contient une barre oblique inverse");
    if (HasControlCharacter(value)) return std::string("elle contient un caractère de contrôle");
    return std::nullopt;
}

std::string BatchNoResultLine(const BatchRecord& record) {
    return CommentLine("Aucun résultat", record);
}

std::string BatchErrorLine(const BatchRecord& record, const std::string& error) {
    // A comment, not an UPDATE with empty values: those would blank the
    // row's identifiers in the target database.
    return CommentLine("Erreur", record) + ": " + VisibleText(error);
}

std::string BatchSkippedLine(const BatchRecord& record, const std::string& reason) {
    return CommentLine("Ignoré", record) + ": " + VisibleText(reason);
}

std::optional<std::string> BatchUnqueriedLine(const BatchRecord& record) {
    // A query without either key would list every study of the node, and
    // the last one listed would give the statement its values.
    if (!Matches(record.accession) && !Matches(record.nom))
        return BatchSkippedLine(record, "ni accession ni nom, aucune requête envoyée");
    // Written after "= " outside any quotes, anything but a number there is SQL.
    if (record.idZunda.empty())
        return BatchErrorLine(record, "ID_ZUNDA manquant, aucune requête envoyée");
    if (!IsWholeNumber(record.idZunda))
        return BatchErrorLine(record,
                              "ID_ZUNDA n'est pas un nombre entier, aucune requête envoyée");
    return std::nullopt;
}

std::string BatchInterruptedLine(std::size_t done, std::size_t count) {
    return "-- Interrompu après " + std::to_string(done) + " / " + std::to_string(count) +
           " enregistrements";
}

namespace {

// One query and one line per record of ListBoxOrig into MemoDest, until
// the last or a stop; a stopped run ends with the line that says so.
void RunRecords(TFormTestWL& form) {
    FormHost& host = form.Host();
    const TStrings& records = form.ListBoxOrig.Items;
    const std::size_t count = records.Count();
    form.LabelBatchProgress.Caption = ProgressText(0, count);
    form.LabelBatchProgress.Visible = true;
    host.ProcessMessages();

    TStrings& output = form.MemoDest.Lines;
    output.Clear();
    std::size_t done = 0;
    while (done < count) {
        form.ListBoxOrig.ItemIndex = static_cast<int>(done);
        form.LabelBatchProgress.Caption = ProgressText(done + 1, count);
        const std::string line = RecordLine(form, ParseBatchRecord(std::string(records[done])));
        output.Add(line);
        host.BatchLineAdded(line);
        host.ProcessMessages();
        ++done;
        if (form.StopRequested()) break;
    }
    // Stopped before the end: what was built is kept, and says it is partial.
    if (done < count) {
        const std::string line = BatchInterruptedLine(done, count);
        output.Add(line);
        host.BatchLineAdded(line);
    }
}

}  // namespace

void RunBatchType1(TFormTestWL& form) {
    const RunState::Scope running(form.Runs(), true);
    form.Runs().ForgetStop();
    FormHost& host = form.Host();
    const std::optional<std::string> chosen = host.ChooseFile(form.OpenDialogCFIND);
    if (!chosen) {
        host.ShowMessage(ApplicationTitle(), "Aucun fichier sélectionné", MessageKind::Error);
        return;
    }
    form.OpenDialogCFIND.FileName = *chosen;
    const std::string& inputFile = *chosen;

    LinesOfFile input = LoadLinesFromFile(inputFile);
    TStrings& records = form.ListBoxOrig.Items;
    records.Assign(std::move(input.lines));
    form.ListBoxOrig.ItemIndex = -1;
    if (records.Count() == 0) {
        // Nothing to reconcile: say so plainly rather than write an empty
        // result the operator might take for a run.
        host.ShowMessage(ApplicationTitle(),
                         "Le fichier \"" + inputFile + "\" est vide : aucun résultat écrit",
                         MessageKind::Error);
        return;
    }
    if (records[0] == kMarker) records.Delete(0);

    form.ButtonCFINDType1.Caption =
        "Traitement: " + std::filesystem::path(inputFile).filename().string() + "...";
    RunRecords(form);

    const std::string outputFile = BatchResultFileName(inputFile);
    SaveLinesToFile(outputFile, form.MemoDest.Lines, input.encoding);
    host.BatchFileWritten(outputFile);

    form.ButtonCFINDType1.Caption = kIdle;
    form.LabelBatchProgress.Visible = false;
    host.ProcessMessages();
    // A stop is asked for by a close or a signal: nobody waits for "FIN".
    if (!form.StopRequested()) host.ShowMessage(ApplicationTitle(), "FIN", MessageKind::Plain);
}

}  // namespace lumo::app
