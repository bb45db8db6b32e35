#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace orvix {

struct SystemVersion {
    int major = 0;
    int minor = 0;
    int bugFix = 0;
};

// Operating-system version tests and the program's information values.
class AppAdditions {
public:
    // Where the version comes from; answers nothing when it cannot be obtained
    // (the query then logs and reports 10.0.0). Replaceable so the version rules
    // can be exercised for any system.
    using SystemVersionSource = std::function<std::optional<SystemVersion>()>;
    static void setSystemVersionSource(SystemVersionSource source);
    static std::optional<SystemVersion> currentSystemVersion();

    static void getSystemVersion(int* major, int* minor, int* bugFix);

    static bool systemIsLeopard();
    static bool systemIsSnowLeopard();
    static bool systemIsLion();
    static bool systemIsMountainLion();
    static bool systemIsMavericks();
    static bool systemIsYosemite();
    static bool systemIsLeopardOrHigher();
    static bool systemIsSnowLeopardOrHigher();
    static bool systemIsLionOrHigher();
    static bool systemIsMountainLionOrHigher();
    static bool systemIsMavericksOrHigher();
    static bool systemIsYosemiteOrHigher();

    // Information values. The dictionary holds the build's values under the
    // usual keys (CFBundleName, CFBundleShortVersionString, CFBundleVersion,
    // CFBundleIdentifier, NSHumanReadableCopyright); it can be replaced so a
    // bundle without a name can be represented.
    static QVariantMap infoDictionary();
    static void setInfoDictionary(QVariantMap info);
    static QVariant infoValueForKey(const QString& key);
    static QString applicationName();
    static QString applicationCopyrightInformation();
    static QString applicationShortVersionString();
    static QString applicationVersion();
    static QString applicationIdentifier();
};

} // namespace orvix
