#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct wl_display;
struct wl_seat;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace orvix::test {

// A private headless Wayland compositor for tests: sway (wlroots, with the
// virtual-keyboard protocol) or weston (without it), in a runtime directory
// of its own. Compositors refuse to run as root, so it and the clients it
// starts run as an unprivileged system user, created on first use; the test
// program itself connects through the socket's absolute path. Everything it
// started is killed when it ends, also when the test program dies.
class WaylandSession {
public:
    enum class Compositor { Sway, Weston };
    static constexpr const char* kUser = "orvix-test";

    // With `xwayland`, the compositor runs XWayland for X11 clients (as on a
    // desktop).
    explicit WaylandSession(Compositor compositor = Compositor::Sway, bool xwayland = false);
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    bool isRunning() const { return !_socket.isEmpty(); }
    // Why the session did not start, for the test's skip or failure message.
    QString error() const { return _error; }
    // The socket's absolute path: a WAYLAND_DISPLAY any local client can use.
    QString socketPath() const { return _socket; }
    // XWayland's display, once the compositor has announced it; empty when
    // there is none.
    QString xDisplay();

    // The session's runtime directory, also its user's home there.
    QString runtimeDir() const { return _runtimeDir; }
    // Writes a file under the runtime directory, owned by the session's user.
    bool writeFile(const QString& relativePath, const QByteArray& content);

    // Starts a program as the session's user in the session, stdout and
    // stderr merged; `env` adds to the session's environment.
    QProcess* start(const QString& program, const QStringList& arguments = {},
                    const QProcessEnvironment& env = {});
    // Runs a program so, to completion, and answers its output.
    QString run(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& env = {});

private:
    bool ensureUser();
    static void removeStaleXSockets();

    QString _runtimeDir;
    QString _socket;
    QString _error;
    QString _xDisplay;
    unsigned _uid = 0, _gid = 0;
    std::vector<std::unique_ptr<QProcess>> _processes;
};

// A pointer on the compositor's seat (the virtual-pointer protocol), for
// clicks that go through the compositor as a user's would: the headless
// seat has no pointer of its own. Positions are in the output layout, which
// XWayland's root window covers, so X coordinates serve.
class VirtualPointer {
public:
    explicit VirtualPointer(const QString& socketPath);
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    bool isReady() const { return _pointer != nullptr; }
    // The size of the output layout (XWayland's root), which positions scale to.
    void setLayoutSize(int width, int height) {
        _width = width;
        _height = height;
    }
    bool moveTo(int x, int y);
    bool button(bool down);
    bool click(int x, int y) { return moveTo(x, y) && button(true) && button(false); }

private:
    bool send();

    wl_display* _display = nullptr;
    zwlr_virtual_pointer_manager_v1* _manager = nullptr;
    wl_seat* _seat = nullptr;
    zwlr_virtual_pointer_v1* _pointer = nullptr;
    uint32_t _time = 0;
    int _width = 1280, _height = 720;
};

// The keys a native Wayland client (wev) receives while it has the focus,
// with the keysym, text and modifier masks in force for each.
class KeyRecorder {
public:
    struct Key {
        QString sym;
        QString text;
        unsigned depressed = 0;
        unsigned locked = 0;
    };

    // Starts the client; waitForWindow() before posting.
    explicit KeyRecorder(WaylandSession& session);
    bool waitForWindow();
    // Until the client has the keyboard focus (it needs a keyboard on the
    // seat), which it lost when the seat's last keyboard went.
    bool waitForFocus();
    // Waits until `count` key presses arrived; answers the presses so far.
    std::vector<Key> waitForKeys(size_t count, int timeoutMs = 15000);
    // The modifiers in force and the keys held, after everything that arrived.
    unsigned depressed() const { return _depressed; }
    int heldKeys() const { return _held; }
    bool focused() const { return _focused; }
    // Polls until `condition` holds over what arrived.
    bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);
    QString output() const { return _output; }

private:
    void read();

    QProcess* _process;
    QString _output;
    std::vector<Key> _keys;
    unsigned _depressed = 0, _locked = 0;
    int _held = 0;
    bool _focused = false;
};

} // namespace orvix::test
