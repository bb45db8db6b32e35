#pragma once

#include "os/input/InputBackend.h"
#include "os/input/InputStateFile.h"
#include "os/input/PostedEventLedger.h"
#include "os/input/XKeyboardMap.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvix::input {

class Watchdog;

// Posts key events into an X11 session with XTest, addressed by physical key.
//
// A posted event reaches the focused client with exactly the modifiers of its
// event flags: the backend presses the modifier keys the event needs (and sets
// or clears Caps Lock) before a key goes down, and lets go of them once no key
// of its own is down any more. So nothing of the program's sits in the
// server's modifier state between clicks: a held Alt or Super would turn
// clicks on the panel into window-manager moves, and a held Shift would change
// what the real keyboard types. Only what setRestingFlags() asks for stays,
// as modifier locks.
//
// The modifier keys themselves (Shift, Control, Option, Command, Caps Lock,
// Function) are not sent on their own: their effect travels with the keys they
// modify. A lone Super or Alt tap would open the desktop's overview or an
// application's menu bar, which is not what latching a modifier means.
//
// X needs every key it was sent down to come up again (it repeats a key that
// stays down). A key-up for a key that is not down, as when a release names
// the key before remapping, lets go of the key of ours that is down instead.
class X11Backend final : public InputBackend {
public:
    struct Options {
        std::string displayName;      // empty: $DISPLAY
        std::string statePath;        // empty: InputStateFile::defaultPath(display)
        bool emergencyRelease = true; // arm EmergencyRelease and its signal handlers
        // The watchdog helper to start, which lets go of what this process
        // holds when it is killed; empty: none.
        std::string watchdogPath;
    };

    // Null (with a log line) when there is no X server or no XTest.
    static std::unique_ptr<X11Backend> open(const Options& options);
    ~X11Backend() override;

    bool canPostAndWatch() const override;
    bool post(const InputEvent& event) override;
    void releaseAll() override;
    // An XInput 2 tap on a connection of its own; it reports and stamps nothing
    // in flight, X having delivered the event before any client sees it.
    std::unique_ptr<EventTap> createEventTap(const EventTap::Options& options) override;
    bool stampsInFlight() const override { return false; }
    std::vector<int> mainLoopDescriptors() const override { return {connectionNumber()}; }
    void dispatch(int) override { processPendingEvents(); }

    // Modifiers to keep in force between posts, as XKB modifier locks, so that
    // real key presses (and clicks) pick them up: the nearest X11 comes to
    // stamping flags on real events in flight. 0 (the default) keeps nothing.
    // A key of ours that is down keeps its own modifiers until it comes up.
    // releaseAll() drops them.
    void setRestingFlags(uint64_t flags) override;

    // The keymap in force for posted keys, refreshed on keymap changes.
    const XKeyboardMap& keyboardMap();
    PostedEventLedger& ledger() { return _ledger; }
    Display* display() const { return _display; }
    // XInput device id of the XTest keyboard, or -1 when XInput 2 is missing.
    int xtestKeyboardId() const { return _xtestKeyboard; }
    // The same for any connection: the device that carries every XTest client's keys.
    static int findXTestKeyboard(Display* display);
    bool cleanedUpEarlierRun() const { return _cleanedUp; }
    // Another live process holds the state record: nothing of it was touched.
    bool stateHeldByAnother() const { return _stateFile.heldByAnother(); }
    const Watchdog* watchdog() const { return _watchdog.get(); }

    // The connection's socket: when it is readable, call dispatchEvents(), so
    // keymap and modifier-state news never pile up between posts.
    int connectionNumber() const;
    void dispatchEvents() { processPendingEvents(); }
    // How often the modifier state had to be asked of the server (a round
    // trip); posts normally read it from the server's own notifications.
    unsigned stateQueries() const { return _stateQueries; }

    X11Backend(const X11Backend&) = delete;
    X11Backend& operator=(const X11Backend&) = delete;

private:
    X11Backend(Display* display, const Options& options);

    void processPendingEvents();
    void reloadKeymap();
    void cleanUpEarlierRun(const InputStateFile::Record& record);
    unsigned currentModifiers(unsigned* locked = nullptr);
    void applyModifiers(unsigned desired);
    void restoreResting();
    void setLock(bool on);
    void fakeKey(int keycode, bool down);
    void lockModifiers(unsigned affect, unsigned values);
    void noteStateChange();
    void saveState();

    Display* _display;
    std::string _displayName;
    int _xkbEventBase = 0;
    bool _hasXInput2 = false;
    int _xtestKeyboard = -1;
    unsigned _deviceSpec;
    bool _keymapDirty = false;
    bool _cleanedUp = false;
    bool _armed = false;

    XKeyboardMap _map;
    PostedEventLedger _ledger;
    InputStateFile _stateFile;
    bool _stateFileOk = false;
    InputStateFile::Record _savedRecord;
    std::unique_ptr<Watchdog> _watchdog;

    std::vector<int> _downKeys;         // keys of ours that are down, oldest first
    std::vector<int> _pressedModifiers; // modifier keys pressed for them
    std::optional<bool> _lockOriginal;  // Caps Lock before we changed it
    unsigned _restingMask = 0;          // X modifiers to keep between posts
    unsigned _lockedByUs = 0;           // of those (but Lock), the ones locked now

    // The core keyboard's modifier state as of request _stateSerial, kept from
    // XkbStateNotify events. It is trusted only when no request of ours that
    // changes modifiers (_changeSerial) is newer than what it reflects.
    unsigned _mods = 0;
    unsigned _lockedMods = 0;
    bool _stateKnown = false;
    unsigned long _stateSerial = 0;
    unsigned long _changeSerial = 0;
    unsigned _stateQueries = 0;
};

} // namespace orvix::input
