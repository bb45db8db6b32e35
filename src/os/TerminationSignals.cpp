#include "os/TerminationSignals.h"

#include "os/Log.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace orvix {
namespace {
int gPipe[2] = {-1, -1};

void onSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    ssize_t ignored = ::write(gPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::write("Could not watch for termination signals: %s", strerror(errno));
        return;
    }
    _notifier = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(_notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(gPipe[0], &byte, 1) == 1)
            emit received(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        signal(s, SIG_DFL);
}

} // namespace orvix
