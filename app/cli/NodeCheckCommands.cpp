#include "app/cli/NodeCheckCommands.h"

#include "app/cli/FormOutput.h"

namespace lumo::app {

namespace {

// Presses the check's button, prints what it listed, and tells whether the
// check succeeded.
int RunNodeCheck(TFormTestWL& form, TButton& button, const CliOptions& options, std::FILE* out,
                 std::FILE* err) {
    const bool ran = form.RunHandler([&] { button.Click(); });
    PrintList(form.ListBoxResult.Items, out);
    if (options.verbose) PrintExchangeReport(form, err);
    return ran && form.DiagnosticSucceeded() ? 0 : 1;
}

}  // namespace

int RunEchoCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err) {
    return RunNodeCheck(form, form.ButtonEcho, options, out, err);
}

int RunProbeCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err) {
    return RunNodeCheck(form, form.ButtonSonder, options, out, err);
}

}  // namespace lumo::app
