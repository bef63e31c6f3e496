#pragma once

#include <cstdio>

#include "app/TFormTestWL.h"
#include "app/TStrings.h"

// What the command line prints of the form: the lines of a list, and the
// association report the Diagnostic tab shows. Free functions; the form's
// thread.
namespace lumo::app {

// The lines of a list, one each, on `file`.
void PrintList(const TStrings& lines, std::FILE* file);

// The association report of the form's last exchange (--verbose), as the
// Diagnostic tab shows it.
void PrintExchangeReport(const TFormTestWL& form, std::FILE* file);

}  // namespace lumo::app
