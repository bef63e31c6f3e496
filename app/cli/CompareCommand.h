#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/cli/CliOptions.h"

namespace lumo::app {

// `lumo4410-cli compare KIND`: the query of the form's fields sent to the
// form's node (A) and to a second node (B), and what differs between their
// answers, printed on `out` (and as CSV with --csv). Exit status: 0 when
// both answered and nothing differs, 3 when something does, 1 when a query
// failed (its error on `err`), 2 for an unknown kind. On the form's thread.
int RunCompareCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lumo::app
