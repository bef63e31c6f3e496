#include "app/TControls.h"

#include <stdexcept>

#include "app/FormControlDesign.h"

namespace lumo::app {

TControl* ControlList::Find(std::string_view name) const {
    for (TControl* control : controls_) {
        if (control->Name == name) return control;
    }
    return nullptr;
}

namespace {

// A control the table does not hold, or holds as another kind, is a fault
// of the program that every test of the form would meet at once.
const ControlDesign& DesignOf(const std::string& name, ControlKind kind) {
    const ControlDesign* design = FindControlDesign(name);
    if (design == nullptr) throw std::logic_error("control without a design: " + name);
    if (design->kind != kind) throw std::logic_error("control of another kind: " + name);
    return *design;
}

}  // namespace

TControl::TControl(ControlList& list, std::string name, ControlKind kind)
    : Name(std::move(name)), Kind(kind), Parent(DesignOf(Name, kind).parent) {
    const ControlDesign& design = DesignOf(Name, kind);
    Caption = design.caption;
    LabelCaption = design.label;
    Hint = design.hint;
    Marks = design.marks;
    Anchors = design.anchors;
    TabOrder = design.tabOrder;
    Visible = design.visible;
    Left = design.box.left;
    Top = design.box.top;
    Width = design.box.width;
    Height = design.box.height;
    designText_ = design.text;
    list.Add(*this);
}

TControl::TControl(std::string name, ControlKind kind, std::string parent)
    : Name(std::move(name)), Kind(kind), Parent(std::move(parent)) {}

void TButton::Click() {
    if (OnClick) OnClick(*this);
}

}  // namespace lumo::app
