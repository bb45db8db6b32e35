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
//
// BM_MenuThemeSwitchToAllKeysRedrawn chooses a keyboard theme in the gear menu
// as a user does and times from the button release on the theme's item (a
// menu chooses on release) until every key of the panel shows the new theme,
// compared key by key with the panel as it settled in that theme before.
#include "TapPanelPixels.h"
#include "XSession.h"
#include "render/KeyboardLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRect>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <thread>
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
    unsigned long panel = 0;
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
    s.panel = panel.toULong();
    s.pixels = std::make_unique<TapPanelPixels>(s.x->display(), s.panel);
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

// ---------------------------------------------------------------- theme switch

constexpr int kThemeCount = 6; // the items of the gear menu's "Keyboard Theme"
constexpr int kThemeWhite = 0;
constexpr int kThemeBlack = 1;
// A key shows a look when its pixels are within this of the look's reference
// (mean absolute channel difference, 0-255); the panel draws deterministically,
// so a redrawn key matches to 0.
constexpr double kSameLook = 1.0;
// The two themes must differ on every key by far more than that.
constexpr double kThemesDiffer = 20.0;
// A switch redraws the whole panel: slower builds (sanitizers) need longer.
constexpr int kThemeTimeoutMs = 5000;

struct Frame {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0xRRGGBB

    bool operator==(const Frame&) const = default;
};

struct ThemeBench {
    std::vector<QRect> keys; // every key of the layout, in window pixels
    Frame reference[2];      // the panel settled in White and in Black
    double minContrast = 0;  // the smallest per-key difference between them
    bool ready = false;
};

ThemeBench& themeBench() {
    static ThemeBench t;
    return t;
}

Display* grabDisplay() {
    return static_cast<Display*>(session().pixels->display());
}

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The whole panel as the X server shows it, in one request.
Frame grabPanel() {
    Frame frame;
    Display* d = grabDisplay();
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, session().panel, &a))
        return frame;
    XImage* image = XGetImage(d, session().panel, 0, 0, static_cast<unsigned>(a.width),
                              static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (!image)
        return frame;
    frame.width = a.width;
    frame.height = a.height;
    frame.pixels.resize(static_cast<size_t>(a.width) * static_cast<size_t>(a.height));
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
    for (int y = 0; y < a.height; ++y) {
        uint32_t* out = frame.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(a.width);
        const auto* line =
            reinterpret_cast<const uint32_t*>(image->data + y * image->bytes_per_line);
        for (int x = 0; x < a.width; ++x)
            out[x] = (direct ? line[x] : static_cast<uint32_t>(XGetPixel(image, x, y))) & 0xffffff;
    }
    XDestroyImage(image);
    return frame;
}

// Mean absolute channel difference of one key between two frames.
double keyDifference(const Frame& a, const Frame& b, const QRect& key) {
    if (a.width != b.width || a.height != b.height || a.pixels.empty())
        return 255.0;
    const QRect r = key.intersected(QRect(0, 0, a.width, a.height));
    if (r.isEmpty())
        return 255.0;
    long sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(a.width);
        for (int x = r.left(); x <= r.right(); ++x) {
            const uint32_t p = a.pixels[row + static_cast<size_t>(x)];
            const uint32_t q = b.pixels[row + static_cast<size_t>(x)];
            sum += std::abs(int(p >> 16 & 0xff) - int(q >> 16 & 0xff)) +
                   std::abs(int(p >> 8 & 0xff) - int(q >> 8 & 0xff)) +
                   std::abs(int(p & 0xff) - int(q & 0xff));
        }
    }
    return static_cast<double>(sum) / (3.0 * r.width() * r.height());
}

// How many keys of `frame` show the look they have in `reference`.
int keysMatching(const Frame& frame, const Frame& reference) {
    int n = 0;
    for (const QRect& key : themeBench().keys)
        n += keyDifference(frame, reference, key) < kSameLook ? 1 : 0;
    return n;
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

Rect rootRect(Display* d, Window w) {
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    return {x, y, a.width, a.height};
}

// The pop-up windows on screen (menus are override-redirect top-levels).
std::set<Window> popups(Display* d) {
    std::set<Window> out;
    Window root = 0, parent = 0, *list = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &list, &count) || !list)
        return out;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, list[i], &a) && a.override_redirect &&
            a.map_state == IsViewable)
            out.insert(list[i]);
    }
    XFree(list);
    return out;
}

// Waits for a pop-up that is not in `known`.
Window waitForNewPopup(Display* d, const std::set<Window>& known, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        for (Window w : popups(d))
            if (!known.count(w))
                return w;
        pause(5);
    }
    return 0;
}

