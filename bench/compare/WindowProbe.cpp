// Starts a program and times how long its window takes to appear on an X
// display: until the window manager maps it, until its pixels are no longer
// one flat colour (first paint) and until they stop changing (settled).
//
// usage: compare_probe [--timeout MS] [--settle MS] [--class NAME] [--name TITLE] -- COMMAND
// ARGS...
//
// The clock starts just before fork(), so process creation, dynamic linking
// and the program's own start-up all count. The program is left running; its
// pid is printed first so the caller can measure and end it. Output is one
// "key value" pair a line: pid, window, geometry, mapped_ms, painted_ms,
// settled_ms, or error.
//
// Windows are found in the manager's _NET_CLIENT_LIST: a client that was not
// there before the start and whose _NET_WM_PID is the child (or, for toolkits
// that do not set it, whose WM_CLASS matches --class or whose title is --name). Pixels are read
// from the root window over the client's on-screen rectangle, which is what a viewer sees and never
// fails when the window is partly off screen.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

std::vector<Window> clientList(Display* dpy) {
    Atom prop = XInternAtom(dpy, "_NET_CLIENT_LIST", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Window> out;
    if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), prop, 0, 4096, False, XA_WINDOW, &type,
                           &format, &count, &after, &data) == Success &&
        data != nullptr) {
        auto* ids = reinterpret_cast<unsigned long*>(data);
        out.assign(ids, ids + count);
    }
    if (data != nullptr)
        XFree(data);
    return out;
}

long windowPid(Display* dpy, Window w) {
    Atom prop = XInternAtom(dpy, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(dpy, w, prop, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && count == 1)
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr)
        XFree(data);
    return pid;
}

bool classMatches(Display* dpy, Window w, const std::string& name) {
    XClassHint hint{};
    if (XGetClassHint(dpy, w, &hint) == 0)
        return false;
    bool match = (hint.res_name != nullptr && strcasecmp(hint.res_name, name.c_str()) == 0) ||
                 (hint.res_class != nullptr && strcasecmp(hint.res_class, name.c_str()) == 0);
    if (hint.res_name != nullptr)
        XFree(hint.res_name);
    if (hint.res_class != nullptr)
        XFree(hint.res_class);
    return match;
}

bool nameMatches(Display* dpy, Window w, const std::string& name) {
    char* title = nullptr;
    if (XFetchName(dpy, w, &title) == 0 || title == nullptr)
        return false;
    bool match = name == title;
    XFree(title);
    return match;
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The client's rectangle in root coordinates, clipped to the screen.
bool visibleRect(Display* dpy, Window w, Rect& out) {
    XWindowAttributes attrs{};
    if (XGetWindowAttributes(dpy, w, &attrs) == 0 || attrs.map_state != IsViewable)
        return false;
    int rx = 0;
    int ry = 0;
    Window child = None;
    XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &rx, &ry, &child);
    int sw = DisplayWidth(dpy, DefaultScreen(dpy));
    int sh = DisplayHeight(dpy, DefaultScreen(dpy));
    int x0 = std::max(rx, 0);
    int y0 = std::max(ry, 0);
    int x1 = std::min(rx + attrs.width, sw);
    int y1 = std::min(ry + attrs.height, sh);
    if (x1 <= x0 || y1 <= y0)
        return false;
    out = {x0, y0, x1 - x0, y1 - y0};
    return true;
}

struct Frame {
    bool flat = true;
    uint64_t hash = 0;
};

// "Flat" means at most 0.2 % of the pixels differ from the commonest colour:
// what an unpainted window (its background pixel, or the root showing
// through) looks like. The hash covers every pixel, to tell when painting
// has stopped.
bool grab(Display* dpy, const Rect& r, Frame& out) {
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), r.x, r.y, static_cast<unsigned>(r.w),
                              static_cast<unsigned>(r.h), AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    uint64_t hash = 1469598103934665603ULL;
    std::unordered_map<unsigned long, long> counts;
    long samples = 0;
    for (int y = 0; y < r.h; ++y) {
        for (int x = 0; x < r.w; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            hash = (hash ^ p) * 1099511628211ULL;
            if ((x & 1) == 0 && (y & 1) == 0) {
                ++counts[p];
                ++samples;
            }
        }
    }
    XDestroyImage(image);
    long top = 0;
    for (const auto& [pixel, n] : counts)
        top = std::max(top, n);
    out.flat = (samples - top) * 500 < samples;
    out.hash = hash;
    return true;
}

