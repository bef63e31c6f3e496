#include "support/NamedParams.h"

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

}  // namespace lumo
