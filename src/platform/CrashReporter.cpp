#include "platform/CrashReporter.h"

#include "BuildInfo.h"
#include "os/Log.h"
#include "platform/AppAdditions.h"
#include "platform/UrlEncode.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSysInfo>
#include <atomic>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace orvix {

namespace {

// Everything the handler uses is prepared at install time and lives in
// static storage, so the handler allocates nothing and takes no locks.
constexpr int kMaxPath = 4096;
constexpr int kMaxFrames = 64;
char gFolder[kMaxPath];
char gHeader[1024]; // program and system lines, fixed at install
std::atomic<bool> gHandling{false};
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
struct sigaction gPrevious[sizeof(kSignals) / sizeof(kSignals[0])];

const QString kReportSuffix = QStringLiteral(".crash");
const QString kOfferedSuffix = QStringLiteral(".txt"); // read by any text viewer

// Async-signal-safe helpers: plain writes and integer formatting.
void put(int fd, const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

// Writes the decimal (or, with base 16, hexadecimal) digits of n into buf.
char* formatUnsigned(char* buf, unsigned long long n, unsigned base = 10, int minDigits = 1) {
    char digits[32];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[n % base];
        n /= base;
    } while (n > 0 && count < 32);
    while (count < minDigits && count < 32)
        digits[count++] = '0';
    char* out = buf;
    while (count > 0)
        *out++ = digits[--count];
    *out = '\0';
    return buf;
}

void putNumber(int fd, unsigned long long n, unsigned base = 10, int minDigits = 1) {
    char buf[40];
    put(fd, formatUnsigned(buf, n, base, minDigits));
}

const char* signalName(int sig) {
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    case SIGTRAP:
        return "SIGTRAP";
    case SIGSYS:
        return "SIGSYS";
    default:
        return "signal";
    }
}

// The UTC calendar date of a time, by arithmetic (no locale, no locks).
void putUtcTime(int fd, long long seconds) {
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date.
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long year = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++year;
    putNumber(fd, static_cast<unsigned long long>(year), 10, 4);
    put(fd, "-");
    putNumber(fd, static_cast<unsigned long long>(month), 10, 2);
    put(fd, "-");
    putNumber(fd, static_cast<unsigned long long>(day), 10, 2);
    put(fd, " ");
    putNumber(fd, static_cast<unsigned long long>(rest / 3600), 10, 2);
    put(fd, ":");
    putNumber(fd, static_cast<unsigned long long>(rest / 60 % 60), 10, 2);
    put(fd, ":");
    putNumber(fd, static_cast<unsigned long long>(rest % 60), 10, 2);
    put(fd, " UTC");
}

void crashHandler(int sig, siginfo_t* info, void*) {
    if (gHandling.exchange(true)) {
        // Another thread is writing the report; it ends the process.
        for (;;)
            ::pause();
    }
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);

    char path[kMaxPath + 96];
    char number[40];
    char* p = path;
    auto append = [&p, &path](const char* text) {
        while (*text && p < path + sizeof(path) - 1)
            *p++ = *text++;
        *p = '\0';
    };
    append(gFolder);
    append("/crash-");
    append(formatUnsigned(number, static_cast<unsigned long long>(now.tv_sec)));
    append("-");
    append(formatUnsigned(number, static_cast<unsigned long long>(::getpid())));
    append(".crash");

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        put(fd, gHeader);
        put(fd, "Signal: ");
        putNumber(fd, static_cast<unsigned long long>(sig));
        put(fd, " (");
        put(fd, signalName(sig));
        put(fd, ")\nFault address: 0x");
        putNumber(fd, info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0, 16);
        put(fd, "\nTime: ");
        putUtcTime(fd, now.tv_sec);
        put(fd, "\nProcess: ");
        putNumber(fd, static_cast<unsigned long long>(::getpid()));
        put(fd, "\n\nBacktrace:\n");
        void* frames[kMaxFrames];
        const int count = ::backtrace(frames, kMaxFrames);
        ::backtrace_symbols_fd(frames, count, fd);
        ::fsync(fd);
        ::close(fd);
    }
    // Let the signal end the process as it would have without us.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
}

} // namespace

QString CrashReporter::defaultReportFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QLatin1Char('/') + AppAdditions::applicationName() +
           QStringLiteral("/CrashReports");
}

