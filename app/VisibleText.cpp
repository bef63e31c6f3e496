#include "app/VisibleText.h"

#include <cstdio>
#include <utility>

namespace lumo::app {

namespace {

// The length of the control character at `at` (1, or 2 for a C1 character
// in UTF-8), 0 when there is none there, and its code.
std::size_t ControlAt(std::string_view text, std::size_t at, unsigned& code) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
        code = byte;
        return 1;
    }
    if (byte == 0xC2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9F) {
            code = next;
            return 2;
        }
    }
    return 0;
}

}  // namespace

std::string VisibleText(std::string_view text) {
    if (!HasControlCharacter(text)) return std::string(text);
    std::string shown;
    shown.reserve(text.size() + 8);
    for (std::size_t at = 0; at < text.size();) {
        unsigned code = 0;
        if (const std::size_t length = ControlAt(text, at, code)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "<%02X>", code);
            shown += escaped;
            at += length;
        } else {
            shown += text[at++];
        }
    }
    return shown;
}

std::string VisibleText(std::string&& text) {
    if (!HasControlCharacter(text)) return std::move(text);
    return VisibleText(std::string_view(text));
}

bool HasControlCharacter(std::string_view text) {
    unsigned code = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (ControlAt(text, at, code)) return true;
    }
    return false;
}

}  // namespace lumo::app
