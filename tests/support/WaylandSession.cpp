#include "WaylandSession.h"

#include "XSession.h"
#include "virtual-pointer-client-protocol.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <linux/input-event-codes.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

namespace orvix::test {

namespace {

bool lookUpUser(const char* name, unsigned* uid, unsigned* gid) {
    const passwd* entry = getpwnam(name);
    if (!entry)
        return false;
    *uid = entry->pw_uid;
    *gid = entry->pw_gid;
    return true;
}

} // namespace

WaylandSession::WaylandSession(Compositor compositor, bool xwayland) {
    if (!ensureUser())
        return;
    QByteArray dir = QDir::tempPath().toLocal8Bit() + "/orvix-wayland.XXXXXX";
    if (!mkdtemp(dir.data())) {
        _error = QStringLiteral("cannot create a runtime directory");
        return;
    }
    _runtimeDir = QString::fromLocal8Bit(dir);
    if (chown(dir.constData(), _uid, _gid) != 0 || chmod(dir.constData(), 0700) != 0) {
        _error = QStringLiteral("cannot hand the runtime directory to ") + kUser;
        return;
    }

    const QString socketName = QStringLiteral("wayland-1");
    QProcess* server = nullptr;
    if (compositor == Compositor::Sway) {
        const QString config = _runtimeDir + QStringLiteral("/sway.conf");
        QFile file(config);
        // sway tells its own children XWayland's display.
        const QByteArray text =
            xwayland ? "xwayland enable\ndefault_border none\nexec printenv DISPLAY > x-display\n"
                     : "xwayland disable\ndefault_border none\n";
        if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0) {
            _error = QStringLiteral("cannot write the sway configuration");
            return;
        }
        file.close();
        server = start(QStringLiteral("sway"), {QStringLiteral("-c"), config});
    } else {
        QStringList arguments{QStringLiteral("--backend=headless-backend.so"),
                              QStringLiteral("--socket=") + socketName,
                              QStringLiteral("--idle-time=0")};
        if (xwayland) {
            removeStaleXSockets();
            arguments << QStringLiteral("--xwayland");
        }
        server = start(QStringLiteral("weston"), arguments);
    }
    const QString socket = _runtimeDir + QLatin1Char('/') + socketName;
    if (!XSession::waitFor(
            [&] { return QFile::exists(socket) || server->state() == QProcess::NotRunning; },
            20000) ||
        !QFile::exists(socket)) {
        _error = QStringLiteral("the compositor did not start: ") +
                 QString::fromLocal8Bit(server->readAll().right(2000));
        return;
    }
    _socket = socket;
}

WaylandSession::~WaylandSession() {
    // Clients before the compositor.
    for (auto it = _processes.rbegin(); it != _processes.rend(); ++it) {
        QProcess* p = it->get();
        // A compositor asked to end takes its own helper clients with it.
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }
    _processes.clear();
    if (!_runtimeDir.isEmpty())
        QDir(_runtimeDir).removeRecursively();
}

bool WaylandSession::ensureUser() {
    if (geteuid() != 0) {
        // Not root: the compositor runs as whoever runs the tests.
        _uid = geteuid();
        _gid = getegid();
        return true;
    }
    // Several test programs may get here at once; useradd serialises them
    // and the loser finds the user made.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (lookUpUser(kUser, &_uid, &_gid))
            return true;
        QProcess::execute(QStringLiteral("useradd"),
                          {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                           QStringLiteral("--home-dir"), QStringLiteral("/nonexistent"),
                           QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                           QString::fromLatin1(kUser)});
        if (lookUpUser(kUser, &_uid, &_gid))
            return true;
        QThread::msleep(500);
    }
    _error = QStringLiteral("cannot create the user ") + kUser;
    return false;
}

bool WaylandSession::writeFile(const QString& relativePath, const QByteArray& content) {
    // Every folder on the way belongs to the user too, or it could not write there.
    QString path = _runtimeDir;
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += QLatin1Char('/') + parts[i];
        if (i + 1 < parts.size() && !QDir().exists(path) && !QDir().mkdir(path))
            return false;
        if (i + 1 == parts.size()) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                file.write(content) != content.size())
                return false;
        }
        if (chown(QFile::encodeName(path).constData(), _uid, _gid) != 0)
            return false;
    }
    return true;
}

QString WaylandSession::xDisplay() {
    if (_xDisplay.isEmpty() && isRunning()) {
        // sway's children write it down; weston's XWayland display is the
        // one whose lock file holds weston's process id.
        const QString serverPid = QString::number(_processes.front()->processId());
        XSession::waitFor(
            [&] {
                QFile file(_runtimeDir + QStringLiteral("/x-display"));
                if (file.open(QIODevice::ReadOnly))
                    _xDisplay = QString::fromLatin1(file.readAll().trimmed());
                const QStringList locks =
                    QDir(QStringLiteral("/tmp"))
                        .entryList({QStringLiteral(".X*-lock")}, QDir::Files | QDir::Hidden);
                for (const QString& name : locks) {
                    QFile lock(QStringLiteral("/tmp/") + name);
                    if (_xDisplay.isEmpty() && lock.open(QIODevice::ReadOnly) &&
                        QString::fromLatin1(lock.readAll().trimmed()) == serverPid)
                        _xDisplay = QLatin1Char(':') + name.mid(2, name.size() - 7);
                }
                return !_xDisplay.isEmpty();
            },
            10000);
    }
    return _xDisplay;
}

