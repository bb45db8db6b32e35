#pragma once

#include "app/input/KeyInput.h"
#include "os/input/EventTap.h"

#include <cstdint>

namespace orvix {

// What the tap does with each real event, written once for every backend:
// lights keys and plays sounds through the main thread, records the held
// modifiers, and stamps the effective flags on the events as they pass.
class EventTapHandler {
public:
    // The hand-offs to the main thread.
    class MainThread {
    public:
        virtual ~MainThread() = default;
        // Without waiting.
        virtual void performKeyDown(int32_t code) = 0;
        virtual void performKeyRelease(int32_t code) = 0;
        // Runs _updateHeldModifiers and waits until it has run.
        virtual void performUpdateHeldModifiersAndWait() = 0;
    };

    // Event masks, bit n for event type n.
    static constexpr uint64_t kKeysOnlyMask = 0x1C00;
    static constexpr uint64_t kKeysAndMouseMask = 0xFC01CFE;

    // The two settings are copied here once, before the tap starts.
    EventTapHandler(KeyInput& input, MainThread& mainThread, bool modifyKeyEvents,
                    bool modifyMouseEvents);

    // The events the tap should watch.
    uint64_t eventMask() const;

    // The tap callback, on the tap thread.
    void handle(input::EventTap& tap, input::InputEvent& event);
    static void callback(void* userInfo, input::EventTap& tap, input::InputEvent& event);

private:
    static bool isMarked(const input::InputEvent& event);

    KeyInput& _input;
    MainThread& _mainThread;
    const bool _modifyKeyEvents;
    const bool _modifyMouseEvents;
};

} // namespace orvix
