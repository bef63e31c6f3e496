#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/cli/CliOptions.h"

namespace lumo::app {

// The commands that check a node from the command line, each a button of the
// Diagnostic tab pressed on the node of the options: their lines on `out`,
// the association report on `err` with --verbose. On the form's thread.

// `lumo4410-cli echo`: the button "Echo". Its lines are the success, the
// node's implementation and maximum PDU, or the failure's class and message.
// Exit status 0 when the node answered Success, 1 otherwise.
int RunEchoCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

// `lumo4410-cli probe`: the button "Sonder". One line per service and per
// C-FIND check (or, for a node out of reach, the failure's class and
// message), the report of every association with --verbose. Exit status 0
// when the node was reached and accepted at least one association, 1
// otherwise.
int RunProbeCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lumo::app
