#include "os/input/X11Backend.h"

#include "os/Log.h"
#include "os/input/EmergencyRelease.h"
#include "os/input/EventFlags.h"
#include "os/input/KeysDown.h"
#include "os/input/LeftoverRelease.h"
#include "os/input/Watchdog.h"
#include "os/input/X11EventTap.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <cstring>

namespace orvix::input {

namespace {

constexpr const char* kXTestKeyboardName = "Virtual core XTEST keyboard";

} // namespace

int X11Backend::findXTestKeyboard(Display* display) {
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    int id = -1;
    for (int i = 0; devices && i < count; ++i)
        if (devices[i].use == XISlaveKeyboard && devices[i].name &&
            strcmp(devices[i].name, kXTestKeyboardName) == 0)
            id = devices[i].deviceid;
    if (devices)
        XIFreeDeviceInfo(devices);
    return id;
}

std::unique_ptr<X11Backend> X11Backend::open(const Options& options) {
    const char* name = options.displayName.empty() ? nullptr : options.displayName.c_str();
    Display* display = XOpenDisplay(name);
    if (!display) {
        Log::write("Cannot open X display %s", name ? name : "(DISPLAY unset)");
        return nullptr;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        Log::write("X display %s has no XTEST extension", DisplayString(display));
        XCloseDisplay(display);
        return nullptr;
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)) {
        Log::write("X display %s has no XKEYBOARD extension", DisplayString(display));
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11Backend>(new X11Backend(display, options));
}

X11Backend::X11Backend(Display* display, const Options& options)
    : _display(display), _displayName(DisplayString(display)), _deviceSpec(XkbUseCoreKbd),
      _stateFile(options.statePath.empty() ? InputStateFile::defaultPath(DisplayString(display))
                                           : options.statePath) {
    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    XkbQueryExtension(_display, &opcode, &_xkbEventBase, &error, &major, &minor);

    int xiOpcode = 0, xiEvent = 0, xiError = 0;
    if (XQueryExtension(_display, "XInputExtension", &xiOpcode, &xiEvent, &xiError)) {
        int xiMajor = 2, xiMinor = 0;
        _hasXInput2 = XIQueryVersion(_display, &xiMajor, &xiMinor) == Success;
    }
    // XTest events come from their own device, whose keymap may differ from
    // the real keyboard's; the focused client reads our keys with that one.
    if (_hasXInput2)
        _xtestKeyboard = findXTestKeyboard(_display);
    if (_xtestKeyboard >= 0)
        _deviceSpec = static_cast<unsigned>(_xtestKeyboard);

    const unsigned long mapEvents = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(_display, _deviceSpec, mapEvents, mapEvents);
    // Modifier news, so a post need not ask the server for the state first.
    const unsigned long stateDetails = XkbModifierStateMask | XkbModifierLockMask;
    XkbSelectEventDetails(_display, XkbUseCoreKbd, XkbStateNotify, stateDetails, stateDetails);
    reloadKeymap();

    if (options.emergencyRelease) {
        _armed = EmergencyRelease::arm(_displayName.c_str());
        if (_armed)
            EmergencyRelease::installHandlers();
    }

    _stateFileOk = _stateFile.open();
    if (_stateFileOk) {
        if (const auto& previous = _stateFile.previous(); previous && previous->active)
            cleanUpEarlierRun(*previous);
        _savedRecord = InputStateFile::Record{};
        _savedRecord.active = true;
        _stateFile.write(_savedRecord);
        // The record says what to let go of should this process be killed.
        if (!options.watchdogPath.empty())
            _watchdog = Watchdog::start(options.watchdogPath, _displayName, _stateFile.path());
    }
    XSync(_display, False);
}

X11Backend::~X11Backend() {
    releaseAll();
    XSync(_display, False);
    if (_armed)
        EmergencyRelease::disarm();
    if (_stateFileOk)
        _stateFile.remove();
    // With the record gone, the watchdog finds nothing to do and ends.
    _watchdog.reset();
    XCloseDisplay(_display);
}

bool X11Backend::canPostAndWatch() const {
    return _display && _hasXInput2;
}

const XKeyboardMap& X11Backend::keyboardMap() {
    processPendingEvents();
    return _map;
}

void X11Backend::processPendingEvents() {
    while (XPending(_display) > 0) {
        XEvent event;
        XNextEvent(_display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            _keymapDirty = true;
        } else if (event.type == _xkbEventBase) {
            const auto* any = reinterpret_cast<const XkbAnyEvent*>(&event);
            if (any->xkb_type == XkbNewKeyboardNotify || any->xkb_type == XkbMapNotify) {
                _keymapDirty = true;
            } else if (any->xkb_type == XkbStateNotify) {
                const auto* state = reinterpret_cast<const XkbStateNotifyEvent*>(&event);
                _mods = state->mods;
                _lockedMods = state->locked_mods;
                _stateSerial = state->serial;
                _stateKnown = true;
            }
        }
    }
    if (_keymapDirty)
        reloadKeymap();
}

void X11Backend::reloadKeymap() {
    _keymapDirty = false;
    if (!_map.load(_display, _deviceSpec) && _deviceSpec != XkbUseCoreKbd) {
        // The device went away or will not say; the core keyboard's map is
        // the next best guess.
        _deviceSpec = XkbUseCoreKbd;
        _map.load(_display, _deviceSpec);
    }
}

void X11Backend::cleanUpEarlierRun(const InputStateFile::Record& record) {
    // A run that ended without cleaning up may have left modifier keys (and a
    // key being clicked) down on the XTest device, and Caps Lock changed.
    noteStateChange();
    releaseLeftovers(_display, record);
    XSync(_display, False);
    _cleanedUp = true;
    Log::write("Released modifiers left by an earlier run on display %s", _displayName.c_str());
}

std::unique_ptr<EventTap> X11Backend::createEventTap(const EventTap::Options& options) {
    X11EventTap::Options x11;
    static_cast<EventTap::Options&>(x11) = options;
    x11.displayName = _displayName;
    x11.ledger = &_ledger;
    return X11EventTap::create(x11);
}

int X11Backend::connectionNumber() const {
    return ConnectionNumber(_display);
}

unsigned X11Backend::currentModifiers(unsigned* locked) {
    // Callers have read the pending notifications already (post() and
    // setRestingFlags() start with them); one left unread only costs a query.
    // A change of ours the server has not reported back yet (or that changed
    // nothing, so it never will) leaves the kept state unsure: ask.
    if (!_stateKnown || _stateSerial < _changeSerial) {
        XkbStateRec state{};
        if (XkbGetState(_display, XkbUseCoreKbd, &state) != Success)
            return 0;
        ++_stateQueries;
        _mods = state.mods;
        _lockedMods = state.locked_mods;
        _stateSerial = LastKnownRequestProcessed(_display);
        _stateKnown = true;
    }
    if (locked)
        *locked = _lockedMods;
    return _mods;
}

void X11Backend::noteStateChange() {
    _changeSerial = NextRequest(_display);
}

void X11Backend::lockModifiers(unsigned affect, unsigned values) {
    noteStateChange();
    XkbLockModifiers(_display, XkbUseCoreKbd, affect, values);
}

void X11Backend::setLock(bool on) {
    lockModifiers(LockMask, on ? LockMask : 0);
}

void X11Backend::fakeKey(int keycode, bool down) {
    _ledger.notePosted(keycode, down);
    if (_armed)
        EmergencyRelease::noteKey(keycode, down);
    XTestFakeKeyEvent(_display, static_cast<unsigned>(keycode), down ? True : False, CurrentTime);
}

void X11Backend::applyModifiers(unsigned desired) {
    const unsigned current = currentModifiers();
    const XKeyboardMap::ModifierKey* keys[] = {&_map.shift(), &_map.control(), &_map.option(),
                                               &_map.command()};
    unsigned handled = 0;
    for (const auto* key : keys) {
        if (key->mask == 0 || key->keycode == 0 || (handled & key->mask))
            continue;
        handled |= key->mask;
        const bool want = desired & key->mask;
        const bool have = current & key->mask;
        auto ours = std::find(_pressedModifiers.begin(), _pressedModifiers.end(), key->keycode);
        if (want && !have) {
            noteStateChange();
            fakeKey(key->keycode, true);
            _pressedModifiers.push_back(key->keycode);
        } else if (!want && ours != _pressedModifiers.end()) {
            noteStateChange();
            fakeKey(key->keycode, false);
            _pressedModifiers.erase(ours);
        } else if (!want && (_lockedByUs & key->mask)) {
            // A resting lock this event must not carry; it returns afterwards.
            lockModifiers(key->mask, 0);
            _lockedByUs &= ~key->mask;
        }
        // A modifier that is in force without us (a real key held down) cannot
        // be taken away through XTest; the tap reports it as held anyway.
    }
    const bool wantLock = desired & LockMask;
    const bool haveLock = current & LockMask;
    if (wantLock != haveLock) {
        if (!_lockOriginal)
            _lockOriginal = haveLock;
        setLock(wantLock);
    }
    saveState();
}

void X11Backend::restoreResting() {
    if (!_pressedModifiers.empty())
        noteStateChange();
    for (auto it = _pressedModifiers.rbegin(); it != _pressedModifiers.rend(); ++it)
        fakeKey(*it, false);
    _pressedModifiers.clear();

    const unsigned lock = LockMask;
    const unsigned others = _restingMask & ~lock;
    if (const unsigned affect = others | _lockedByUs) {
        lockModifiers(affect, others);
        _lockedByUs = others;
    }
    if (_restingMask & lock) {
        if (!_lockOriginal) {
            unsigned locked = 0;
            currentModifiers(&locked);
            _lockOriginal = (locked & lock) != 0;
        }
        setLock(true);
    } else if (_lockOriginal) {
        setLock(*_lockOriginal);
        _lockOriginal.reset();
    }
    saveState();
}

void X11Backend::setRestingFlags(uint64_t flags) {
    processPendingEvents();
    _restingMask = _map.maskForFlags(flags);
    if (_downKeys.empty())
        restoreResting();
    XFlush(_display);
}

void X11Backend::saveState() {
    InputStateFile::Record record;
    record.active = true;
    record.keycodes = _pressedModifiers;
    record.lockRestore = _lockOriginal ? (*_lockOriginal ? 1 : 0) : -1;
    record.locks = _lockedByUs;
    if (_armed) {
        EmergencyRelease::noteLockRestore(record.lockRestore);
        EmergencyRelease::noteLocks(_lockedByUs);
    }
    if (_stateFileOk && !(record == _savedRecord)) {
        _stateFile.write(record);
        _savedRecord = record;
    }
}

bool X11Backend::post(const InputEvent& event) {
    if (!event.isKeyEvent())
        return false;
    processPendingEvents();
    const int code = static_cast<int>(event.keycode);
    const bool down = event.type == EventType::KeyDown;

    // Modifier keys act through the flags of the keys they modify.
    if (modifierBitForKeyCode(code) != 0)
        return true;

    int keycode = _map.xKeycodeFor(code);
    if (keycode == 0)
        return false;

    const unsigned desired = _map.maskForFlags(event.flags);
    if (down) {
        applyModifiers(desired);
        fakeKey(keycode, true);
        _downKeys.push_back(keycode);
    } else {
        const auto it = keyToRelease(_downKeys, keycode);
        if (it == _downKeys.end())
            return true; // nothing of ours is down; X would drop the release
        keycode = *it;
        applyModifiers(desired);
        fakeKey(keycode, false);
        _downKeys.erase(it);
        if (_downKeys.empty())
            restoreResting();
    }
    XFlush(_display);
    return true;
}

void X11Backend::releaseAll() {
    for (auto it = _downKeys.rbegin(); it != _downKeys.rend(); ++it)
        fakeKey(*it, false);
    _downKeys.clear();
    _restingMask = 0;
    restoreResting();
    XFlush(_display);
}

} // namespace orvix::input
