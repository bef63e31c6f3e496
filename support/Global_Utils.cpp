#include "support/Global_Utils.h"

#include <cstddef>

namespace lumo {

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
