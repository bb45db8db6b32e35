// Posts Shift+Control+A key-down into a Wayland compositor and holds it until
// killed, as a program that crashes mid-click would.
#include "os/input/EventFlags.h"
#include "os/input/wayland/WaylandBackend.h"

#include <cstdio>
#include <unistd.h>

using namespace orvix::input;

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    auto backend = WaylandBackend::open({argv[1]});
    if (!backend)
        return 1;
    InputEvent down;
    down.type = EventType::KeyDown;
    down.keycode = keycode::A;
    down.flags = kFlagShift | kFlagControl;
    if (!backend->post(down))
        return 1;
    printf("holding\n");
    fflush(stdout);
    for (;;)
        pause();
}
