#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/TStrings.h"
#include "dicom/listener/DicomViewer.h"

namespace lumo::app {

enum class ControlKind {
    Form,
    Panel,
    PageControl,
    TabSheet,
    Label,
    Edit,
    ComboBox,
    CheckBox,
    Button,
    ListBox,
    Memo,
    OpenDialog,
    Viewer,
};

// The small coloured marks beside a field: a red "W" for the fields the
// worklist query uses, a blue "CF" for those the C-FIND queries use.
enum ControlMarks : unsigned { MarkNone = 0u, MarkW = 1u, MarkCF = 2u };

class TControl;

// The controls of one form, in the order they were made: a control made
// with its form's list adds itself to it. Holds no control (the form owns
// them as its members); the form's thread.
class ControlList {
  public:
    void Add(TControl& control) { controls_.push_back(&control); }
    const std::vector<TControl*>& Items() const { return controls_; }
    // The control of that design name, or nullptr.
    TControl* Find(std::string_view name) const;

  private:
    std::vector<TControl*> controls_;
};

// One control of the console without pixels: its design name, kind, place
// (the design name of its container) and the texts a front end draws. A
// control made with its form's list takes all of that from the form's table
// of controls (FormControlDesign.h); one made with a parent only is a spare,
// with none of it. Owned by the form; used on the form's thread only.
// Subclasses add the state of their kind; a front end tells them apart by
// Kind.
class TControl {
  public:
    TControl(ControlList& list, std::string name, ControlKind kind);
    TControl(std::string name, ControlKind kind, std::string parent);
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;
    const ControlKind Kind;
    const std::string Parent;  // empty for the form itself

    std::string Caption;       // form, tab, label, button, check box
    std::string LabelCaption;  // the field label drawn beside an input ("IP:"); empty when none
    std::string Hint;          // an edit with a hint is drawn on the light 3-D colour
    unsigned Marks = MarkNone;
    int TabOrder = -1;  // -1: no fixed place in the tab order
    bool Visible = true;
    bool Enabled = true;  // false while a query runs, for every input but the stop
    // Its place in its container, in pixels, where the design fixes it; 0
    // where the container lays it out (a panel's height alone, a list
    // filling its panel).
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

  protected:
    // The text an edit or a drop-down list starts with, from the table.
    const char* DesignText() const { return designText_; }

  private:
    const char* designText_ = "";
};

class TLabel : public TControl {
  public:
    TLabel(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::Label) {}
};

class TEdit : public TControl {
  public:
    TEdit(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::Edit), Text(DesignText()) {}
    std::string Text;
};

// An editable drop-down list: Text is what the box shows, listed or typed.
class TComboBox : public TControl {
  public:
    TComboBox(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::ComboBox), Text(DesignText()) {}
    std::string Text;
    std::vector<std::string> Items;
};

class TCheckBox : public TControl {
  public:
    TCheckBox(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::CheckBox) {}
    bool Checked = false;
};

// A push button. Click() runs its handler with the button as sender, as a
// press by the operator does (handlers call it too: the batch presses the
// study button). A button without a handler does nothing.
class TButton : public TControl {
  public:
    TButton(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::Button) {}
    TButton(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::Button, std::move(parent)) {}
    std::function<void(TControl& sender)> OnClick;
    void Click();
};

class TListBox : public TControl {
  public:
    TListBox(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::ListBox) {}
    TStrings Items;
    int ItemIndex = -1;  // the selected line, -1 for none
    // A double click on a line (ItemIndex says which); none: nothing happens.
    std::function<void(TControl& sender)> OnDblClick;
};

class TMemo : public TControl {
  public:
    TMemo(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::Memo) {}
    TStrings Lines;
};

class TOpenDialog : public TControl {
  public:
    TOpenDialog(ControlList& list, std::string name)
        : TControl(list, std::move(name), ControlKind::OpenDialog) {}
    std::string DefaultExt;
    std::string FileName;  // the last chosen file
};

// The hidden listener of listen mode: owns the toolkit's viewer, whose
// events run on the host's dispatcher thread.
class TDicomViewer : public TControl {
  public:
    TDicomViewer(ControlList& list, std::string name, dicom::Dispatcher& dispatcher)
        : TControl(list, std::move(name), ControlKind::Viewer), Viewer(dispatcher) {}
    dicom::DicomViewer Viewer;
};

}  // namespace lumo::app