void WaylandSession::removeStaleXSockets() {
    // weston takes the first display without a lock file and gives up if its
    // socket is there: a server killed outright leaves such sockets behind.
    const QDir sockets(QStringLiteral("/tmp/.X11-unix"));
    for (const QString& name : sockets.entryList({QStringLiteral("X*")}, QDir::System)) {
        if (QFile::exists(QStringLiteral("/tmp/.%1-lock").arg(name)))
            continue;
        const QByteArray path = QFile::encodeName(sockets.filePath(name));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= qsizetype(sizeof(address.sun_path)))
            continue;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        // Only a socket nobody listens on is stale.
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 &&
            errno == ECONNREFUSED)
            ::unlink(path.constData());
        ::close(fd);
    }
}

QString WaylandSession::run(const QString& program, const QStringList& arguments,
                            const QProcessEnvironment& env) {
    QProcess* process = start(program, arguments, env);
    process->waitForFinished(10000);
    return QString::fromLocal8Bit(process->readAll());
}

QProcess* WaylandSession::start(const QString& program, const QStringList& arguments,
                                const QProcessEnvironment& extra) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), _runtimeDir);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), _runtimeDir);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(extra);
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(_runtimeDir);
    process->setProcessChannelMode(QProcess::MergedChannels);
    const bool switchUser = geteuid() == 0;
    const uid_t uid = _uid;
    const gid_t gid = _gid;
    process->setChildProcessModifier([switchUser, uid, gid] {
        if (switchUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(127);
        // After the change of user, which clears it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process->start(program, arguments);
    _processes.push_back(std::move(process));
    return _processes.back().get();
}

KeyRecorder::KeyRecorder(WaylandSession& session) {
    // Line-buffered: wev's output goes into a pipe.
    _process =
        session.start(QStringLiteral("stdbuf"), {QStringLiteral("-oL"), QStringLiteral("wev")});
}

void KeyRecorder::read() {
    _output += QString::fromUtf8(_process->readAll());
    // wev prints each event's header line, then indented detail lines.
    static const QRegularExpression keyLine(
        QStringLiteral("wl_keyboard\\] key: serial: (\\d+);.*state: ([01])"));
    static const QRegularExpression symLine(QStringLiteral("^\\s+sym: (\\S+)\\s.*utf8: '(.*)'$"));
    static const QRegularExpression maskLine(
        QStringLiteral("^\\s+(depressed|locked): ([0-9A-Fa-f]+)"));
    _keys.clear();
    _depressed = _locked = 0;
    _held = 0;
    _focused = false;
    // A client that bound the seat's keyboard twice (the seat lost and
    // regained it) hears each key once per binding, with the same serial.
    QString lastSerial;
    const QStringList lines = _output.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].contains(QLatin1String("wl_keyboard] enter"))) {
            // The keys already down when the focus came, one line each.
            _focused = true;
            _held = 0;
            while (i + 1 < lines.size() && symLine.match(lines[i + 1]).hasMatch()) {
                ++_held;
                ++i;
            }
        } else if (lines[i].contains(QLatin1String("wl_keyboard] leave")) ||
                   lines[i].contains(QLatin1String("capabilities:  none"))) {
            _focused = false;
            _held = 0;
        } else if (const auto key = keyLine.match(lines[i]); key.hasMatch()) {
            if (key.captured(1) == lastSerial)
                continue;
            lastSerial = key.captured(1);
            const bool pressed = key.captured(2) == QLatin1String("1");
            _held += pressed ? 1 : -1;
            const auto sym = symLine.match(lines[i + 1]);
            if (pressed && sym.hasMatch())
                _keys.push_back({sym.captured(1), sym.captured(2), _depressed, _locked});
        } else if (const auto mask = maskLine.match(lines[i]); mask.hasMatch()) {
            const unsigned value = mask.captured(2).toUInt(nullptr, 16);
            (mask.captured(1) == QLatin1String("depressed") ? _depressed : _locked) = value;
        }
    }
}

bool KeyRecorder::waitForWindow() {
    return waitUntil([this] { return _output.contains(QLatin1String("xdg_surface] configure")); });
}

bool KeyRecorder::waitForFocus() {
    return waitUntil([this] { return _focused; });
}

bool KeyRecorder::waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return XSession::waitFor(
        [&] {
            read();
            return condition();
        },
        timeoutMs);
}

std::vector<KeyRecorder::Key> KeyRecorder::waitForKeys(size_t count, int timeoutMs) {
    waitUntil([&] { return _keys.size() >= count; }, timeoutMs);
    return _keys;
}

VirtualPointer::VirtualPointer(const QString& socketPath) {
    _display = wl_display_connect(socketPath.toLocal8Bit().constData());
    if (!_display)
        return;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            auto* self = static_cast<VirtualPointer*>(data);
            if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
                self->_manager = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
                    registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
            else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->_seat)
                self->_seat =
                    static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        },
        [](void*, wl_registry*, uint32_t) {
        }};
    wl_registry* registry = wl_display_get_registry(_display);
    wl_registry_add_listener(registry, &listener, this);
    if (wl_display_roundtrip(_display) < 0 || !_manager)
        return;
    _pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(_manager, _seat);
    if (!send())
        _pointer = nullptr;
}

VirtualPointer::~VirtualPointer() {
    // The compositor drops the pointer, and every button it held, with the
    // connection.
    if (_display)
        wl_display_disconnect(_display);
}

bool VirtualPointer::send() {
    return wl_display_roundtrip(_display) >= 0;
}

bool VirtualPointer::moveTo(int x, int y) {
    if (!_pointer)
        return false;
    zwlr_virtual_pointer_v1_motion_absolute(_pointer, ++_time, x, y, _width, _height);
    zwlr_virtual_pointer_v1_frame(_pointer);
    return send();
}

bool VirtualPointer::button(bool down) {
    if (!_pointer)
        return false;
    zwlr_virtual_pointer_v1_button(_pointer, ++_time, BTN_LEFT,
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED
                                        : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(_pointer);
    return send();
}

} // namespace orvix::test
