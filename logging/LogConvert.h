#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace lumo {

// The conversions of configuration texts, with the messages of the
// platform's conversion errors (class "EConvertError"). Stateless; usable
// from any thread.

// A decimal integer with an optional sign, in 32 bits.
bool TryStrToInt(const std::string& text, std::int32_t& value);
std::int32_t StrToInt(const std::string& text);  // "'x' is not a valid integer value"

// Whether `text` is a decimal integer: an optional sign and digits, of any
// size.
bool IsIntegerText(const std::string& text);

// A whole number of the configuration within [low, high], read from the
// setting that `what` names ("Attribut NiveauMax"): a value out of range is
// refused, never wrapped into it. A text that is no integer raises StrToInt's
// error; an integer out of the range raises "<what> hors limites : <text>
// (de <low> à <high>)".
std::int64_t ConfigInteger(const std::string& what, const std::string& text, std::int64_t low,
                           std::int64_t high);

// The same within the range of the type that keeps the setting.
template <typename T>
T ConfigInteger(const std::string& what, const std::string& text) {
    return static_cast<T>(
        ConfigInteger(what, text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// True or False in any case, or a number (0 is false, any other is true).
bool StrToBool(const std::string& text);  // "'x' is not a valid boolean value"

}  // namespace lumo
