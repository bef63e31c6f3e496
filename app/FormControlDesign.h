#pragma once

#include <span>
#include <string_view>

#include "app/TControls.h"

namespace lumo::app {

// The left edges of the two columns of inputs in the input block: a field
// label stands left of its input.
inline constexpr int kInputColumnA = 122;
inline constexpr int kInputColumnB = 414;

// Where a control sits in its container, in pixels; zeros where the
// container lays it out.
struct ControlBox {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The client area of a tab of the batch panel at the window's default size:
// a control of a tab anchored to its right or bottom edge keeps the
// distance it has to that edge here.
inline constexpr ControlBox kTabPage{0, 0, 308, 374};

// One control of the console's window as designed: its design name, kind and
// container, the texts a front end draws (caption, field label, hint, the
// text an input starts with), the marks, the place in the tab order, the
// box, whether it shows, and the edges that follow its container when it
// grows. The form makes its controls from these rows,
// the window draws them where they say, and the tests read them. Constant
// data; any thread.
struct ControlDesign {
    const char* name;
    ControlKind kind;
    const char* parent;
    const char* caption = "";
    const char* label = "";
    const char* text = "";
    const char* hint = "";
    unsigned marks = MarkNone;
    int tabOrder = -1;
    ControlBox box{};
    bool visible = true;
    unsigned anchors = AnchorNone;
};

// Every control of the form, in the order the form declares them: the
// window, the input block, the batch and Diagnostic tabs, the result list,
// and the two that are not drawn.
std::span<const ControlDesign> FormControlDesigns();

// The row of that design name, or nullptr.
const ControlDesign* FindControlDesign(std::string_view name);

}  // namespace lumo::app
