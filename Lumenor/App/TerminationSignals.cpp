#include "Lumenor/App/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array handledSignals{SIGTERM, SIGINT, SIGHUP};

// Read end, write end; the handler reads only the write end, which is set before any handler.
int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending quit; losing this byte loses nothing.
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = true;
    for (int signal : handledSignals) {
        installed_ = ::sigaction(signal, &action, nullptr) == 0 && installed_;
    }
}

TerminationSignals::~TerminationSignals() {
    for (int signal : handledSignals) {
        ::signal(signal, SIG_DFL);
    }
    if (notifier_) {
        notifier_->setEnabled(false);
    }
    for (int& fd : signalPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void TerminationSignals::drain() {
    char bytes[64];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    // A second signal while the shutdown waits on the helper ends the process at once, as the
    // person pressing Ctrl-C twice expects.
    for (int signal : handledSignals) {
        ::signal(signal, SIG_DFL);
    }
    QCoreApplication::quit();
}
