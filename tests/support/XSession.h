#pragma once

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct _XDisplay;

namespace orvix::test {

// A private X session for tests: its own Xvfb on a free display number,
// optionally openbox, and a temporary home with its own XDG folders. Every
// process started through it is killed when the session ends, also when a
// test fails or the test program dies (the children get SIGKILL with it).
class XSession {
public:
    struct Options {
        bool windowManager = true;
        // Xvfb, or Xorg where the server must read the kernel's input
        // devices (its configuration then comes in `serverArguments`).
        QString server = QStringLiteral("Xvfb");
        QString screen = QStringLiteral("1280x800x24");
        // Added to Xvfb's command line, e.g. {"-extension", "XTEST"} for a
        // server without XTEST.
        QStringList serverArguments = {};
    };

    XSession();
    explicit XSession(Options options);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool isRunning() const { return _ready; }
    QString display() const { return _display; }
    QString home() const { return _home.path(); }
    QString configHome() const { return home() + QStringLiteral("/.config"); }
    QString runtimeDir() const { return home() + QStringLiteral("/runtime"); }
    QProcessEnvironment environment() const { return _env; }
    void setEnv(const QString& name, const QString& value) { _env.insert(name, value); }

    // Starts a program in the session, stdout and stderr merged; it is owned
    // and cleaned up by the session.
    QProcess* start(const QString& program, const QStringList& arguments = {});
    // The built orvix program, with its output (stdout and stderr) captured.
    QProcess* startOrvix(const QStringList& arguments = {});
    static QString orvixPath();
    // Where orvix keeps its settings in this session's home.
    QString orvixConfigPath() const { return configHome() + QStringLiteral("/Orvix/Orvix.conf"); }
    // Replaces those settings with `text`; false when they cannot be written.
    bool writeOrvixConfig(const QByteArray& text) const;

    // Runs a helper (xdotool, xprop, ...) to completion and answers its stdout.
    QString run(const QString& program, const QStringList& arguments, int timeoutMs = 10000,
                int* exitCode = nullptr) const;

    // `ms` stretched nine times in the emulated guest of the kernel-level
    // tests, where servers and programs start that much slower.
    static int timeLimit(int ms);
    // Polls `condition` (running the event loop) until it holds or time runs out.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

    // X helpers over xdotool and xprop.
    QStringList windowsOfPid(qint64 pid, bool visibleOnly = true) const;
    // Waits until `xdotool search --onlyvisible <criteria>` finds a window;
    // answers the first one's id, or nothing when none came up in time.
    QString waitForWindow(const QStringList& criteria, int timeoutMs = 20000) const;
    QString waitForWindowOfPid(qint64 pid, int timeoutMs = 20000) const {
        return waitForWindow({QStringLiteral("--pid"), QString::number(pid)}, timeoutMs);
    }
    // An empty `window` is the root window.
    QString windowProperty(const QString& window, const QString& atom) const;
    QString rootProperty(const QString& atom) const { return windowProperty({}, atom); }
    QString activeWindow() const;
    void click(int x, int y, int button = 1) const;
    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;
    };
    Geometry windowGeometry(const QString& window) const;
    // From the output of `xdotool getwindowgeometry --shell`.
    static Geometry parseGeometry(const QString& shellOutput);
    bool screenshot(const QString& path) const;

private:
    bool startServer();
    bool startWindowManager();

    Options _options;
    QTemporaryDir _home;
    QString _display;
    QProcessEnvironment _env;
    std::vector<std::unique_ptr<QProcess>> _processes;
    bool _ready = false;
};

// Another client's view of a server's keyboard: XKB's modifier state and the
// keycodes held down. `beforeQuery` runs first: the server owes this client
// no order with a poster's requests until the poster has synced.
class XProbe {
public:
    explicit XProbe(const QString& display, std::function<void()> beforeQuery = {});
    ~XProbe();
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;
    bool isOpen() const { return _display != nullptr; }

    // All bits set when the state could not be read.
    struct State {
        unsigned mods = ~0u, base = ~0u, latched = ~0u, locked = ~0u;
        QList<int> keysDown;
        std::string text() const;
    };
    State state();
    QString downKeys(); // X keycodes, space-separated
    unsigned modifiers() { return state().mods; }
    unsigned lockedModifiers() { return state().locked; }
    // The user's own Caps Lock, on or off.
    void lockCaps(bool on);

    // X modifier bits, so that callers need not include Xlib.
    static constexpr unsigned kShiftMask = 1u << 0, kLockMask = 1u << 1, kControlMask = 1u << 2,
                              kMod1Mask = 1u << 3, kMod4Mask = 1u << 6;

private:
    _XDisplay* _display;
    std::function<void()> _beforeQuery;
};

// One key event as the recording client (xrecorder) saw it.
struct RecordedKey {
    bool press = false;
    int keycode = 0;
    QString sym;
    unsigned state = 0;
    // "press A 0x1": pointer-button bits are dropped, they depend on how
    // fast the button came up again.
    QString text() const {
        return QStringLiteral("%1 %2 0x%3")
            .arg(press ? u"press" : u"release", sym, QString::number(state & 0xff, 16));
    }
    bool isModifier() const {
        return sym.endsWith(QStringLiteral("_L")) || sym.endsWith(QStringLiteral("_R")) ||
               sym == QStringLiteral("Caps_Lock") || sym == QStringLiteral("ISO_Level3_Shift");
    }
};

// The recording client (xrecorder) in a session: it takes the focus and
// prints its window ("ready ID"), focus changes and every key event it gets.
class XRecorder {
public:
    // Starts it and waits until it is ready.
    explicit XRecorder(XSession& session, const QStringList& arguments = {});
    ~XRecorder();
    XRecorder(const XRecorder&) = delete;
    XRecorder& operator=(const XRecorder&) = delete;

    bool isReady() const { return !_window.isEmpty(); }
    QString window() const { return _window; }
    // Everything printed since the start or the last clear().
    const QString& output();
    // The key events among whole lines, as printed and parsed.
    QStringList events();
    QList<RecordedKey> keys();
    // Waits until at least `count` key events arrived, and then a little
    // longer for stragglers; answers all of them so far.
    QStringList waitForEvents(int count, int timeoutMs = 5000);
    // Forgets everything, once the client has been quiet for a while, so that
    // events of an earlier step cannot show up in the next one.
    void clear();

private:
    QProcess* _process;
    QString _output, _window;
};

} // namespace orvix::test
