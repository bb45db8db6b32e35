// Runs the evdev tap in a process of its own, so a test can kill it.
#include "os/input/evdev/EvdevBackend.h"

using namespace orvix::input;

int main() {
    auto backend = EvdevBackend::open({});
    if (!backend)
        return 1;
    EventTap::Options options;
    options.stampKeys = true;
    auto tap = backend->createEventTap(options);
    if (!tap)
        return 1;
    tap->run();
    return 0;
}
