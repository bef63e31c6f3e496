#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <stop_token>

namespace lumo::app {

// What runs on the form and how it stops: whether a query, the worklist
// check or the batch runs, and a stop asked for meanwhile. A query takes its
// stop from here, so that a stop asked from any thread (the stop button,
// the window's close, a signal to the command line) cancels it at once; the
// batch stops between two records instead, its records' queries having a
// stop that nothing requests. Owned by the form. RequestStop and
// StopRequested: any thread; the rest: the form's thread.
class RunState {
  public:
    // Called with false when the first run starts (the inputs go disabled,
    // the stop button enabled) and with true when the last one ends.
    explicit RunState(std::function<void(bool idle)> onIdleChanged);

    // While one lives, something runs; the outermost forgets a stop request
    // when it ends.
    class Scope {
      public:
        explicit Scope(RunState& state, bool batch = false);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        RunState& state_;
        const bool batch_;
    };

    void RequestStop() noexcept;
    bool StopRequested() const noexcept { return stopRequested_; }
    // A run that starts afresh (the batch) forgets a stop asked before it.
    void ForgetStop() noexcept { stopRequested_ = false; }
    bool Running() const { return running_ > 0; }

    // The stop for the query about to run: a stop asked for since the run
    // began holds; the batch's records get one nothing requests.
    std::stop_source QueryStopSource();

  private:
    std::function<void(bool)> onIdleChanged_;
    std::atomic<bool> stopRequested_{false};
    int running_ = 0;
    bool batchRunning_ = false;
    std::mutex stopMutex_;
    std::stop_source queryStop_;  // guarded by stopMutex_
};

}  // namespace lumo::app
