#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/FormHost.h"

class QWidget;

namespace lumo::gui {

class GuiDispatcher;

// What the form gets from the Qt screen: Qt's message boxes and file dialog,
// a pass of the event loop, the window's refresh and work run while the
// window stays alive. Holds references to the
// window (parent of its dialogs), the window's refresh and the dispatcher;
// all three outlive it. GUI thread only.
class QtFormHost final : public app::FormHost {
  public:
    QtFormHost(QWidget& window, std::function<void()> refresh, GuiDispatcher& dispatcher);

    void ShowMessage(const std::string& title, const std::string& text,
                     app::MessageKind kind) override;
    void ShowException(const std::string& text) override;
    std::optional<std::string> ChooseFile(const app::TOpenDialog& dialog) override;
    std::optional<std::string> ChooseSaveFile(const std::string& suggested) override;
    void ProcessMessages() override;
    void Changed() override;
    void CopyText(const std::string& text) override;
    void RunBusy(const std::function<void()>& work, const std::function<void()>& progress) override;
    dicom::Dispatcher& FormDispatcher() override;

  private:
    static constexpr int kProgressInterval = 250;  // milliseconds

    QWidget& window_;
    std::function<void()> refresh_;
    GuiDispatcher& dispatcher_;
};

}  // namespace lumo::gui
