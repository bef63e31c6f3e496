#include "app/gui/CloseOnSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <utility>

#include <QSocketNotifier>

#include "support/Exception.h"

namespace lumo::gui {

namespace {

// The pipe of the one live instance; -1 when there is none. The handler may
// only use async-signal-safe calls, so it sees nothing but this descriptor.
volatile std::sig_atomic_t writeEnd = -1;
int readEnd = -1;
struct sigaction previousTerm;
struct sigaction previousInt;

extern "C" void OnCloseSignal(int signo) {
    const int savedErrno = errno;
    const int fd = writeEnd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signo);
        [[maybe_unused]] const auto written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

CloseOnSignal::CloseOnSignal(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (writeEnd >= 0) {
        throw Exception(ErrorClass::EInvalidOperation, "The signal handlers are already installed");
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw Exception(ErrorClass::EOSError,
                        std::string("Cannot create the signal pipe: ") + std::strerror(errno));
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });

    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previousTerm);
    sigaction(SIGINT, &action, &previousInt);
}

CloseOnSignal::~CloseOnSignal() {
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    notifier_.reset();
    const int fd = writeEnd;
    writeEnd = -1;
    close(fd);
    close(readEnd);
    readEnd = -1;
}

void CloseOnSignal::Drain() {
    unsigned char bytes[16];
    bool any = false;
    for (;;) {
        const auto n = read(readEnd, bytes, sizeof bytes);
        if (n <= 0) {
            break;
        }
        received_ += static_cast<int>(n);
        any = true;
    }
    if (any && onSignal_) {
        onSignal_();
    }
}

}  // namespace lumo::gui
