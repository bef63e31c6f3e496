#pragma once

#include <string>

namespace lumo {

// Small text helpers: a choice between two texts, cutting a separated text
// into fields, trimming. Stateless; usable from any thread.

std::string ChooseStr(bool Condition, const std::string& WhenTrue, const std::string& WhenFalse);

// The Index-th field (from 1) of Text cut at every Separator; fields are
// neither trimmed nor unquoted; a field past the last separator, or an
// index below 1, gives the empty text.
std::string GetDelimitedField(const std::string& Text, char Separator, int Index);

// Text without its leading and trailing blanks and control characters (all
// bytes up to 32).
std::string TrimBlanks(const std::string& text);

}  // namespace lumo
