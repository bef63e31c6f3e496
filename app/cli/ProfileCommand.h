#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/cli/CliOptions.h"

namespace lumo::app {

// `lumo4410-cli profile`: the button "Profil" pressed on the node of the
// options; its lines on `out` (with --verbose the identifiers), the profile
// written as JSON with --json FILE, and with --against OLD.json what
// changed since that profile. Exit status: 0 when the node was profiled
// (and nothing changed), 3 when something changed, 1 when the node could
// not be profiled, the profile was stopped, or a file could not be read or
// written (its error on `err`). On the form's thread.
int RunProfileCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lumo::app