bool isViewable(Display* d, Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

void pointerTo(int x, int y) {
    XTestFakeMotionEvent(session().keyboard, -1, x, y, CurrentTime);
    XFlush(session().keyboard);
}

void mouseButton(bool down) {
    XTestFakeButtonEvent(session().keyboard, 1, down ? True : False, CurrentTime);
    XFlush(session().keyboard);
}

void tapKey(KeySym sym) {
    Display* d = session().keyboard;
    const KeyCode code = XKeysymToKeycode(d, sym);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    XFlush(d);
}

// Opens the gear menu with a click on the gear and its "Keyboard Theme"
// submenu with the arrow keys, points at the item of `theme` and presses the
// button on it. Answers the submenu (still open: the choice comes with the
// release), or 0.
Window pressOnThemeItem(int theme) {
    Session& s = session();
    Display* d = grabDisplay();
    const Rect panel = rootRect(d, s.panel);
    const std::set<Window> before = popups(d);
    pointerTo(panel.x + panel.width - 13, panel.y + 11); // the gear button
    pause(50);
    mouseButton(true);
    mouseButton(false);
    const Window gearMenu = waitForNewPopup(d, before);
    if (!gearMenu)
        return 0;
    pause(100);
    std::set<Window> open = popups(d);
    open.insert(gearMenu);
    tapKey(XK_Down); // "Keyboard Theme"
    pause(50);
    tapKey(XK_Right);
    const Window themes = waitForNewPopup(d, open);
    if (!themes)
        return 0;
    // Its place, once it stays put (a slow start may still move it).
    Rect m = rootRect(d, themes);
    for (int i = 0; i < 50; ++i) {
        pause(50);
        const Rect again = rootRect(d, themes);
        if (again.x == m.x && again.y == m.y && again.width == m.width && again.height == m.height)
            break;
        m = again;
    }
    pointerTo(m.x + m.width / 2, m.y + (2 * theme + 1) * m.height / (2 * kThemeCount));
    pause(100); // the item's hover highlight
    mouseButton(true);
    pause(30);
    if (!isViewable(d, themes)) {
        std::fprintf(stderr, "bench_tap: the theme menu closed on the press\n");
        mouseButton(false);
        return 0;
    }
    return themes;
}

// Grabs the panel until it has not changed for `quietMs`.
Frame settledPanel(int quietMs = 400, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Frame last = grabPanel();
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        pause(20);
        Frame now = grabPanel();
        if (now == last) {
            if (std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(quietMs))
                return now;
        } else {
            last = std::move(now);
            since = std::chrono::steady_clock::now();
        }
    }
    return {};
}

// Every key's rectangle, then the panel settled in each of the two themes,
// each chosen through the menu exactly as the measured switches choose it
// (the pointer ends on the same item, so any key under it looks the same).
bool prepareThemeBench() {
    ThemeBench& t = themeBench();
    if (t.ready)
        return true;
    if (!session().ready)
        return false;
    for (const orvix::KeyPlacement& key : orvix::keyboardLayout()) {
        const auto rect = session().pixels->keyRect(static_cast<int>(key.code));
        if (!rect)
            return false;
        t.keys.push_back(*rect);
    }
    for (int theme : {kThemeBlack, kThemeWhite}) {
        const Frame before = settledPanel();
        if (!pressOnThemeItem(theme))
            return false;
        mouseButton(false);
        // Every key changes before the panel counts as settled in the theme.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool changed = false;
        while (!changed && std::chrono::steady_clock::now() < deadline) {
            const Frame now = grabPanel();
            changed = std::all_of(t.keys.begin(), t.keys.end(), [&](const QRect& key) {
                return keyDifference(now, before, key) > kThemesDiffer;
            });
            pause(10);
        }
        if (!changed) {
            std::fprintf(stderr, "bench_tap: choosing theme %d did not change every key\n", theme);
            return false;
        }
        t.reference[theme] = settledPanel();
        if (t.reference[theme].pixels.empty())
            return false;
    }
    t.minContrast = 255;
    for (const QRect& key : t.keys)
        t.minContrast = std::min(
            t.minContrast, keyDifference(t.reference[kThemeWhite], t.reference[kThemeBlack], key));
    t.ready = t.minContrast > kThemesDiffer;
    if (!t.ready)
        std::fprintf(stderr, "bench_tap: a key looks alike in both themes (%.1f)\n", t.minContrast);
    return t.ready;
}

void BM_MenuThemeSwitchToAllKeysRedrawn(benchmark::State& state) {
    if (!prepareThemeBench()) {
        state.SkipWithError("could not choose the themes through the gear menu");
        return;
    }
    ThemeBench& t = themeBench();
    const int keyCount = static_cast<int>(t.keys.size());
    int theme = kThemeWhite; // where the preparation left the panel
    std::vector<double> ms, firstKeyMs;
    for (auto _ : state) {
        theme = theme == kThemeWhite ? kThemeBlack : kThemeWhite;
        const Frame& target = t.reference[theme];
        if (!pressOnThemeItem(theme)) {
            state.SkipWithError("the theme menu did not open");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        mouseButton(false);
        const auto deadline = start + std::chrono::milliseconds(kThemeTimeoutMs);
        double firstKey = -1;
        bool all = false;
        std::chrono::steady_clock::time_point end;
        while (!all && std::chrono::steady_clock::now() < deadline) {
            const Frame now = grabPanel();
            end = std::chrono::steady_clock::now();
            const int matching = keysMatching(now, target);
            if (matching > 0 && firstKey < 0)
                firstKey = std::chrono::duration<double, std::milli>(end - start).count();
            all = matching == keyCount;
            // A grab of the whole panel costs the X server a millisecond or
            // two; a pause leaves the two of them the processor in between.
            if (!all)
                pause(1);
        }
        if (!all) {
            state.SkipWithError("not every key showed the new theme");
            return;
        }
        const double seconds = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000.0);
        firstKeyMs.push_back(firstKey);
        // The look preparation that follows a theme change runs while idle:
        // let it finish, as it would between two choices of a user.
        pause(300);
    }
    reportSamples(state, ms);
    state.counters.erase("presses");
    state.counters["switches"] = static_cast<double>(ms.size());
    state.counters["keys"] = keyCount;
    state.counters["first_key_median_ms"] = percentile(firstKeyMs, 0.5);
    state.counters["min_key_contrast"] = t.minContrast;
}
BENCHMARK(BM_MenuThemeSwitchToAllKeysRedrawn)
    ->UseManualTime()
    ->Iterations(40)
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