void usage() {
    std::fprintf(
        stderr,
        "usage: compare_probe [--timeout MS] [--settle MS] [--class NAME] [--name TITLE] -- "
        "COMMAND ARGS...\n");
}

} // namespace

int main(int argc, char** argv) {
    int timeoutMs = 30000;
    int settleMs = 700;
    std::string wmClass;
    std::string wmName;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        if (arg == "--timeout")
            timeoutMs = std::atoi(argv[++i]);
        else if (arg == "--settle")
            settleMs = std::atoi(argv[++i]);
        else if (arg == "--class")
            wmClass = argv[++i];
        else if (arg == "--name")
            wmName = argv[++i];
        else {
            usage();
            return 2;
        }
    }
    if (i >= argc || timeoutMs <= 0 || settleMs <= 0) {
        usage();
        return 2;
    }

    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) {
        std::printf("error cannot open display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXError);
    std::vector<Window> before = clientList(dpy);
    std::set<Window> known(before.begin(), before.end());

    std::fflush(stdout);
    Clock::time_point t0 = Clock::now();
    pid_t pid = fork();
    if (pid < 0) {
        std::printf("error fork failed\n");
        return 1;
    }
    if (pid == 0) {
        close(ConnectionNumber(dpy));
        // The caller reads this process's output to its end; the program
        // must not hold that pipe open, so its output goes to our stderr.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[i], argv + i);
        _exit(127);
    }
    std::printf("pid %d\n", static_cast<int>(pid));
    std::fflush(stdout);

    const auto pollGap = std::chrono::milliseconds(2);
    Window window = None;
    Rect rect;
    while (msSince(t0) < timeoutMs) {
        for (Window w : clientList(dpy)) {
            if (known.count(w) != 0)
                continue;
            long owner = windowPid(dpy, w);
            bool mine = owner == pid ||
                        (owner < 0 && !wmClass.empty() && classMatches(dpy, w, wmClass)) ||
                        (owner < 0 && !wmName.empty() && nameMatches(dpy, w, wmName));
            if (!mine) {
                known.insert(w);
                continue;
            }
            if (visibleRect(dpy, w, rect)) {
                window = w;
                break;
            }
        }
        if (window != None)
            break;
        std::this_thread::sleep_for(pollGap);
    }
    if (window == None) {
        std::printf("error no window mapped within %d ms\n", timeoutMs);
        return 1;
    }
    double mapped = msSince(t0);
    std::printf("window 0x%lx\ngeometry %dx%d+%d+%d\nmapped_ms %.2f\n", window, rect.w, rect.h,
                rect.x, rect.y, mapped);
    std::fflush(stdout);

    double painted = -1;
    double lastChange = mapped;
    uint64_t lastHash = 0;
    Frame frame;
    while (msSince(t0) < timeoutMs) {
        // The window may still move or grow while the manager places it.
        visibleRect(dpy, window, rect);
        double before = msSince(t0);
        if (grab(dpy, rect, frame)) {
            if (frame.hash != lastHash) {
                lastHash = frame.hash;
                lastChange = before;
            }
            if (painted < 0 && !frame.flat) {
                painted = before;
                std::printf("painted_ms %.2f\n", painted);
                std::fflush(stdout);
            }
            if (painted >= 0 && before - lastChange >= settleMs)
                break;
        }
        std::this_thread::sleep_for(pollGap);
    }
    if (painted < 0) {
        std::printf("error window never painted within %d ms\n", timeoutMs);
        return 1;
    }
    std::printf("settled_ms %.2f\n", lastChange);
    XCloseDisplay(dpy);
    return 0;
}
