#include "app/cli/CliHost.h"

#include <string_view>
#include <utility>

#include "app/TFormTestWL.h"
#include "app/TStrings.h"
#include "app/VisibleText.h"

namespace lumo::app {

namespace {

void WriteLine(std::FILE* file, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
}

// A message for the terminal: its lines as they are, but every control
// character a node or a file name put in them shown (VisibleText).
void WriteMessage(std::FILE* file, std::string_view text) {
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        WriteLine(file, VisibleText(text.substr(start, end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    std::fflush(file);
}

}  // namespace

CliHost::CliHost(dicom::Dispatcher& dispatcher, std::FILE* out, std::FILE* err)
    : dispatcher_(dispatcher), out_(out), err_(err) {}

void CliHost::ShowMessage(const std::string&, const std::string& text, MessageKind) {
    WriteMessage(err_, text);
}

void CliHost::ShowException(const std::string& text) {
    ++errorReports_;
    WriteMessage(err_, text);
}

std::optional<std::string> CliHost::ChooseFile(const TOpenDialog&) { return chosenFile_; }

void CliHost::QueryListed() {
    if (form_ == nullptr || !printListings_) return;
    // The list's own text, written as it lies: a million responses make
    // some fourteen million lines.
    form_->ListBoxResult.Items.ForEachText(
        [this](std::string_view text) { std::fwrite(text.data(), 1, text.size(), out_); });
    std::fflush(out_);
    WriteLine(err_, "Demandée à : " + form_->lblDHDemande.Caption);
    WriteLine(err_, "Réponse à : " + form_->lblDHReponse.Caption);
    std::fflush(err_);
}

void CliHost::BlocksListed(const TStrings& lines) {
    // Left to stdio's buffer: a terminal still sees each line as it comes.
    lines.ForEachText(
        [this](std::string_view text) { std::fwrite(text.data(), 1, text.size(), out_); });
}

void CliHost::RetrievalProgress(const std::string& line) {
    WriteLine(out_, line);
    // A line per instance: pushed out ten times a second at most, the
    // last ones by the end's own lines.
    const auto now = std::chrono::steady_clock::now();
    if (now - progressFlushed_ < std::chrono::milliseconds(100)) return;
    progressFlushed_ = now;
    std::fflush(out_);
}

void CliHost::BatchLineAdded(const std::string& line) {
    WriteLine(out_, line);
    std::fflush(out_);
}

}  // namespace lumo::app
