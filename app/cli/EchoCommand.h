#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/cli/CliOptions.h"

namespace lumo::app {

// `lumo4410-cli echo`: the button "Echo" of the Diagnostic tab on the node
// of the options. Its lines on `out` (the success, the node's
// implementation and maximum PDU; or the failure's class and message), the
// association report on `err` with --verbose. Exit status 0 when the node
// answered Success, 1 otherwise. On the form's thread.
int RunEchoCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lumo::app
