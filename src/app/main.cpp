// The orvix program. Its own options are answered before any window-system
// connection, so --help, --version and --reset-settings work in a console, over
// ssh and in scripts, and a missing display is one clear line, not a Qt abort.
#include "BuildInfo.h"
#include "app/Application.h"
#include "os/DesktopSession.h"
#include "os/Log.h"
#include "os/SingleInstance.h"
#include "settings/Defaults.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <X11/Xlib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kHelp =
    "Usage: orvix [OPTION]...\n"
    "An on-screen keyboard: click its keys to type into the application you are\n"
    "typing in.\n"
    "\n"
    "  --input-backend auto|evdev|wayland|x11\n"
    "                      watch and post keys through this backend for this run\n"
    "                      (overrides the InputBackend setting, which is kept)\n"
    "  --reset-settings    move the settings file aside, keeping it, and exit;\n"
    "                      the next start uses the defaults\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Orvix needs an X11 session, or Wayland with XWayland.\n"
    "Settings: $XDG_CONFIG_HOME/Orvix/Orvix.conf (~/.config/Orvix/Orvix.conf).\n"
    "Log: journalctl -t orvix\n";

constexpr const char* kInputBackendKey = "InputBackend";
constexpr const char* kInputBackends[] = {"auto", "evdev", "wayland", "x11"};

// Qt's own options that take a value; they pass through to Qt untouched.
constexpr const char* kQtValueOptions[] = {
    "platform",        "display",      "session",     "style",         "stylesheet",
    "qwindowgeometry", "qwindowtitle", "qwindowicon", "platformtheme", "plugin"};

struct Options {
    bool help = false;
    bool version = false;
    bool resetSettings = false;
    const char* inputBackend = nullptr;
    const char* display = nullptr; // from Qt's -display option
    std::vector<char*> qtArguments;
};

int usageError(const char* format, const char* argument) {
    std::fputs("orvix: ", stderr);
    std::fprintf(stderr, format, argument);
    std::fputs("\nTry 'orvix --help' for more information.\n", stderr);
    return kUsage;
}

bool isQtValueOption(std::string_view name) {
    for (const char* option : kQtValueOptions)
        if (name == option)
            return true;
    return false;
}

// Answers 0 when the arguments parse, else the exit status of the usage error
// it has printed.
int parse(int argc, char** argv, Options& options) {
    options.qtArguments.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--reset-settings") {
            options.resetSettings = true;
        } else if (arg == "--input-backend" || arg.starts_with("--input-backend=")) {
            const char* value = nullptr;
            if (arg.size() > std::strlen("--input-backend"))
                value = argv[i] + std::strlen("--input-backend=");
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return usageError("%s needs a value: auto, evdev, wayland or x11", argv[i]);
            bool known = false;
            for (const char* backend : kInputBackends)
                known = known || std::string_view(value) == backend;
            if (!known)
                return usageError("unknown input backend '%s' (use auto, evdev, wayland or x11)",
                                  value);
            options.inputBackend = value;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            // Qt accepts its options with one dash or two.
            const std::string_view name = arg.substr(arg.starts_with("--") ? 2 : 1);
            if (isQtValueOption(name) && i + 1 < argc) {
                if (name == "display")
                    options.display = argv[i + 1];
                options.qtArguments.push_back(argv[i]);
                options.qtArguments.push_back(argv[++i]);
            } else if (arg.starts_with("--") || isQtValueOption(name)) {
                return usageError("unrecognised option '%s'", argv[i]);
            } else {
                options.qtArguments.push_back(argv[i]); // -reverse, -sync, ...
            }
        } else {
            return usageError("unexpected argument '%s'", argv[i]);
        }
    }
    options.qtArguments.push_back(nullptr);
    return 0;
}

// Whether another copy of Orvix answers at its single-instance endpoint.
bool otherCopyRunning() {
    const QByteArray path =
        QFile::encodeName(orvix::SingleInstance::endpointFor(orvix::buildinfo::kIdentifier));
    sockaddr_un address{};
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EAGAIN;
    ::close(fd);
    return connected;
}

// Moves the settings file aside under a new name, so nothing of the user's is
// lost and the next start begins from the defaults.
int resetSettings() {
    const QString path = orvix::Defaults::standardFilePath();
    if (!QFileInfo::exists(path)) {
        std::printf("No settings to reset: %s does not exist.\n", qUtf8Printable(path));
        return 0;
    }
    if (otherCopyRunning()) {
        // A running copy would write its settings back over the reset.
        std::fputs("orvix: Orvix is running; quit it, then reset its settings.\n", stderr);
        return kFailed;
    }
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmss"));
    QString aside = path + QStringLiteral(".reset-") + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".reset-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(path, aside)) {
        std::fprintf(stderr, "orvix: cannot move %s aside.\n", qUtf8Printable(path));
        return kFailed;
    }
    std::printf("Settings moved to %s; Orvix starts with its defaults.\n", qUtf8Printable(aside));
    return 0;
}

// Orvix draws through XCB and types through XTest, so it needs an X server: a
// plain X11 session, or XWayland under Wayland, also where the session asks Qt
// programs for native Wayland. Other Qt platforms (offscreen for tests) are the
// caller's own choice and are not checked.
bool displayUsable(const char* displayOption) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform.startsWith("wayland"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (!qgetenv("QT_QPA_PLATFORM").startsWith("xcb"))
        return true;
    const QByteArray name = displayOption ? QByteArray(displayOption) : qgetenv("DISPLAY");
    const char* reason = nullptr;
    if (name.isEmpty()) {
        reason = "DISPLAY is not set";
    } else if (Display* display = XOpenDisplay(name.constData())) {
        XCloseDisplay(display);
        return true;
    } else {
        reason = "cannot open display";
    }
    orvix::Log::write("Orvix needs an X11 session, or Wayland with XWayland (%s%s%s)", reason,
                      name.isEmpty() ? "" : " ", name.constData());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = parse(argc, argv, options))
        return status;
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("orvix %s\n", orvix::buildinfo::kShortVersion);
        return 0;
    }
    if (options.resetSettings)
        return resetSettings();
    // Before the application object: it picks its platform when it is made.
    if (!orvix::DesktopSession::preparePlatform())
        return kFailed;
    if (!displayUsable(options.display))
        return kFailed;
    if (options.inputBackend)
        orvix::Defaults::standardUserDefaults().setArgumentValue(
            QString::fromLatin1(options.inputBackend), QString::fromLatin1(kInputBackendKey));
    int qtArgc = static_cast<int>(options.qtArguments.size()) - 1;
    return orvix::applicationMain(qtArgc, options.qtArguments.data());
}
