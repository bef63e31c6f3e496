#pragma once

#include <functional>

namespace lumo::dicom {

// Runs work on the form's thread for a thread that must wait for it (the
// listener's threads). The Qt window supplies a blocking queued call
// onto the GUI thread; the command line and tests use EventLoopDispatcher.
class Dispatcher {
  public:
    virtual ~Dispatcher() = default;
    // Runs `task` on the form's thread and returns when it is done. An
    // exception thrown by the task is passed back to the caller.
    virtual void Invoke(const std::function<void()>& task) = 0;
    // Queues `task` to run on the form's thread and returns at once; false
    // (and nothing queued) when the dispatcher takes no more work. A task
    // still queued when the dispatcher closes is dropped unrun. What the
    // listener uses: a thread waiting for the form's thread must be free to
    // give up when the listener stops.
    virtual bool Post(std::function<void()> task) = 0;
};

}  // namespace lumo::dicom
