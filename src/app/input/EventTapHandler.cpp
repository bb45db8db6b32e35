#include "app/input/EventTapHandler.h"

#include "os/Log.h"
#include "os/input/EventFlags.h"

namespace orvix {

using namespace input;

EventTapHandler::EventTapHandler(KeyInput& input, MainThread& mainThread, bool modifyKeyEvents,
                                 bool modifyMouseEvents)
    : _input(input), _mainThread(mainThread), _modifyKeyEvents(modifyKeyEvents),
      _modifyMouseEvents(modifyMouseEvents) {}

uint64_t EventTapHandler::eventMask() const {
    return _modifyMouseEvents ? kKeysAndMouseMask : kKeysOnlyMask;
}

bool EventTapHandler::isMarked(const InputEvent& event) {
    return static_cast<int32_t>(event.userData) == kMarkerValue;
}

void EventTapHandler::callback(void* userInfo, EventTap& tap, InputEvent& event) {
    static_cast<EventTapHandler*>(userInfo)->handle(tap, event);
}

void EventTapHandler::handle(EventTap& tap, InputEvent& event) {
    switch (event.type) {
    case EventType::TapDisabledByTimeout:
        Log::write("Disabled by timeout");
        tap.setEnabled(true);
        return;
    case EventType::TapDisabledByUserInput:
        return;
    case EventType::KeyDown:
    case EventType::KeyUp:
        if (isMarked(event))
            return;
        // Repeats light nothing and play nothing.
        if (event.autorepeat == 0) {
            const auto code = static_cast<int32_t>(event.keycode);
            if (event.type == EventType::KeyDown)
                _mainThread.performKeyDown(code);
            else
                _mainThread.performKeyRelease(code);
        }
        if (_modifyKeyEvents)
            event.flags = _input.effectiveFlags();
        return;
    case EventType::FlagsChanged:
        if (isMarked(event))
            return;
        _input.setHeldFlags(event.flags);
        // Waits, so this very event leaves stamped with its own change.
        _mainThread.performUpdateHeldModifiersAndWait();
        if (_modifyKeyEvents)
            event.flags = _input.effectiveFlags();
        return;
    default:
        // Mouse, scroll and tablet events, which only the wider mask brings.
        event.flags = _input.effectiveFlags();
        return;
    }
}

} // namespace orvix
