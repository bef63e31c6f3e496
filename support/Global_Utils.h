#pragma once

#include <string>

namespace lumo {

// Small text helpers over the program's command line (CommandLineParams of
// Application.h): named parameters written name=value, and cutting a
// separated text into fields. Stateless; usable from any thread.

// Whether a command-line parameter of that name is given (names compared
// without regard to ASCII case; the first match wins). A parameter holding
// "=" is split at its first "=" ("a=b=c" is a with the value "b=c"); a bare
// word is a name with an empty value. `Value` is left untouched when the
// parameter is absent.
bool GetNamedParam(const std::string& Name, std::string& Value);
bool HasNamedParam(const std::string& Name);

std::string ChooseStr(bool Condition, const std::string& WhenTrue, const std::string& WhenFalse);

// The Index-th field (from 1) of Text cut at every Separator; fields are
// neither trimmed nor unquoted; a field past the last separator, or an
// index below 1, gives the empty text.
std::string GetDelimitedField(const std::string& Text, char Separator, int Index);

// Text without its leading and trailing blanks and control characters (all
// bytes up to 32).
std::string TrimBlanks(const std::string& text);

}  // namespace lumo
