// Typing sounds through a real sound server, measured on the real program:
// Orvix in a private Xvfb with the theme "Typewriter", playing through
// OpenAL's pulse backend into a private PipeWire with a null sink.
//
// 1. Idle cost with the theme on: CPU time and wake-ups per second of every
//    thread of Orvix (and of the sound server's processes, for context) over
//    an idle window, no input at all.
// 2. Key to sound: an XTest key press ("a") to the onset of its sound at the
//    sink's monitor, over N keys each after an idle gap, then over N keys
//    while typing. The onset's time is when parec delivered its block, so
//    the figures include the server's capture path: upper bounds.
//
//   bench_sound_server [--keys N] [--idle S] [--gap-ms MS] [--typing-gap-ms MS]
#include "AudioServer.h"
#include "XSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>
#include <unistd.h>

using orvix::test::AudioServer;
using orvix::test::MonitorRecording;
using orvix::test::XSession;
using Clock = std::chrono::steady_clock;

namespace {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct ThreadCost {
    QString name;
    long long cpuNs = 0;
    long long wakeUps = 0;
};

// Per thread of `pid`, keyed by thread id: CPU time (schedstat) and
// voluntary context switches.
std::map<QString, ThreadCost> threadCosts(qint64 pid) {
    std::map<QString, ThreadCost> costs;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadCost c;
        QFile comm(base + "/" + tid + "/comm"), sched(base + "/" + tid + "/schedstat"),
            status(base + "/" + tid + "/status");
        if (comm.open(QIODevice::ReadOnly))
            c.name = QString::fromLatin1(comm.readAll()).trimmed();
        if (sched.open(QIODevice::ReadOnly))
            c.cpuNs = QString::fromLatin1(sched.readAll()).section(u' ', 0, 0).toLongLong();
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("voluntary_ctxt_switches:"))
                    c.wakeUps = line.mid(24).trimmed().toLongLong();
        }
        costs[tid] = c;
    }
    return costs;
}

qint64 pidOf(const char* program) {
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile exe(QStringLiteral("/proc/%1/comm").arg(pid));
        if (exe.open(QIODevice::ReadOnly) &&
            QString::fromLatin1(exe.readAll()).trimmed() == QLatin1String(program)) {
            // Only the server started here: its environment names our runtime folder.
            QFile env(QStringLiteral("/proc/%1/environ").arg(pid));
            if (env.open(QIODevice::ReadOnly) && env.readAll().contains("orvix-bench-audio"))
                return pid.toLongLong();
        }
    }
    return -1;
}

void reportIdle(const char* what, qint64 pid, const std::map<QString, ThreadCost>& before,
                double seconds) {
    const auto after = threadCosts(pid);
    long long cpu = 0, wakes = 0;
    QStringList perThread;
    for (const auto& [tid, a] : after) {
        const auto b = before.find(tid);
        const long long dc = a.cpuNs - (b != before.end() ? b->second.cpuNs : 0);
        const long long dw = a.wakeUps - (b != before.end() ? b->second.wakeUps : 0);
        cpu += dc;
        wakes += dw;
        if (dw > 0)
            perThread << QStringLiteral("%1(%2) %3/s")
                             .arg(a.name, tid)
                             .arg(static_cast<double>(dw) / seconds, 0, 'f', 2);
    }
    std::printf(
        "%-16s CPU %.1f ms over %.0f s = %.3f %% of a core; %.2f wake-ups/s: %s\n", what,
        static_cast<double>(cpu) / 1e6, seconds, 100.0 * static_cast<double>(cpu) / 1e9 / seconds,
        static_cast<double>(wakes) / seconds, qPrintable(perThread.join(QStringLiteral(", "))));
}

struct Figures {
    std::vector<double> ms;
    int lost = 0;
};

void report(const char* what, Figures f) {
    if (f.ms.empty()) {
        std::printf("%-16s no key heard (%d lost)\n", what, f.lost);
        return;
    }
    std::sort(f.ms.begin(), f.ms.end());
    const auto at = [&](double q) {
        return f.ms[std::min(f.ms.size() - 1, static_cast<size_t>(q * f.ms.size()))];
    };
    std::printf("%-16s key to onset: median %.1f ms, p90 %.1f ms, p99 %.1f ms, min %.1f, max %.1f "
                "(%zu keys, %d lost)\n",
                what, at(0.5), at(0.9), at(0.99), f.ms.front(), f.ms.back(), f.ms.size(), f.lost);
}

