#include "dicom/listener/EventLoopDispatcher.h"

#include <exception>
#include <utility>

#include "support/Exception.h"

namespace lumo::dicom {

// One piece of queued work. A waiting Invoke sleeps on the call's own lock,
// never on the dispatcher's, so it may wake after the dispatcher is gone.
struct EventLoopDispatcher::Call {
    std::function<void()> task;
    bool waited = false;  // Invoke (someone waits) rather than Post

    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    std::exception_ptr error;

    void Run() {
        std::exception_ptr caught;
        try {
            task();
        } catch (...) {
            caught = std::current_exception();
        }
        Finish(caught, false);
    }

    void Finish(std::exception_ptr caught, bool dropped) {
        {
            std::lock_guard lock(mutex);
            error = std::move(caught);
            abandoned = dropped;
            done = true;
        }
        finished.notify_all();
    }
};

namespace {

Exception StoppedError() {
    return Exception(ErrorClass::EDicomError, "The event loop has stopped: the task was not run");
}

}  // namespace

EventLoopDispatcher::~EventLoopDispatcher() { Stop(); }

void EventLoopDispatcher::Invoke(const std::function<void()>& task) {
    auto call = std::make_shared<Call>();
    call->task = task;
    call->waited = true;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) throw StoppedError();
        if (loopThread_ == std::this_thread::get_id()) {
            call.reset();  // on the loop's own thread: waiting would never end
        } else {
            queue_.push_back(call);
        }
    }
    if (!call) {
        task();
        return;
    }
    wake_.notify_all();

    std::unique_lock lock(call->mutex);
    call->finished.wait(lock, [&] { return call->done; });
    if (call->abandoned) throw StoppedError();
    if (call->error) std::rethrow_exception(call->error);
}

bool EventLoopDispatcher::Post(std::function<void()> task) {
    auto call = std::make_shared<Call>();
    call->task = std::move(task);
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return false;
        queue_.push_back(std::move(call));
    }
    wake_.notify_all();
    return true;
}

void EventLoopDispatcher::Run() {
    RunUntil([] { return false; });
}

bool EventLoopDispatcher::RunUntil(const std::function<bool()>& done) {
    std::thread::id outer;
    {
        std::lock_guard lock(mutex_);
        outer = loopThread_;
        loopThread_ = std::this_thread::get_id();
    }
    bool finished = false;
    for (;;) {
        finished = done();
        if (finished) break;
        auto call = NextCall();
        if (!call) break;
        if (call->waited) {
            call->Run();
        } else {
            // Posted work has no one to hand its error to; the loop goes on.
            try {
                call->task();
            } catch (...) {
            }
        }
    }
    std::lock_guard lock(mutex_);
    loopThread_ = outer;
    return finished;
}

std::shared_ptr<EventLoopDispatcher::Call> EventLoopDispatcher::NextCall() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stopped_ || !queue_.empty(); });
    if (stopped_) return nullptr;
    auto call = std::move(queue_.front());
    queue_.pop_front();
    return call;
}

void EventLoopDispatcher::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
    AbandonQueued();
}

bool EventLoopDispatcher::Stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void EventLoopDispatcher::AbandonQueued() {
    std::deque<std::shared_ptr<Call>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
    }
    for (auto& call : dropped) call->Finish(nullptr, true);
}

}  // namespace lumo::dicom
