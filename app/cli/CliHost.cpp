#include "app/cli/CliHost.h"

#include <string_view>
#include <utility>

#include "app/TFormTestWL.h"

namespace lumo::app {

namespace {

void WriteLine(std::FILE* file, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
}

}  // namespace

CliHost::CliHost(dicom::Dispatcher& dispatcher, std::FILE* out, std::FILE* err)
    : dispatcher_(dispatcher), out_(out), err_(err) {}

void CliHost::ShowMessage(const std::string&, const std::string& text, MessageKind) {
    WriteLine(err_, text);
    std::fflush(err_);
}

void CliHost::ShowException(const std::string& text) {
    ++errorReports_;
    WriteLine(err_, text);
    std::fflush(err_);
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

void CliHost::RetrievalProgress(const std::string& line) {
    WriteLine(out_, line);
    std::fflush(out_);
}

void CliHost::BatchLineAdded(const std::string& line) {
    WriteLine(out_, line);
    std::fflush(out_);
}

}  // namespace lumo::app