bool CrashReporter::install(const QString& reportFolder) {
    if (!QDir().mkpath(reportFolder))
        return false;
    QFile::setPermissions(reportFolder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray folder = QFile::encodeName(QFileInfo(reportFolder).absoluteFilePath());
    if (folder.size() >= kMaxPath)
        return false;
    std::memcpy(gFolder, folder.constData(), static_cast<size_t>(folder.size()) + 1);

    const QByteArray header =
        QStringLiteral("%1 crash report\nVersion: %2 (%3)\nSystem: %4 (kernel %5, %6)\n")
            .arg(AppAdditions::applicationName(), AppAdditions::applicationShortVersionString(),
                 AppAdditions::applicationVersion(), QSysInfo::prettyProductName(),
                 QSysInfo::kernelVersion(), QSysInfo::currentCpuArchitecture())
            .toUtf8()
            .left(sizeof(gHeader) - 1);
    std::memcpy(gHeader, header.constData(), static_cast<size_t>(header.size()));
    gHeader[header.size()] = '\0';

    // The first backtrace loads the unwinder; doing it now keeps the loader
    // (and its locks) out of the handler.
    void* warm[4];
    ::backtrace(warm, 4);

    // Its own stack, so a stack overflow can still be reported.
    static std::unique_ptr<char[]> altStack;
    if (!altStack) {
        constexpr size_t kStackSize = 64 * 1024;
        altStack = std::make_unique<char[]>(kStackSize);
        stack_t ss{};
        ss.ss_sp = altStack.get();
        ss.ss_size = kStackSize;
        ::sigaltstack(&ss, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i)
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
    return true;
}

QStringList CrashReporter::pendingReports(const QString& reportFolder) {
    QStringList reports;
    const QFileInfoList files =
        QDir(reportFolder)
            .entryInfoList({QStringLiteral("*") + kReportSuffix}, QDir::Files, QDir::Time);
    for (const QFileInfo& info : files)
        reports << info.absoluteFilePath();
    return reports;
}

std::unique_ptr<QMessageBox> CrashReporter::buildOfferAlert() {
    const QString name = AppAdditions::applicationName();
    AlertContent content;
    content.messageText = QStringLiteral("%1 quit unexpectedly.").arg(name);
    content.informativeText =
        QStringLiteral("A report of the problem was saved. It holds the versions of %1 and of "
                       "your system and where %1 stopped, nothing that you typed.\n\nWould you "
                       "like to send it to the developers by email?")
            .arg(name);
    content.firstButton = QStringLiteral("Send Report");
    content.secondButton = QStringLiteral("Ignore");
    content.thirdButton = QStringLiteral("Show Report");
    content.style = AlertStyle::Warning;
    return makeAlert(content);
}

QUrl CrashReporter::mailAddressForReport(const QString& reportText, const QString& domain) {
    // Mail programs take addresses of a few thousand characters at most.
    constexpr qsizetype kMaxBody = 6000;
    const QString body = reportText.size() > kMaxBody
                             ? reportText.left(kMaxBody) + QStringLiteral("\n[...]")
                             : reportText;
    const QString name = AppAdditions::applicationName();
    const QString subject = QStringLiteral("Crash report for %1 %2 (%3)")
                                .arg(name, AppAdditions::applicationShortVersionString(),
                                     AppAdditions::applicationVersion());
    return QUrl(QStringLiteral("mailto:%1@%2?").arg(urlEncode(name.toLower()), domain) +
                    QStringLiteral("subject=%1").arg(urlEncode(subject)) +
                    QStringLiteral("&body=%1").arg(urlEncode(body)),
                QUrl::StrictMode);
}

bool CrashReporter::check() {
    return check(CheckEnvironment{});
}

bool CrashReporter::check(CheckEnvironment env) {
    if (env.reportFolder.isEmpty())
        env.reportFolder = defaultReportFolder();
    if (!env.runAlert)
        env.runAlert = runAlertModally;
    if (!env.openUrl)
        env.openUrl = [](const QUrl& url) {
            return QDesktopServices::openUrl(url);
        };
    if (env.supportMailDomain.isEmpty())
        env.supportMailDomain = QString::fromUtf8(buildinfo::kSupportMailDomain);

    const QStringList reports = pendingReports(env.reportFolder);
    if (reports.isEmpty())
        return false;
    const QString newest = reports.first();
    // Each report is offered once, older ones are set aside with it.
    auto offeredName = [](const QString& report) {
        return report.left(report.size() - kReportSuffix.size()) + kOfferedSuffix;
    };
    for (const QString& report : reports)
        if (!QFile::rename(report, offeredName(report)))
            Log::write("Could not set the crash report %s aside", qPrintable(report));
    const QString offered = offeredName(newest);

    std::unique_ptr<QMessageBox> alert = buildOfferAlert();
    const AlertResult result = env.runAlert(*alert);
    if (result.answer == AlertAnswer::First) {
        QFile file(offered);
        if (file.open(QIODevice::ReadOnly))
            env.openUrl(mailAddressForReport(QString::fromUtf8(file.read(64 * 1024)),
                                             env.supportMailDomain));
    } else if (result.answer == AlertAnswer::Third) {
        env.openUrl(QUrl::fromLocalFile(offered));
    }
    return true;
}

} // namespace orvix
