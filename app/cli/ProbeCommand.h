#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/cli/CliOptions.h"

namespace lumo::app {

// `lumo4410-cli probe`: the button "Sonder" of the Diagnostic tab on the
// node of the options. One line per service and per C-FIND check on `out`
// (or, for a node out of reach, the failure's class and message), the
// report of every association on `err` with --verbose. Exit status 0 when
// the node was reached and accepted at least one association, 1 otherwise.
// On the form's thread.
int RunProbeCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lumo::app
