#include "logging/LogConvert.h"

#include <strings.h>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "support/Exception.h"

namespace lumo {

bool TryStrToInt(const std::string& text, std::int32_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    std::int32_t parsed = 0;
    const auto [end, error] = std::from_chars(first, last, parsed, 10);
    if (error != std::errc() || end != last) return false;
    value = parsed;
    return true;
}

namespace {

[[noreturn]] void NotAnInteger(const std::string& text) {
    throw Exception(ErrorClass::EConvertError, "'" + text + "' is not a valid integer value");
}

}  // namespace

std::int32_t StrToInt(const std::string& text) {
    std::int32_t value = 0;
    if (!TryStrToInt(text, value)) NotAnInteger(text);
    return value;
}

bool IsIntegerText(const std::string& text) {
    const std::size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    return text.size() > sign && text.find_first_not_of("0123456789", sign) == std::string::npos;
}

std::int64_t ConfigInteger(const std::string& what, const std::string& text, std::int64_t low,
                           std::int64_t high) {
    if (!IsIntegerText(text)) NotAnInteger(text);
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    std::int64_t value = 0;
    // Digits beyond 64 bits are out of range as well.
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value, 10);
    if (error != std::errc() || value < low || value > high)
        throw Exception(ErrorClass::EConvertError, what + " hors limites : " + text + " (de " +
                                                       std::to_string(low) + " à " +
                                                       std::to_string(high) + ")");
    return value;
}

bool StrToBool(const std::string& text) {
    if (::strcasecmp(text.c_str(), "True") == 0) return true;
    if (::strcasecmp(text.c_str(), "False") == 0) return false;
    if (!text.empty() && text.find('\0') == std::string::npos) {
        char* end = nullptr;
        const double number = std::strtod(text.c_str(), &end);
        if (end == text.c_str() + text.size() && !std::isnan(number)) return number != 0.0;
    }
    throw Exception(ErrorClass::EConvertError, "'" + text + "' is not a valid boolean value");
}

}  // namespace lumo
