#include "app/gui/GuiDispatcher.h"

#include <exception>
#include <utility>
#include <vector>

#include <QMetaObject>

#include "support/Exception.h"

namespace lumo::gui {

// One task on its way to the GUI thread. Shared by the waiting caller and the
// queued call, so either may go first.
struct GuiDispatcher::Call {
    std::function<void()> task;
    std::exception_ptr error;
    bool started = false;   // guarded by the dispatcher's mutex
    bool finished = false;  // guarded by the dispatcher's mutex
};

GuiDispatcher::GuiDispatcher(Runner around)
    : around_(std::move(around)),
      guiThread_(std::this_thread::get_id()),
      receiver_(std::make_unique<QObject>()) {}

GuiDispatcher::~GuiDispatcher() { Close(); }

void GuiDispatcher::Invoke(const std::function<void()>& task) {
    if (std::this_thread::get_id() == guiThread_) {
        if (around_) {
            around_(task);
        } else {
            task();
        }
        return;
    }
    auto call = std::make_shared<Call>();
    call->task = task;
    {
        std::unique_lock lock(mutex_);
        if (closed_) {
            throw Exception(ErrorClass::EAbort, "The console is closing");
        }
        // Posting only queues an event for the receiver, which lives until
        // Close has run on the GUI thread; the lock keeps Close from running
        // in between.
        QMetaObject::invokeMethod(
            receiver_.get(), [this, call] { Run(call); }, Qt::QueuedConnection);
        ++waiting_;
        done_.wait(lock, [&] { return call->finished || (closed_ && !call->started); });
        --waiting_;
        if (!call->finished) {
            throw Exception(ErrorClass::EAbort, "The console is closing");
        }
    }
    if (call->error) {
        std::rethrow_exception(call->error);
    }
}

bool GuiDispatcher::Post(std::function<void()> task) {
    auto call = std::make_shared<Call>();
    call->task = std::move(task);
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    // A posted task's error has no one to go back to; Run keeps it unread.
    QMetaObject::invokeMethod(
        receiver_.get(), [this, call] { Run(call); }, Qt::QueuedConnection);
    return true;
}

void GuiDispatcher::Run(const std::shared_ptr<Call>& call) {
    if (holds_ > 0) {
        held_.push_back(call);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;  // its caller has been released already
        }
        call->started = true;
    }
    try {
        if (around_) {
            around_(call->task);
        } else {
            call->task();
        }
    } catch (...) {
        call->error = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        call->finished = true;
    }
    done_.notify_all();
}

GuiDispatcher::Holding::~Holding() {
    if (--dispatcher_.holds_ > 0) return;
    // Queued again rather than run here: the handler that held them has not
    // returned yet.
    for (std::shared_ptr<Call>& call : std::exchange(dispatcher_.held_, {})) {
        if (!dispatcher_.receiver_) break;  // closed: their callers are released
        QMetaObject::invokeMethod(
            dispatcher_.receiver_.get(), [d = &dispatcher_, call] { d->Run(call); },
            Qt::QueuedConnection);
    }
}

int GuiDispatcher::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

void GuiDispatcher::Close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
    }
    done_.notify_all();
    // Queued calls still in the event queue go with their receiver.
    receiver_.reset();
}

}  // namespace lumo::gui
