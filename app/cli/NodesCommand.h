#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/cli/CliOptions.h"

namespace lumo::app {

// The address book on the command line.
//
// ApplyBookNodes: --node fills the form's connection fields from the book
// and --node2 the second node of compare (as options that come before all
// the others, which then win). An unknown node is bad usage: said on `err`,
// false.
//
// RunNodesCommand, `lumo4410-cli nodes ...`: the list on `out` (one line a
// node, its name first); add keeps the connection of the form's fields
// under the name; remove forgets a node; import reads a CSV file, every bad
// line named on `err` and nothing imported then; export writes the book as
// CSV. Exit status 0 on success, 1 when the book or a file refuses.
// On the form's thread.
bool ApplyBookNodes(TFormTestWL& form, CliOptions& options, std::FILE* err);
int RunNodesCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lumo::app
