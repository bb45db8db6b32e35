#include "XSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

// Last: Xlib's macros clash with names in the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace orvix::test {

namespace {
void dieWithParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
} // namespace

XSession::XSession() : XSession(Options{}) {}

XSession::XSession(Options options) : _options(std::move(options)) {
    _env = QProcessEnvironment::systemEnvironment();
    QDir(home()).mkpath(QStringLiteral(".config"));
    QDir(home()).mkpath(QStringLiteral(".local/share"));
    QDir(home()).mkpath(QStringLiteral(".cache"));
    QDir(home()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(runtimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    _env.insert(QStringLiteral("HOME"), home());
    _env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    _env.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/.local/share"));
    _env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/.cache"));
    _env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    _env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    _env.insert(QStringLiteral("ALSOFT_DRIVERS"), QStringLiteral("null"));
    _env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    _env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    _ready = startServer() && (!_options.windowManager || startWindowManager());
}

XSession::~XSession() {
    // Newest first: clients before the window manager before the server.
    for (auto it = _processes.rbegin(); it != _processes.rend(); ++it) {
        QProcess* p = it->get();
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
}

bool XSession::startServer() {
    // Close-on-exec, so that no other child holds the pipe; only Xvfb gets
    // the write end, below.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    auto server = std::make_unique<QProcess>();
    server->setProcessEnvironment(_env);
    server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const int writeFd = fds[1];
    server->setChildProcessModifier([writeFd] {
        dieWithParent();
        // Keep the write end open across exec: Xvfb reports its display on it.
        ::fcntl(writeFd, F_SETFD, 0);
    });
    QStringList arguments{QStringLiteral("-displayfd"), QString::number(writeFd),
                          QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                          QStringLiteral("-noreset")};
    if (_options.server == QStringLiteral("Xvfb"))
        arguments << QStringLiteral("-screen") << QStringLiteral("0") << _options.screen;
    server->start(_options.server, arguments + _options.serverArguments);
    ::close(fds[1]);
    const bool started = server->waitForStarted(5000);
    _processes.push_back(std::move(server));
    if (!started) {
        ::close(fds[0]);
        return false;
    }
    // The display number and a newline; end of file when Xvfb gave up. A
    // server that hangs before it answers must not hang the test too.
    QByteArray number;
    QElapsedTimer timer;
    timer.start();
    while (true) {
        const qint64 left = timeLimit(10000) - timer.elapsed();
        if (left <= 0)
            break;
        pollfd pfd{fds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number.append(c);
    }
    ::close(fds[0]);
    if (number.isEmpty())
        return false;
    _display = QStringLiteral(":") + QString::fromLatin1(number);
    _env.insert(QStringLiteral("DISPLAY"), _display);
    return true;
}

bool XSession::startWindowManager() {
    QProcess* wm = start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!wm->waitForStarted(5000))
        return false;
    return waitFor(
        [this] { return !rootProperty(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).isEmpty(); },
        timeLimit(10000));
}

QProcess* XSession::start(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(_env);
    process->setChildProcessModifier(dieWithParent);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, arguments);
    _processes.push_back(std::move(process));
    return _processes.back().get();
}

QString XSession::orvixPath() {
    return QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/orvix");
}

QProcess* XSession::startOrvix(const QStringList& arguments) {
    return start(orvixPath(), arguments);
}

bool XSession::writeOrvixConfig(const QByteArray& text) const {
    const QString path = orvixConfigPath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QString XSession::run(const QString& program, const QStringList& arguments, int timeoutMs,
                      int* exitCode) const {
    QProcess p;
    p.setProcessEnvironment(_env);
    p.setChildProcessModifier(dieWithParent);
    p.start(program, arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

int XSession::timeLimit(int ms) {
    return qEnvironmentVariableIsSet("ORVIX_IN_GUEST") ? 9 * ms : ms;
}

bool XSession::waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (true) {
        if (condition())
            return true;
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(30);
    }
}

QStringList XSession::windowsOfPid(qint64 pid, bool visibleOnly) const {
    QStringList args{QStringLiteral("search")};
    if (visibleOnly)
        args << QStringLiteral("--onlyvisible");
    args << QStringLiteral("--pid") << QString::number(pid);
    const QString out = run(QStringLiteral("xdotool"), args);
    return out.isEmpty() ? QStringList() : out.split(u'\n', Qt::SkipEmptyParts);
}

QString XSession::waitForWindow(const QStringList& criteria, int timeoutMs) const {
    QString window;
    waitFor(
        [&] {
            window = run(QStringLiteral("xdotool"),
                         QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} +
                             criteria)
                         .section(u'\n', 0, 0);
            return !window.isEmpty();
        },
        timeoutMs);
    return window;
}

QString XSession::windowProperty(const QString& window, const QString& atom) const {
    const QString out = run(QStringLiteral("xprop"),
                            window.isEmpty() ? QStringList{QStringLiteral("-root"), atom}
                                             : QStringList{QStringLiteral("-id"), window, atom});
    if (out.contains(QStringLiteral("not found")) || out.contains(QStringLiteral("no such atom")))
        return {};
    return out;
}

QString XSession::activeWindow() const {
    // "_NET_ACTIVE_WINDOW(WINDOW): window id # 0x400007"
    const QString out = rootProperty(QStringLiteral("_NET_ACTIVE_WINDOW"));
    const auto match = QRegularExpression(QStringLiteral("0x[0-9a-fA-F]+")).match(out);
    if (!match.hasMatch())
        return {};
    bool ok = false;
    const qulonglong id = match.captured(0).toULongLong(&ok, 16);
    return ok && id ? QString::number(id) : QString();
}

void XSession::click(int x, int y, int button) const {
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(x), QString::number(y),
         QStringLiteral("click"), QString::number(button)});
}

XSession::Geometry XSession::windowGeometry(const QString& window) const {
    return parseGeometry(run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                         QStringLiteral("--shell"), window}));
}

