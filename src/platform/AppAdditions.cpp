#include "platform/AppAdditions.h"

#include "BuildInfo.h"
#include "os/Log.h"

#include <QOperatingSystemVersion>
#include <QStringList>
#include <QSysInfo>
#include <mutex>

namespace orvix {

namespace {

std::mutex gMutex;

std::optional<SystemVersion> queryRunningSystem() {
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    if (os.type() != QOperatingSystemVersion::Unknown && os.majorVersion() >= 0)
        return SystemVersion{os.majorVersion(), std::max(os.minorVersion(), 0),
                             std::max(os.microVersion(), 0)};
    // Linux: the kernel release ("6.1.0-13-amd64") is the system's version.
    const QStringList parts = QSysInfo::kernelVersion().split(QLatin1Char('.'));
    if (parts.isEmpty())
        return std::nullopt;
    SystemVersion v;
    int* fields[3] = {&v.major, &v.minor, &v.bugFix};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        QString digits;
        for (QChar c : parts[i]) {
            if (!c.isDigit())
                break;
            digits += c;
        }
        bool ok = false;
        const int n = digits.toInt(&ok);
        if (!ok) {
            if (i == 0)
                return std::nullopt;
            break;
        }
        *fields[i] = n;
    }
    return v;
}

AppAdditions::SystemVersionSource& versionSource() {
    static AppAdditions::SystemVersionSource source = queryRunningSystem;
    return source;
}

QVariantMap& infoStorage() {
    static QVariantMap info = {
        {QStringLiteral("CFBundleName"), QString::fromUtf8(buildinfo::kName)},
        {QStringLiteral("CFBundleShortVersionString"), QString::fromUtf8(buildinfo::kShortVersion)},
        {QStringLiteral("CFBundleVersion"), QString::fromUtf8(buildinfo::kBuildVersion)},
        {QStringLiteral("CFBundleIdentifier"), QString::fromUtf8(buildinfo::kIdentifier)},
        {QStringLiteral("NSHumanReadableCopyright"), QString::fromUtf8(buildinfo::kCopyright)},
    };
    return info;
}

SystemVersion fetch() {
    int major = 0, minor = 0, bugFix = 0;
    AppAdditions::getSystemVersion(&major, &minor, &bugFix);
    return {major, minor, bugFix};
}

bool exactly(int minor) {
    const SystemVersion v = fetch();
    return v.major == 10 && v.minor == minor;
}

bool atLeast(int minor) {
    const SystemVersion v = fetch();
    return v.major > 10 || (v.major == 10 && v.minor >= minor);
}

} // namespace

void AppAdditions::setSystemVersionSource(SystemVersionSource source) {
    std::lock_guard lock(gMutex);
    versionSource() = source ? std::move(source) : SystemVersionSource(queryRunningSystem);
}

std::optional<SystemVersion> AppAdditions::currentSystemVersion() {
    SystemVersionSource source;
    {
        std::lock_guard lock(gMutex);
        source = versionSource();
    }
    return source();
}

void AppAdditions::getSystemVersion(int* major, int* minor, int* bugFix) {
    std::optional<SystemVersion> v = currentSystemVersion();
    if (!v) {
        Log::write("Unable to obtain system version: %ld", -1L);
        v = SystemVersion{10, 0, 0};
    }
    if (major)
        *major = v->major;
    if (minor)
        *minor = v->minor;
    if (bugFix)
        *bugFix = v->bugFix;
}

bool AppAdditions::systemIsLeopard() {
    return exactly(5);
}
bool AppAdditions::systemIsSnowLeopard() {
    return exactly(6);
}
bool AppAdditions::systemIsLion() {
    return exactly(7);
}
bool AppAdditions::systemIsMountainLion() {
    return exactly(8);
}
bool AppAdditions::systemIsMavericks() {
    return exactly(9);
}
bool AppAdditions::systemIsYosemite() {
    return exactly(10);
}
bool AppAdditions::systemIsLeopardOrHigher() {
    return atLeast(5);
}
bool AppAdditions::systemIsSnowLeopardOrHigher() {
    return atLeast(6);
}
bool AppAdditions::systemIsLionOrHigher() {
    return atLeast(7);
}
bool AppAdditions::systemIsMountainLionOrHigher() {
    return atLeast(8);
}
bool AppAdditions::systemIsMavericksOrHigher() {
    return atLeast(9);
}
bool AppAdditions::systemIsYosemiteOrHigher() {
    return atLeast(10);
}

QVariantMap AppAdditions::infoDictionary() {
    std::lock_guard lock(gMutex);
    return infoStorage();
}

void AppAdditions::setInfoDictionary(QVariantMap info) {
    std::lock_guard lock(gMutex);
    infoStorage() = std::move(info);
}

QVariant AppAdditions::infoValueForKey(const QString& key) {
    std::lock_guard lock(gMutex);
    return infoStorage().value(key);
}

QString AppAdditions::applicationName() {
    const QVariant name = infoValueForKey(QStringLiteral("CFBundleName"));
    return name.isValid() ? name.toString() : QStringLiteral("No Name");
}

QString AppAdditions::applicationCopyrightInformation() {
    return infoValueForKey(QStringLiteral("NSHumanReadableCopyright")).toString();
}

QString AppAdditions::applicationShortVersionString() {
    return infoValueForKey(QStringLiteral("CFBundleShortVersionString")).toString();
}

QString AppAdditions::applicationVersion() {
    return infoValueForKey(QStringLiteral("CFBundleVersion")).toString();
}

QString AppAdditions::applicationIdentifier() {
    return infoValueForKey(QStringLiteral("CFBundleIdentifier")).toString();
}

} // namespace orvix
