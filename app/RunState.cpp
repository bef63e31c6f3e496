#include "app/RunState.h"

#include <utility>

namespace lumo::app {

RunState::RunState(std::function<void(bool idle)> onIdleChanged)
    : onIdleChanged_(std::move(onIdleChanged)) {}

RunState::Scope::Scope(RunState& state, bool batch) : state_(state), batch_(batch) {
    if (state_.running_++ == 0) state_.onIdleChanged_(false);
    if (batch_) state_.batchRunning_ = true;
}

RunState::Scope::~Scope() {
    if (batch_) state_.batchRunning_ = false;
    if (--state_.running_ > 0) return;
    state_.stopRequested_ = false;
    state_.onIdleChanged_(true);
}

void RunState::RequestStop() noexcept {
    stopRequested_ = true;
    std::lock_guard lock(stopMutex_);
    queryStop_.request_stop();
}

std::stop_source RunState::QueryStopSource() {
    std::lock_guard lock(stopMutex_);
    queryStop_ = std::stop_source();
    if (batchRunning_) return std::stop_source();
    if (stopRequested_) queryStop_.request_stop();
    return queryStop_;
}

}  // namespace lumo::app
