#pragma once

#include <functional>
#include <memory>

#include <QObject>

class QSocketNotifier;

namespace lumo::gui {

// Turns SIGTERM and SIGINT into a call on the GUI thread (the window's close),
// so that the program stops as when the operator closes the window: settings
// written, log drained. The signal handler only writes a byte to a pipe; a
// socket notifier reads it in the event loop. One instance at a time per
// process: it installs the handlers and restores the previous ones when it
// goes. Create and destroy it on the GUI thread.
class CloseOnSignal final : public QObject {
    Q_OBJECT

  public:
    CloseOnSignal(std::function<void()> onSignal, QObject* parent = nullptr);
    ~CloseOnSignal() override;
    CloseOnSignal(const CloseOnSignal&) = delete;
    CloseOnSignal& operator=(const CloseOnSignal&) = delete;

    // How many signals have arrived so far.
    int Received() const { return received_; }

  private:
    void Drain();

    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace lumo::gui
