#include "WaylandSession.h"

#include "XSession.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        server = start(QStringLiteral("weston"),
                       {QStringLiteral("--backend=headless-backend.so"),
                        QStringLiteral("--socket=") + socketName, QStringLiteral("--idle-time=0")});
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

QString WaylandSession::xDisplay() {
    if (_xDisplay.isEmpty() && isRunning()) {
        QFile file(_runtimeDir + QStringLiteral("/x-display"));
        XSession::waitFor(
            [&] {
                if (file.open(QIODevice::ReadOnly))
                    _xDisplay = QString::fromLatin1(file.readAll().trimmed());
                file.close();
                return !_xDisplay.isEmpty();
            },
            10000);
    }
    return _xDisplay;
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
    static const QRegularExpression keyLine(QStringLiteral("wl_keyboard\\] key: .*state: ([01])"));
    static const QRegularExpression symLine(QStringLiteral("^\\s+sym: (\\S+)\\s.*utf8: '(.*)'$"));
    static const QRegularExpression maskLine(
        QStringLiteral("^\\s+(depressed|locked): ([0-9A-Fa-f]+)"));
    _keys.clear();
    _depressed = _locked = 0;
    _held = 0;
    _focused = false;
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
            const bool pressed = key.captured(1) == QLatin1String("1");
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

} // namespace orvix::test
