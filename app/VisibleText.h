#pragma once

#include <string>
#include <string_view>

namespace lumo::app {

// A text from a node made safe to show: every control character (C0 but
// the tab, DEL, and C1) becomes its code in hexadecimal between angle
// brackets ("<1B>", "<0D>", "<9B>"), so that a value cannot split a line,
// hide text or send escapes to a terminal. Everything else, UTF-8 included,
// is kept. Stateless; any thread.
std::string VisibleText(std::string_view text);
// The same, keeping the text itself when it has nothing to show (no copy).
std::string VisibleText(std::string&& text);

// Whether a text holds a control character that VisibleText would show.
bool HasControlCharacter(std::string_view text);

}  // namespace lumo::app
