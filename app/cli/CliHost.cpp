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
    // Written in large blocks: a hundred thousand responses make over a
    // million lines.
    std::string block;
    block.reserve(1 << 16);
    for (const std::string& line : form_->ListBoxResult.Items.Lines()) {
        block += line;
        block += '\n';
        if (block.size() >= (1 << 16) - 512) {
            std::fwrite(block.data(), 1, block.size(), out_);
            block.clear();
        }
    }
    std::fwrite(block.data(), 1, block.size(), out_);
    std::fflush(out_);
    WriteLine(err_, "Demandée à : " + form_->lblDHDemande.Caption);
    WriteLine(err_, "Réponse à : " + form_->lblDHReponse.Caption);
    std::fflush(err_);
}

void CliHost::BatchLineAdded(const std::string& line) {
    WriteLine(out_, line);
    std::fflush(out_);
}

}  // namespace lumo::app
