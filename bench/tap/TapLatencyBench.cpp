// Time from a real key press to its on-screen key showing pressed, as a user
// would see it: the real program in a private X session, the press sent
// through XTest from this process (another client, so it counts as real), and
// the key read from the panel's pixels until it has gone dark.
//
// Each iteration is one press; its manual time runs from the XTest request to
// the first grab that shows the key lit. Counters give the median, the 90th
// percentile, the worst case, and how many presses took longer than a frame
// at 60 Hz (16.7 ms). Pixel polling is a server round trip of its own, so the
// figures are an upper bound of the program's part.
//
// Sounds are off (the default); ORVIX_BENCH_SOUND_THEME=Typewriter measures
// with a sound theme playing on every press.
#include "TapPanelPixels.h"
#include "XSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using orvix::test::TapPanelPixels;
using orvix::test::XSession;

namespace {

constexpr int kCodeA = 0;
constexpr int kCodeShift = 56;
constexpr int kCodeRightShift = 60;
constexpr int kTimeoutMs = 2000;

struct Session {
    std::unique_ptr<XSession> x;
    std::unique_ptr<TapPanelPixels> pixels;
    Display* keyboard = nullptr; // the "real keyboard": a client of its own
    KeyCode keycode = 0;
    KeyCode shiftKeycode = 0;
    bool ready = false;
};

Session& session() {
    static Session s;
    return s;
}

bool startSession() {
    Session& s = session();
    s.x = std::make_unique<XSession>();
    if (!s.x->isRunning())
        return false;
    QDir().mkpath(s.x->configHome() + QStringLiteral("/Orvix"));
    QFile config(s.x->configHome() + QStringLiteral("/Orvix/Orvix.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write("[General]\nmoveToApplicationsFolderAlertSuppress=true\nFeedbackSuppress=true\n"
                 "CheckForUpdates=false\nSUEnableAutomaticChecks=false\n");
    // The main thread also plays the key's sound when a theme is chosen
    // (OpenAL's null backend mixes it without a sound card).
    const QByteArray theme = qgetenv("ORVIX_BENCH_SOUND_THEME");
    if (!theme.isEmpty())
        config.write("SoundTheme=" + theme + "\n");
    config.close();
    s.x->run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), "0", "0"});
    QProcess* orvix = s.x->startOrvix();
    if (!orvix->waitForStarted(10000))
        return false;
    QString panel;
    if (!XSession::waitFor(
            [&] {
                const QStringList w = s.x->windowsOfPid(orvix->processId());
                if (!w.isEmpty())
                    panel = w.first();
                return !panel.isEmpty();
            },
            20000))
        return false;
    s.pixels = std::make_unique<TapPanelPixels>(s.x->display(), panel.toULong());
    // Let the panel finish its fade-in and first paint before the reference.
    XSession::waitFor([] { return false; }, 1500);
    if (!s.pixels->isOpen() || !s.pixels->rememberUnlit(kCodeA) ||
        !s.pixels->rememberUnlit(kCodeShift) || !s.pixels->rememberUnlit(kCodeRightShift))
        return false;
    s.keyboard = XOpenDisplay(s.x->display().toLocal8Bit().constData());
    if (!s.keyboard)
        return false;
    s.keycode = XKeysymToKeycode(s.keyboard, XK_a);
    s.shiftKeycode = XKeysymToKeycode(s.keyboard, XK_Shift_L);
    s.ready = s.keycode != 0 && s.shiftKeycode != 0;
    return s.ready;
}

// Polls the pixels of every code in `codes` until all are lit (or unlit).
bool waitFor(bool lit, std::initializer_list<int> codes = {kCodeA}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        bool all = true;
        for (int code : codes)
            all = all && (lit ? session().pixels->isLit(code) : session().pixels->isUnlit(code));
        if (all)
            return true;
    }
    return false;
}

void sendKey(bool down, bool shift = false) {
    Session& s = session();
    XTestFakeKeyEvent(s.keyboard, shift ? s.shiftKeycode : s.keycode, down ? True : False,
                      CurrentTime);
    XFlush(s.keyboard);
}

double percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(index, samples.size() - 1)];
}

void reportSamples(benchmark::State& state, const std::vector<double>& ms) {
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p90_ms"] = percentile(ms, 0.9);
    state.counters["max_ms"] = percentile(ms, 1.0);
    state.counters["over_frame"] =
        static_cast<double>(std::count_if(ms.begin(), ms.end(), [](double v) { return v > 16.7; }));
    state.counters["presses"] = static_cast<double>(ms.size());
    // The first press after launch also renders the key's pressed look.
    state.counters["first_ms"] = ms.empty() ? 0.0 : ms.front();
}

void BM_RealPressToKeyLit(benchmark::State& state) {
    if (!session().ready) {
        state.SkipWithError("no X session with Orvix");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        sendKey(true);
        const bool lit = waitFor(true);
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(seconds);
        sendKey(false);
        if (!lit || !waitFor(false)) {
            state.SkipWithError("the key did not light and darken");
            return;
        }
        ms.push_back(seconds * 1000.0);
    }
    reportSamples(state, ms);
}
BENCHMARK(BM_RealPressToKeyLit)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

void BM_RealReleaseToKeyDark(benchmark::State& state) {
    if (!session().ready) {
        state.SkipWithError("no X session with Orvix");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        sendKey(true);
        if (!waitFor(true)) {
            sendKey(false);
            state.SkipWithError("the key did not light");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        sendKey(false);
        const bool dark = waitFor(false);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (!dark) {
            state.SkipWithError("the key did not darken");
            return;
        }
        ms.push_back(seconds * 1000.0);
    }
    reportSamples(state, ms);
}
BENCHMARK(BM_RealReleaseToKeyDark)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

// A real modifier goes through the waiting hand-off of flags changes; both
// Shift keys must show it.
void BM_RealShiftToBothShiftKeysLit(benchmark::State& state) {
    if (!session().ready) {
        state.SkipWithError("no X session with Orvix");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        sendKey(true, true);
        const bool lit = waitFor(true, {kCodeShift, kCodeRightShift});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        sendKey(false, true);
        if (!lit || !waitFor(false, {kCodeShift, kCodeRightShift})) {
            state.SkipWithError("the Shift keys did not light and darken");
            return;
        }
        ms.push_back(seconds * 1000.0);
    }
    reportSamples(state, ms);
}
BENCHMARK(BM_RealShiftToBothShiftKeysLit)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!startSession())
        std::fprintf(stderr, "bench_tap: could not start Xvfb, openbox and Orvix\n");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Session& s = session();
    if (s.keyboard)
        XCloseDisplay(s.keyboard);
    s.pixels.reset();
    s.x.reset();
    return 0;
}
