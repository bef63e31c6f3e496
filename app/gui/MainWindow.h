#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "app/TFormTestWL.h"
#include "app/gui/GuiDispatcher.h"
#include "app/gui/QtFormHost.h"

class QCloseEvent;
class QResizeEvent;
class QTabWidget;
class QVBoxLayout;
class QShowEvent;

namespace lumo::gui {

// The console's window: draws the form's controls (input block on top, batch
// tab at its right, result list below), writes what the operator types into
// the form, refreshes from the form after every handler and whenever the form
// lets the window repaint, and runs every handler through the form's wrapper
// so that an error shows the standard error report and the window stays
// usable. The Diagnostic tab, when shown, grows with the window (its
// anchored controls with it). Owns the form, its host and the dispatcher that brings the
// listener's events onto this thread; every widget carries its control's
// design name. Runs FormCreate when built and FormDestroy when closed. A close
// asked for while a handler runs (a signal, the window manager) waits until
// the handler has returned. GUI thread only.
class MainWindow final : public QWidget {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    app::TFormTestWL& Form() { return form_; }

    // Brings every widget up to date with the form.
    void Refresh();

    // SIGTERM and SIGINT: dismisses an open dialog, so that the handler that
    // opened it can return, and closes the window as the operator would.
    void CloseBySignal();

    // Whether a handler of the form is running (a close then waits for it).
    bool HandlerRunning() const { return running_ > 0; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class Running;
    void Run(const std::function<void()>& handler);
    void RunTask(const std::function<void()>& task);
    // The containers the controls go into.
    struct Frame {
        QWidget* inputs = nullptr;  // the input block, left of the batch panel
        QTabWidget* pages = nullptr;
        QWidget* panel1 = nullptr;  // the result list's panel
        QVBoxLayout* bottom = nullptr;
    };
    void Build();
    Frame BuildFrame();
    void AddTab(app::TControl& control, QTabWidget* pages);
    void AddControl(app::TControl& control, const Frame& frame);
    QWidget* MakeWidget(app::TControl& control, QWidget* container);
    QWidget* MakeEdit(app::TEdit& edit, QWidget* container);
    QWidget* MakeComboBox(app::TComboBox& combo, QWidget* container);
    QWidget* MakeCheckBox(app::TCheckBox& check, QWidget* container);
    QWidget* MakeButton(app::TButton& button, QWidget* container);
    QWidget* MakeListBox(app::TListBox& list, QWidget* container);
    QWidget* MakeMemo(app::TMemo& memo, QWidget* container);
    QWidget* MakeLabel(app::TControl& control, QWidget* container);
    void AddFieldLabel(app::TControl& control, QWidget* container, const QRect& field);
    void SetTabOrder();
    void FitBatchPanel();
    void Centre();
    void FocusStartControl();

    GuiDispatcher dispatcher_;
    QtFormHost host_;
    app::TFormTestWL form_;
    // Every widget that reads the form lives in here, and goes before it.
    std::unique_ptr<QWidget> body_;

    Frame frame_;
    QWidget* panel2_ = nullptr;  // the input block
    QWidget* panel3_ = nullptr;  // the batch panel, at its right
    // What keeps the anchored controls of a container in place, by container.
    std::map<QWidget*, QObject*> anchors_;
    std::map<std::string, QWidget*> widgets_;     // by design name
    std::vector<std::function<void()>> refresh_;  // one per bound widget
    int running_ = 0;
    bool refreshing_ = false;
    bool closePending_ = false;
    bool destroyed_ = false;  // FormDestroy has run
    bool shown_ = false;
};

}  // namespace lumo::gui
