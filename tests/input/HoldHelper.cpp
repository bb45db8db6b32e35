// input_hold_helper DISPLAY STATEFILE hold|term|segv|exit|graceful: keeps
// Control locked and a key down with modifiers, prints "holding", then ends
// as told, so the tests see what each way of ending leaves in the session:
// hold and term wait for a signal, segv crashes, exit calls exit(), and
// graceful quits through its own SIGTERM handler and the normal release.
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <X11/Xlib.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

using namespace orvix::input;

namespace {
volatile sig_atomic_t gQuit = 0;
void askToQuit(int) {
    gQuit = 1;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const char* mode = argv[3];
    // "graceful": a polite quit path of the program's own, installed first,
    // as the application's termination handling is.
    if (strcmp(mode, "graceful") == 0)
        signal(SIGTERM, askToQuit);
    X11Backend::Options options;
    options.displayName = argv[1];
    options.statePath = argv[2];
    options.emergencyRelease = strcmp(mode, "hold") != 0;
    // Deliberately never destroyed: the point is to end without it.
    X11Backend* backend = X11Backend::open(options).release();
    if (!backend)
        return 1;

    backend->setRestingFlags(kFlagControl);
    InputEvent event;
    event.type = EventType::KeyDown;
    event.keycode = keycode::A;
    event.flags = kFlagShift | kFlagAlternate | kFlagAlphaShift | kFlagControl;
    event.userData = kMarkerValue;
    if (!backend->post(event))
        return 1;
    XSync(backend->display(), False);
    printf("holding\n");
    fflush(stdout);

    if (strcmp(mode, "segv") == 0) {
        raise(SIGSEGV);
    } else if (strcmp(mode, "exit") == 0) {
        std::exit(3);
    }
    while (!gQuit)
        pause();
    delete backend;
    printf("clean\n");
    fflush(stdout);
    return 0;
}