XSession::Geometry XSession::parseGeometry(const QString& out) {
    Geometry g;
    for (const QString& line : out.split(u'\n')) {
        const auto kv = line.split(u'=');
        if (kv.size() != 2)
            continue;
        const int v = kv[1].toInt();
        if (kv[0] == u"X")
            g.x = v;
        else if (kv[0] == u"Y")
            g.y = v;
        else if (kv[0] == u"WIDTH")
            g.width = v;
        else if (kv[0] == u"HEIGHT")
            g.height = v;
    }
    return g;
}

bool XSession::screenshot(const QString& path) const {
    int code = -1;
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}, 20000,
        &code);
    return code == 0 && QFile::exists(path);
}

XProbe::XProbe(const QString& display, std::function<void()> beforeQuery)
    : _display(XOpenDisplay(display.toLatin1().constData())), _beforeQuery(std::move(beforeQuery)) {
}

XProbe::~XProbe() {
    if (_display)
        XCloseDisplay(_display);
}

XProbe::State XProbe::state() {
    static_assert(kShiftMask == ShiftMask && kLockMask == LockMask && kControlMask == ControlMask &&
                  kMod1Mask == Mod1Mask && kMod4Mask == Mod4Mask);
    State s;
    if (!_display)
        return s;
    if (_beforeQuery)
        _beforeQuery();
    XkbStateRec state{};
    if (XkbGetState(_display, XkbUseCoreKbd, &state) == Success) {
        s.mods = state.mods;
        s.base = state.base_mods;
        s.latched = state.latched_mods;
        s.locked = state.locked_mods;
    }
    char keys[32];
    XQueryKeymap(_display, keys);
    for (int keycode = 8; keycode < 256; ++keycode)
        if (keys[keycode / 8] & (1 << (keycode % 8)))
            s.keysDown << keycode;
    return s;
}

std::string XProbe::State::text() const {
    QStringList keys;
    for (int keycode : keysDown)
        keys << QString::number(keycode);
    return QStringLiteral("mods=0x%1 base=0x%2 latched=0x%3 locked=0x%4 keys=%5")
        .arg(mods, 0, 16)
        .arg(base, 0, 16)
        .arg(latched, 0, 16)
        .arg(locked, 0, 16)
        .arg(keys.join(u','))
        .toStdString();
}

QString XProbe::downKeys() {
    QStringList down;
    for (int keycode : state().keysDown)
        down << QString::number(keycode);
    return down.join(u' ');
}

void XProbe::lockCaps(bool on) {
    XkbLockModifiers(_display, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(_display, False);
}

XRecorder::XRecorder(XSession& session, const QStringList& arguments)
    : _process(session.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/xrecorder"), arguments)) {
    static const QRegularExpression ready(QStringLiteral("^ready (\\d+)$"),
                                          QRegularExpression::MultilineOption);
    XSession::waitFor(
        [&] {
            _window = ready.match(output()).captured(1);
            return isReady() || _process->state() == QProcess::NotRunning;
        },
        XSession::timeLimit(10000));
}

XRecorder::~XRecorder() {
    _process->kill();
    _process->waitForFinished(3000);
}

const QString& XRecorder::output() {
    _output += QString::fromUtf8(_process->readAll());
    return _output;
}

QStringList XRecorder::events() {
    QStringList out;
    const QString& all = output();
    for (const QString& line : all.left(all.lastIndexOf(u'\n') + 1).split(u'\n'))
        if (line.startsWith(QStringLiteral("press ")) ||
            line.startsWith(QStringLiteral("release ")))
            out << line;
    return out;
}

QList<RecordedKey> XRecorder::keys() {
    static const QRegularExpression event(
        QStringLiteral("^(press|release) (\\d+) (\\S+) 0x([0-9a-f]+)$"));
    QList<RecordedKey> keys;
    for (const QString& line : events())
        if (const auto m = event.match(line.trimmed()); m.hasMatch())
            keys.append({m.captured(1) == u"press", m.captured(2).toInt(), m.captured(3),
                         m.captured(4).toUInt(nullptr, 16)});
    return keys;
}

QStringList XRecorder::waitForEvents(int count, int timeoutMs) {
    XSession::waitFor([&] { return events().size() >= count; }, timeoutMs);
    // Anything more than expected shows up in the answer and fails the test.
    _process->waitForReadyRead(150);
    return events();
}

void XRecorder::clear() {
    while (_process->waitForReadyRead(150))
        output();
    output();
    _output.clear();
}

} // namespace orvix::test
