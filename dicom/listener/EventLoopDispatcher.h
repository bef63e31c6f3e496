#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "dicom/listener/Dispatcher.h"

namespace lumo::dicom {

// A dispatcher without a window: tasks run on whichever thread calls Run or
// RunUntil (the command line's main thread, a test's thread). Owns the queue
// of waiting work; Invoke, Post and Stop may be called from any thread. Once
// stopped it runs nothing more: waiting and later Invokes raise EDicomError
// instead of waiting for a loop that will never come, so a network thread is
// never stranded.
class EventLoopDispatcher : public Dispatcher {
  public:
    EventLoopDispatcher() = default;
    ~EventLoopDispatcher() override;
    EventLoopDispatcher(const EventLoopDispatcher&) = delete;
    EventLoopDispatcher& operator=(const EventLoopDispatcher&) = delete;

    // Runs `task` on the loop's thread and waits for it; on the loop's own
    // thread it runs at once. The task's exception is passed back.
    void Invoke(const std::function<void()>& task) override;
    // Queues `task` without waiting. False (and nothing queued) once stopped.
    bool Post(std::function<void()> task) override;

    // Runs tasks until Stop.
    void Run();
    // Runs tasks until `done` answers true (asked before waiting and after
    // each task) or until Stop. Answers `done`'s last answer.
    bool RunUntil(const std::function<bool()>& done);
    // Ends the loop after the task in progress and refuses further work.
    void Stop();
    bool Stopped() const;

  private:
    struct Call;

    std::shared_ptr<Call> NextCall();
    void AbandonQueued();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Call>> queue_;
    std::thread::id loopThread_;
    bool stopped_ = false;
};

}  // namespace lumo::dicom
