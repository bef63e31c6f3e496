#pragma once

#include <string>

namespace lumo {

// The named parameters of the program's command line (CommandLineParams of
// Application.h), written name=value, as file masks read them. Stateless;
// usable from any thread.

// Whether a command-line parameter of that name is given (names compared
// without regard to ASCII case; the first match wins). A parameter holding
// "=" is split at its first "=" ("a=b=c" is a with the value "b=c"); a bare
// word is a name with an empty value. `Value` is left untouched when the
// parameter is absent.
bool GetNamedParam(const std::string& Name, std::string& Value);
bool HasNamedParam(const std::string& Name);

}  // namespace lumo
