#pragma once

typedef struct _XDisplay Display;

namespace orvix::input {

// Last-resort release of whatever the program holds down in the X session,
// for paths where the normal release cannot run: fatal signals, termination
// signals and exit() without the usual shut-down.
//
// Xlib is not async-signal-safe, so the release is precomputed: the channel
// keeps a second X connection of its own that Xlib never writes to after
// setup, and a signal handler writes ready-made XTest and XKB requests to its
// socket with write(2). Which keys to release lives in lock-free atomics that
// the poster keeps current.
//
// Process-wide: one poster at a time is armed.
class EmergencyRelease {
public:
    // Opens the spare connection to displayName. False when the display or
    // its XTest or XKB extension is missing, or another poster is armed.
    static bool arm(const char* displayName);
    static void disarm();
    static bool isArmed();

    // The poster reports its holdings here as they change.
    static void noteKey(int xKeycode, bool down);
    static void noteLockRestore(int lockRestore); // -1 none, 0 unlock, 1 lock
    static void noteLocks(unsigned modifiers);    // X modifiers to unlock
    static void forgetAll();

    // Sends the releases. Async-signal-safe; sends each at most once.
    static void releaseNow() noexcept;

    // Handlers for SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE,
    // SIGILL and SIGABRT that release and then hand the signal on to what
    // was installed before (or its default action). Also an atexit hook.
    // Installed once per process.
    static void installHandlers();
};

} // namespace orvix::input
