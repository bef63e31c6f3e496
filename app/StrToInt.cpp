#include "app/StrToInt.h"

#include <cstddef>

#include "support/Exception.h"

namespace lumo::app {

namespace {

[[noreturn]] void Invalid(const std::string& text) {
    throw Exception(ErrorClass::EConvertError, "'" + text + "' is not a valid integer value");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::int32_t StrToInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) Invalid(text);

    // Decimal values must fit a signed 32-bit integer; hexadecimal ones are
    // 32-bit patterns (FFFFFFFF is -1), as the conversion has always read them.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit =
            hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) Invalid(text);
        value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (value > limit) Invalid(text);
    }
    const auto bits = static_cast<std::uint32_t>(value);
    const auto magnitude = static_cast<std::int64_t>(hex ? static_cast<std::int32_t>(bits)
                                                         : static_cast<std::int64_t>(value));
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace lumo::app
