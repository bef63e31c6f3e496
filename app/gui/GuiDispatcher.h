#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QObject>

#include "dicom/listener/Dispatcher.h"

namespace lumo::gui {

// Brings the listener's events onto the GUI thread: Invoke from another thread
// queues the task to the GUI thread's event loop and waits until it has run,
// passing an exception back to the caller; Invoke on the GUI thread runs the
// task at once. Post queues a task without waiting for it. Close releases every waiting caller
// (their calls fail) and refuses later ones, so that a window being destroyed never waits for a
// network thread that waits for the window. Create, close and destroy it on
// the GUI thread; Invoke from any thread.
class GuiDispatcher final : public dicom::Dispatcher {
  public:
    // `around` runs every task on the GUI thread (the window counts it as a
    // running handler and refreshes afterwards); by default the task runs bare.
    using Runner = std::function<void(const std::function<void()>& task)>;
    explicit GuiDispatcher(Runner around = {});
    ~GuiDispatcher() override;
    GuiDispatcher(const GuiDispatcher&) = delete;
    GuiDispatcher& operator=(const GuiDispatcher&) = delete;

    void Invoke(const std::function<void()>& task) override;
    bool Post(std::function<void()> task) override;
    void Close();

    // Callers waiting for their task to run.
    int Waiting() const;

    // While one lives, tasks that reach the GUI thread wait (their callers
    // too) and run once the last one goes: a loop the window runs inside a
    // handler must not run a listener event inside it. GUI thread only.
    class Holding {
      public:
        explicit Holding(GuiDispatcher& dispatcher) : dispatcher_(dispatcher) {
            ++dispatcher_.holds_;
        }
        ~Holding();
        Holding(const Holding&) = delete;
        Holding& operator=(const Holding&) = delete;

      private:
        GuiDispatcher& dispatcher_;
    };

  private:
    struct Call;
    void Run(const std::shared_ptr<Call>& call);

    Runner around_;
    std::thread::id guiThread_;
    std::unique_ptr<QObject> receiver_;  // lives on the GUI thread
    mutable std::mutex mutex_;
    std::condition_variable done_;
    bool closed_ = false;                      // guarded by mutex_
    int waiting_ = 0;                          // guarded by mutex_
    int holds_ = 0;                            // GUI thread only
    std::vector<std::shared_ptr<Call>> held_;  // GUI thread only
};

}  // namespace lumo::gui
