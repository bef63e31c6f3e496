#include "app/BatchType1.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/LinesFile.h"
#include "app/TFormTestWL.h"
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

// The record as the comment of every output line shows it.
std::string RecordComment(const BatchRecord& record) {
    return "; -- " + record.accession + " - " + record.nom + " - " + record.naissance;
}

// An error text on one line: a line end inside it would end the comment
// and leave the rest of the message to be run as SQL.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
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
    form.EditNomPatient.Text = record.nom;
    form.EditNaissance.Text = record.naissance;
    form.EditAccession.Text = record.accession + "*";
    form.ButtonCFindStudyStudy.Click();

    const QueryOutcome& outcome = form.LastQuery();
    if (const std::optional<std::string> failure = QueryFailure(outcome))
        return BatchErrorLine(record, *failure);
    if (outcome.responses.DataSetsCount() == 0) return BatchNoResultLine(record);
    const std::vector<std::string>& listed = form.ListBoxResult.Items.Lines();
    const std::string v1 = LabelValue(listed, form.EditNomData1.Text);
    const std::string v2 = LabelValue(listed, form.EditNomData2.Text);
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
    std::string value;
    for (const std::string& line : lines) {
        if (line.compare(0, label.size(), label) != 0) continue;
        const std::string_view rest = std::string_view(line).substr(label.size());
        value = TrimBlanks(std::string(FirstCharacters(rest, kValueLength)));
    }
    return value;
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

std::string BatchNoResultLine(const BatchRecord& record) {
    return "--Aucun résultat pour ID_ZUNDA: " + record.idZunda + RecordComment(record);
}

std::string BatchErrorLine(const BatchRecord& record, const std::string& error) {
    // A comment, not an UPDATE with empty values: those would blank the
    // row's identifiers in the target database. It opens like the no-result
    // line so both are found by the same search.
    return "--Erreur pour ID_ZUNDA: " + record.idZunda + RecordComment(record) + ": " +
           OneLine(error);
}

void RunBatchType1(TFormTestWL& form) {
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
    const std::size_t count = records.Count();
    form.LabelBatchProgress.Caption = ProgressText(0, count);
    form.LabelBatchProgress.Visible = true;
    host.ProcessMessages();

    TStrings& output = form.MemoDest.Lines;
    output.Clear();
    output.Reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        form.ListBoxOrig.ItemIndex = static_cast<int>(i);
        form.LabelBatchProgress.Caption = ProgressText(i + 1, count);
        const std::string line = RecordLine(form, ParseBatchRecord(records[i]));
        output.Add(line);
        host.BatchLineAdded(line);
        host.ProcessMessages();
    }

    const std::string outputFile = BatchResultFileName(inputFile);
    SaveLinesToFile(outputFile, output.Lines(), input.encoding);
    host.BatchFileWritten(outputFile);

    form.ButtonCFINDType1.Caption = kIdle;
    form.LabelBatchProgress.Visible = false;
    host.ProcessMessages();
    host.ShowMessage(ApplicationTitle(), "FIN", MessageKind::Plain);
}

}  // namespace lumo::app