// Presses and releases "a" through XTest `keys` times, `gapMs` apart, and
// times each press to the onset of a sound at the monitor.
Figures timeKeys(Display* display, MonitorRecording& recording, int keys, int gapMs) {
    const KeyCode a = XKeysymToKeycode(display, XStringToKeysym("a"));
    Figures f;
    for (int i = 0; i < keys; ++i) {
        const size_t from = recording.frames();
        const auto pressed = Clock::now();
        XTestFakeKeyEvent(display, a, True, CurrentTime);
        XFlush(display);
        sleepMs(std::min(60, gapMs / 3));
        XTestFakeKeyEvent(display, a, False, CurrentTime);
        XFlush(display);
        const auto due = pressed + std::chrono::milliseconds(gapMs);
        long long onset = -1;
        while (Clock::now() < due && (onset = recording.onset(from, 0.02f)) < 0)
            sleepMs(2);
        if (onset < 0) {
            ++f.lost;
        } else {
            f.ms.push_back(std::chrono::duration<double, std::milli>(
                               recording.timeOfFrame(static_cast<size_t>(onset)) - pressed)
                               .count());
        }
        std::this_thread::sleep_until(due);
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int keys = 200, idleSeconds = 60, gapMs = 3000, typingGapMs = 250;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--keys")
            keys = args[i + 1].toInt();
        else if (args[i] == "--idle")
            idleSeconds = args[i + 1].toInt();
        else if (args[i] == "--gap-ms")
            gapMs = args[i + 1].toInt();
        else if (args[i] == "--typing-gap-ms")
            typingGapMs = args[i + 1].toInt();
    }

    XSession x{XSession::Options{.windowManager = false}};
    if (!x.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    // A name the server's processes can be told apart by.
    const QString runtime = x.home() + QStringLiteral("/orvix-bench-audio");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    x.setEnv(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    AudioServer server(x.environment());
    if (!server.isRunning() || !server.addNullSink(QStringLiteral("bench")) ||
        !server.setDefaultSink(QStringLiteral("bench"))) {
        std::fprintf(stderr, "the sound server did not start\n");
        return 1;
    }
    x.setEnv(QStringLiteral("ALSOFT_DRIVERS"), QStringLiteral("pulse"));
    x.writeOrvixConfig("[General]\nmoveToApplicationsFolderAlertSuppress=true\n"
                       "FeedbackSuppress=true\nCheckForUpdates=false\n"
                       "SUEnableAutomaticChecks=false\nSoundTheme=Typewriter\n");
    QProcess* orvix = x.startOrvix();
    if (!orvix->waitForStarted(10000) || x.waitForWindowOfPid(orvix->processId()).isEmpty() ||
        !XSession::waitFor([&] { return !server.sinksOfStreams(orvix->processId()).isEmpty(); },
                           20000)) {
        std::fprintf(stderr, "Orvix did not start playing\n");
        return 1;
    }
    std::printf("load average at start: %s\n",
                qPrintable(QString::fromLatin1([] {
                               QFile f(QStringLiteral("/proc/loadavg"));
                               return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                           }())
                               .section(u' ', 0, 2)));
    // Each stream's buffer as the server granted it, and the latency it
    // asked of the graph: the server's quantum is the least of those asked
    // by the streams that run.
    const auto streams = [&] {
        QStringList lines;
        for (const QJsonValue& input :
             QJsonDocument::fromJson(
                 server
                     .pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                             QStringLiteral("sink-inputs")})
                     .toUtf8())
                 .array()) {
            const QJsonValue props = input[QStringLiteral("properties")];
            const auto prop = [&](const char* key) {
                return props[QString::fromLatin1(key)].toString();
            };
            lines << QStringLiteral("\"%1\" %2 latency %3, minreq %4 B, tlength %5 B (%6)")
                         .arg(prop("media.name"),
                              input[QStringLiteral("corked")].toBool() ? QStringLiteral("corked")
                                                                       : QStringLiteral("running"),
                              prop("node.latency"), prop("pulse.attr.minreq"),
                              prop("pulse.attr.tlength"),
                              input[QStringLiteral("sample_specification")].toString());
        }
        return lines.join(QStringLiteral("; "));
    };
    std::printf("streams at start: %s\n", qPrintable(streams()));

    // Idle: after the launch's own work (pooled threads end after 30 s).
    XSession::waitFor([] { return false; }, 35000);
    const qint64 pid = orvix->processId();
    const qint64 pipewire = pidOf("pipewire"), pulse = pidOf("pipewire-pulse");
    const auto before = threadCosts(pid);
    const auto pwBefore = threadCosts(pipewire), pulseBefore = threadCosts(pulse);
    XSession::waitFor([] { return false; }, idleSeconds * 1000);
    reportIdle("orvix idle", pid, before, idleSeconds);
    std::printf("streams idle: %s\n", qPrintable(streams()));
    reportIdle("pipewire", pipewire, pwBefore, idleSeconds);
    reportIdle("pipewire-pulse", pulse, pulseBefore, idleSeconds);

    Display* display = XOpenDisplay(qPrintable(x.display()));
    MonitorRecording recording(server.environment(), QStringLiteral("bench"));
    if (!display || !recording.waitForFrames(4800, 10000)) {
        std::fprintf(stderr, "no X connection or no recording\n");
        return 1;
    }
    report("after idle", timeKeys(display, recording, keys, gapMs));
    report("while typing", timeKeys(display, recording, keys, typingGapMs));
    XCloseDisplay(display);
    return 0;
}
