#include "os/input/EmergencyRelease.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XKBproto.h>
#include <X11/extensions/xtestproto.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace orvix::input {

namespace {

// Everything the signal handler touches is plain static storage.
std::atomic<int> gFd{-1};
std::atomic<int> gXTestOpcode{0};
std::atomic<int> gXkbOpcode{0};
std::array<std::atomic<uint8_t>, 256> gHeld{};
std::atomic<int> gLockRestore{-1};
std::atomic<unsigned> gLocks{0};
std::atomic<bool> gReleasing{false};
std::atomic<bool> gRawUsed{false}; // requests went out behind Xlib's back
Display* gDisplay = nullptr;       // touched only by arm/disarm on the main thread
std::mutex gArmMutex;

constexpr std::array<int, 9> kSignals = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV,
                                         SIGBUS,  SIGFPE, SIGILL, SIGABRT};
struct sigaction gPrevious[kSignals.size()];

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The process may end the moment the handler returns, and a server that sees
// the connection hang up may drop what it has not read yet. A request with a
// reply makes sure the releases were carried out first.
void waitForServer(int fd) {
    xReq req;
    memset(&req, 0, sizeof req);
    req.reqType = X_GetInputFocus;
    req.length = 1;
    if (!writeAll(fd, &req, sizeof req))
        return;
    // Errors and events are 32 bytes each, like the reply; skip them.
    for (int packets = 0; packets < 64; ++packets) {
        char packet[32];
        size_t got = 0;
        while (got < sizeof packet) {
            struct pollfd pfd = {fd, POLLIN, 0};
            if (poll(&pfd, 1, 1000) <= 0)
                return;
            const ssize_t n = ::read(fd, packet + got, sizeof packet - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            got += static_cast<size_t>(n);
        }
        if (packet[0] == X_Reply)
            return;
    }
}

void handleSignal(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    EmergencyRelease::releaseNow();
    errno = savedErrno;

    for (size_t i = 0; i < kSignals.size(); ++i) {
        if (kSignals[i] != sig)
            continue;
        const struct sigaction& prev = gPrevious[i];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction) {
                prev.sa_sigaction(sig, info, context);
                return;
            }
        } else if (prev.sa_handler == SIG_IGN) {
            return;
        } else if (prev.sa_handler != SIG_DFL) {
            prev.sa_handler(sig);
            return;
        }
        // Default action: put it back and deliver the signal again, so the
        // process ends (and dumps core) as it would have.
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
}

void releaseAtExit() {
    EmergencyRelease::releaseNow();
}

} // namespace

bool EmergencyRelease::arm(const char* displayName) {
    std::lock_guard lock(gArmMutex);
    if (gDisplay)
        return false; // another poster holds it
    Display* display = XOpenDisplay(displayName);
    if (!display)
        return false;
    int xtestOpcode = 0, xkbOpcode = 0, event = 0, error = 0;
    int major = XkbMajorVersion, minor = XkbMinorVersion;
    // XkbQueryExtension also enables XKB for this connection, which the
    // server wants before it takes XKB requests on it.
    if (!XQueryExtension(display, XTestExtensionName, &xtestOpcode, &event, &error) ||
        !XkbQueryExtension(display, &xkbOpcode, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return false;
    }
    XSync(display, False);
    gDisplay = display;
    gXTestOpcode.store(xtestOpcode);
    gXkbOpcode.store(xkbOpcode);
    forgetAll();
    gReleasing.store(false);
    gFd.store(ConnectionNumber(display));
    return true;
}

void EmergencyRelease::disarm() {
    std::lock_guard lock(gArmMutex);
    gFd.store(-1);
    forgetAll();
    if (gDisplay) {
        // After raw requests Xlib's idea of the connection is off: closing it
        // through Xlib would sync and complain, so just drop the socket.
        if (gRawUsed.exchange(false))
            ::close(ConnectionNumber(gDisplay));
        else
            XCloseDisplay(gDisplay);
        gDisplay = nullptr;
    }
}

bool EmergencyRelease::isArmed() {
    return gFd.load() >= 0;
}

void EmergencyRelease::noteKey(int xKeycode, bool down) {
    if (xKeycode >= 0 && xKeycode < 256)
        gHeld[xKeycode].store(down ? 1 : 0, std::memory_order_release);
}

void EmergencyRelease::noteLockRestore(int lockRestore) {
    gLockRestore.store(lockRestore, std::memory_order_release);
}

void EmergencyRelease::noteLocks(unsigned modifiers) {
    gLocks.store(modifiers & 0xFF, std::memory_order_release);
}

void EmergencyRelease::forgetAll() {
    for (auto& held : gHeld)
        held.store(0, std::memory_order_relaxed);
    gLockRestore.store(-1, std::memory_order_release);
    gLocks.store(0, std::memory_order_release);
}

void EmergencyRelease::releaseNow() noexcept {
    const int fd = gFd.load(std::memory_order_acquire);
    if (fd < 0 || gReleasing.exchange(true))
        return;
    gRawUsed.store(true);

    for (int keycode = 8; keycode < 256; ++keycode) {
        if (!gHeld[keycode].exchange(0))
            continue;
        xXTestFakeInputReq req;
        memset(&req, 0, sizeof req);
        req.reqType = static_cast<CARD8>(gXTestOpcode.load());
        req.xtReqType = X_XTestFakeInput;
        req.length = sz_xXTestFakeInputReq >> 2;
        req.type = KeyRelease;
        req.detail = static_cast<BYTE>(keycode);
        if (!writeAll(fd, &req, sizeof req))
            return;
    }
    const int lockRestore = gLockRestore.exchange(-1);
    const unsigned locks = gLocks.exchange(0) & ~static_cast<unsigned>(LockMask);
    if (lockRestore >= 0 || locks != 0) {
        xkbLatchLockStateReq req;
        memset(&req, 0, sizeof req);
        req.reqType = static_cast<CARD8>(gXkbOpcode.load());
        req.xkbReqType = X_kbLatchLockState;
        req.length = sz_xkbLatchLockStateReq >> 2;
        req.deviceSpec = XkbUseCoreKbd;
        req.affectModLocks = static_cast<CARD8>(locks | (lockRestore >= 0 ? LockMask : 0));
        req.modLocks = lockRestore == 1 ? LockMask : 0;
        if (!writeAll(fd, &req, sizeof req))
            return;
    }
    waitForServer(fd);
    gReleasing.store(false);
}

void EmergencyRelease::installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (size_t i = 0; i < kSignals.size(); ++i) {
            struct sigaction action {};
            action.sa_sigaction = handleSignal;
            action.sa_flags = SA_SIGINFO | SA_ONSTACK;
            sigemptyset(&action.sa_mask);
            sigaction(kSignals[i], &action, &gPrevious[i]);
        }
        std::atexit(releaseAtExit);
    });
}

} // namespace orvix::input
