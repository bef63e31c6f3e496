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

std::int32_t StrToInt(const std::string& text) {
    std::int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw Exception(ErrorClass::EConvertError, "'" + text + "' is not a valid integer value");
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
