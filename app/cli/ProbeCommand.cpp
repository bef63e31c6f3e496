#include "app/cli/ProbeCommand.h"

#include "app/cli/DiagnosticOutput.h"

namespace lumo::app {

int RunProbeCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err) {
    const bool ran = form.RunHandler([&] { form.ButtonSonder.Click(); });
    PrintList(form.ListBoxResult.Items, out);
    if (options.verbose) PrintExchangeReport(form, err);
    return ran && form.DiagnosticSucceeded() ? 0 : 1;
}

}  // namespace lumo::app
