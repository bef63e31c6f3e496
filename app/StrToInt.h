#pragma once

#include <cstdint>
#include <string>

namespace lumo::app {

// The console's standard text-to-integer conversion (the port fields, the
// listen port): optional leading blanks, an optional sign, then decimal
// digits, or "$" / "0x" and hexadecimal digits; the value within 32 bits.
// Anything else raises lumo::Exception(ErrorClass::EConvertError,
// "'<text>' is not a valid integer value").
std::int32_t StrToInt(const std::string& text);

}  // namespace lumo::app
