#pragma once

#include <cstdint>
#include <string>

namespace lumo {

// The conversions of configuration texts, with the messages of the
// platform's conversion errors (class "EConvertError"). Stateless; usable
// from any thread.

// A decimal integer with an optional sign, in 32 bits.
bool TryStrToInt(const std::string& text, std::int32_t& value);
std::int32_t StrToInt(const std::string& text);  // "'x' is not a valid integer value"

// True or False in any case, or a number (0 is false, any other is true).
bool StrToBool(const std::string& text);  // "'x' is not a valid boolean value"

}  // namespace lumo
