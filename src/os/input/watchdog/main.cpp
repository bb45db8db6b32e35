// orvix-watchdog DISPLAY STATEFILE PARENTPID, started by the keyboard process
// with the read end of a pipe as descriptor 3; only the keyboard process holds
// the write end. When that process is gone, lets go of every key and lock its
// input state record names, then ends. A clean end removes the record first,
// so there is then nothing to do.
#include "os/Log.h"
#include "os/input/InputStateFile.h"
#include "os/input/LeftoverRelease.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace orvix;
using namespace orvix::input;

namespace {
constexpr int kPipeFd = 3;

void wake(int) {}

// Returns once the parent has died.
void waitForParent(pid_t parent) {
    // The pipe's end of file is the main signal; the death signal covers a
    // write end that lingers in a child the parent forked without exec.
    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGUSR1);
    while (getppid() == parent) {
        pollfd fd{kPipeFd, POLLIN, 0};
        const int ready = poll(&fd, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return;
        char byte[64];
        const ssize_t got = read(kPipeFd, byte, sizeof byte);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return;
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    // The terminal's signals reach the whole process group; the parent ends
    // cleanly on them, and this helper must be there to see whether it did.
    for (int sig : {SIGINT, SIGHUP, SIGQUIT, SIGPIPE})
        signal(sig, SIG_IGN);
    if (chdir("/") != 0)
        return 1;
    const pid_t parent = static_cast<pid_t>(std::atol(argv[3]));
    waitForParent(parent);

    InputStateFile file(argv[2]);
    // A new copy may have taken the record over already; then it cleans up.
    if (!file.open(std::chrono::seconds(3)))
        return 0;
    const auto& record = file.previous();
    if (record && record->active) {
        Display* display = XOpenDisplay(argv[1]);
        if (!display)
            return 1; // the record stays for the next start
        releaseLeftovers(display, *record);
        XSync(display, False);
        XCloseDisplay(display);
        Log::write("Released keys and modifiers left by process %d on display %s",
                   static_cast<int>(parent), argv[1]);
    }
    file.remove();
    return 0;
}
