#pragma once

#include <cstdio>

#include "app/QueryOutcome.h"

namespace lumo::app {

// The exit status of `lumo4410-cli move` and `get` once the button has run
// (`ran`: no error left its handler): 0 when everything asked for arrived,
// 3 when the node reported success but fewer instances arrived than it
// counted as completed (or than the check counted), 1 on a failure or a
// stop. A stopped retrieval's final status goes to `err`, as a stopped
// query's does. On the form's thread.
int RetrievalExitStatus(const QueryOutcome& outcome, bool ran, std::FILE* err);

}  // namespace lumo::app
