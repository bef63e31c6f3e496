#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "app/FormHost.h"

namespace lumo::app {

class TFormTestWL;

// The form's screen on a terminal: message boxes and error reports become
// lines on stderr, each finished listing is printed (the result lines on
// stdout, the two time labels on stderr), a file choice comes from an
// argument. Does not own the dispatcher. Used on the form's thread.
class CliHost : public FormHost {
  public:
    CliHost(dicom::Dispatcher& dispatcher, std::FILE* out, std::FILE* err);

    // The form whose listings are printed; set once it exists.
    void SetForm(const TFormTestWL* form) { form_ = form; }
    // The file a "choose a file" request answers with (none: cancelled).
    void SetChosenFile(std::optional<std::string> fileName) { chosenFile_ = std::move(fileName); }
    // Whether each finished listing is printed (on by default; the batch
    // prints its SQL lines instead of the listings behind them).
    void SetPrintListings(bool print) { printListings_ = print; }
    // Whether the blocks of a query button's listing are printed as each
    // is built rather than with the rest of the list (off by default; the
    // list is whole only without it, as "Export Result" needs it).
    void SetPrintBlocksAsListed(bool print) { printBlocks_ = print; }
    // The output file the batch wrote, once written.
    const std::optional<std::string>& BatchFile() const { return batchFile_; }

    void ShowMessage(const std::string& title, const std::string& text, MessageKind kind) override;
    void ShowException(const std::string& text) override;
    std::optional<std::string> ChooseFile(const TOpenDialog& dialog) override;
    void ProcessMessages() override {}
    void Changed() override {}
    void QueryListed() override;
    bool TakesBlocksAsListed() const override { return printListings_ && printBlocks_; }
    void BlocksListed(const TStrings& lines) override;
    void RetrievalProgress(const std::string& line) override;
    void BatchLineAdded(const std::string& line) override;
    void BatchFileWritten(const std::string& fileName) override { batchFile_ = fileName; }
    dicom::Dispatcher& FormDispatcher() override { return dispatcher_; }

    // How many error reports were shown.
    int ErrorReports() const { return errorReports_; }

  private:
    dicom::Dispatcher& dispatcher_;
    std::FILE* out_;
    std::FILE* err_;
    const TFormTestWL* form_ = nullptr;
    std::optional<std::string> chosenFile_;
    bool printListings_ = true;
    bool printBlocks_ = false;
    std::optional<std::string> batchFile_;
    int errorReports_ = 0;
    std::chrono::steady_clock::time_point progressFlushed_{};
};

}  // namespace lumo::app
