#include "support/Global_Utils.h"

#include <cstddef>

#include "support/Application.h"

namespace lumo {

namespace {

bool SameTextAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + ('a' - 'A'));
        if (x != y) return false;
    }
    return true;
}

}  // namespace

bool GetNamedParam(const std::string& Name, std::string& Value) {
    for (const std::string& param : CommandLineParams()) {
        const std::size_t eq = param.find('=');
        const std::string name = eq == std::string::npos ? param : param.substr(0, eq);
        if (SameTextAscii(name, Name)) {
            Value = eq == std::string::npos ? std::string() : param.substr(eq + 1);
            return true;
        }
    }
    return false;
}

bool HasNamedParam(const std::string& Name) {
    std::string ignored;
    return GetNamedParam(Name, ignored);
}

std::string ChooseStr(bool Condition, const std::string& WhenTrue, const std::string& WhenFalse) {
    return Condition ? WhenTrue : WhenFalse;
}

std::string GetDelimitedField(const std::string& Text, char Separator, int Index) {
    std::string field;
    if (Index < 1) return field;
    int seen = 0;
    for (const char c : Text) {
        if (c == Separator) {
            if (++seen >= Index) break;
        } else if (seen == Index - 1) {
            field += c;
        }
    }
    return field;
}

std::string TrimBlanks(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

}  // namespace lumo
