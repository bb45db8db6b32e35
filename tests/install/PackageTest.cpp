// The Debian package as a user meets it: built by `scripts/build package`,
// installed with apt, started from the application's own install, and purged
// without a trace. It installs into the real system, so it needs root, and it
// puts the machine back as it found it: a copy of Orvix installed before is
// packed up first and reinstalled afterwards, and packages the install pulled
// in are removed again.
#include "BuildInfo.h"
#include "ToolRun.h"
#include "XSession.h"
#include "platform/SymlinksAndAliases.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using orvix::shellQuote;
using orvix::test::runTool;
using orvix::test::ToolRun;
using orvix::test::XSession;

namespace {

const QString kPackage = QStringLiteral("orvix");
const QString kSource = QStringLiteral(ORVIX_TEST_SOURCE_DIR);

ToolRun sh(const QString& command, int timeoutMs = 600000) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
    return runTool(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, env, timeoutMs);
}

QSet<QString> installedPackages() {
    const ToolRun r = sh(QStringLiteral(
        "dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\\n' | awk '/^ii/ {print $2}'"));
    const QStringList names = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return QSet<QString>(names.begin(), names.end());
}

bool isInstalled(const QString& package) {
    return sh(QStringLiteral(
                  "dpkg-query -W -f='${db:Status-Abbrev}' %1 2>/dev/null | grep -q '^ii'")
                  .arg(shellQuote(package)))
               .exitCode == 0;
}

std::string tail(const QString& text) {
    return text.right(4000).toStdString();
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "installing the package needs root (CI runs as root): skipped";
        for (const char* tool : {"apt-get", "dpkg-query", "dpkg-deb", "dpkg-repack"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not available (scripts/deps installs it): skipped";
        ASSERT_TRUE(work.isValid());
        // Test runs from other checkouts install the same package: one at a
        // time, also against a run that dies (the kernel drops the lock).
        lock = ::open("/run/lock/orvix-package-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(lock, 0);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        before = installedPackages();
        ASSERT_FALSE(before.isEmpty()) << "cannot list the installed packages";
        if (isInstalled(kPackage)) {
            // Keep the user's own copy to put it back afterwards.
            const ToolRun r = sh(
                QStringLiteral("cd %1 && dpkg-repack %2").arg(shellQuote(work.path()), kPackage));
            ASSERT_EQ(r.exitCode, 0) << tail(r.err);
            keptCopy = QDir(work.path()).entryList({QStringLiteral("orvix_*.deb")}).value(0);
            ASSERT_FALSE(keptCopy.isEmpty());
            keptCopy = work.filePath(keptCopy);
            wasAuto =
                sh(QStringLiteral("apt-mark showauto %1").arg(kPackage)).out.trimmed() == kPackage;
        }
        ready = true;
    }

    void TearDown() override {
        // Nothing is undone unless the state before was fully recorded.
        if (!ready) {
            if (lock >= 0)
                ::close(lock);
            return;
        }
        if (isInstalled(kPackage))
            sh(QStringLiteral("apt-get purge -y -qq %1").arg(kPackage));
        // What the install pulled in goes again; nothing else is touched.
        QStringList added;
        for (const QString& p : installedPackages())
            if (!before.contains(p) && p != kPackage)
                added << shellQuote(p);
        // Never a mass removal, whatever went wrong.
        if (added.size() > 40) {
            ADD_FAILURE() << "not removing packages the install may have added: "
                          << added.join(QLatin1Char(' ')).toStdString();
        } else if (!added.isEmpty()) {
            const ToolRun r =
                sh(QStringLiteral("apt-get purge -y -qq ") + added.join(QLatin1Char(' ')));
            EXPECT_EQ(r.exitCode, 0) << tail(r.err);
        }
        if (!keptCopy.isEmpty()) {
            const ToolRun r =
                sh(QStringLiteral("apt-get install -y -qq %1").arg(shellQuote(keptCopy)));
            EXPECT_EQ(r.exitCode, 0) << "could not reinstall the earlier copy: " << tail(r.err);
            if (wasAuto)
                sh(QStringLiteral("apt-mark auto %1").arg(kPackage));
        }
        ::close(lock);
    }

    QTemporaryDir work;
    int lock = -1;
    bool ready = false;
    QSet<QString> before;
    QString keptCopy;
    bool wasAuto = false;
};

TEST_F(PackageTest, InstallsStartsAndPurgesCleanly) {
    // The package's own build tree is reused from run to run.
    const ToolRun built =
        sh(QStringLiteral("%1 package").arg(shellQuote(kSource + QStringLiteral("/scripts/build"))),
           3000000);
    ASSERT_EQ(built.exitCode, 0) << tail(built.out) << tail(built.err);
    const QString deb = built.out.trimmed().split(QLatin1Char('\n')).last();
    ASSERT_TRUE(QFileInfo(deb).fileName().startsWith(
        QStringLiteral("orvix_%1_").arg(QLatin1String(orvix::buildinfo::kShortVersion))))
        << deb.toStdString();

    // What the package holds, to check that all of it goes again.
    const ToolRun listing =
        sh(QStringLiteral("dpkg-deb --fsys-tarfile %1 | tar -t").arg(shellQuote(deb)));
    ASSERT_EQ(listing.exitCode, 0);
    QStringList files, dirs;
    for (QString entry : listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        entry.remove(0, 1); // "./usr/..." -> "/usr/..."
        if (entry.endsWith(QLatin1Char('/')))
            dirs << entry.chopped(1);
        else
            files << entry;
    }
    ASSERT_TRUE(files.contains(QStringLiteral("/usr/bin/orvix")));
    ASSERT_TRUE(files.contains(QStringLiteral("/usr/share/man/man1/orvix.1.gz")));

    // Checked the way Debian and software centres check packages.
    const ToolRun unpacked = sh(QStringLiteral("dpkg-deb -x %1 %2")
                                    .arg(shellQuote(deb), shellQuote(work.filePath("root"))));
    ASSERT_EQ(unpacked.exitCode, 0) << tail(unpacked.err);
    const ToolRun desktop = sh(
        QStringLiteral("desktop-file-validate %1 2>&1")
            .arg(shellQuote(work.filePath("root/usr/share/applications/org.orvix.Orvix.desktop"))));
    EXPECT_EQ(desktop.exitCode, 0) << tail(desktop.out);
    EXPECT_TRUE(desktop.out.isEmpty()) << tail(desktop.out);
    // The screenshots are published with the release, not reachable from here.
    const ToolRun appstream = sh(QStringLiteral("appstreamcli validate --no-net %1 2>&1")
                                     .arg(shellQuote(work.filePath(
                                         "root/usr/share/metainfo/org.orvix.Orvix.metainfo.xml"))));
    EXPECT_EQ(appstream.exitCode, 0) << tail(appstream.out);
    const ToolRun lintian =
        sh(QStringLiteral("lintian --fail-on error %1 2>&1").arg(shellQuote(deb)));
    EXPECT_EQ(lintian.exitCode, 0) << tail(lintian.out);
    EXPECT_FALSE(lintian.out.contains(QStringLiteral("E: "))) << tail(lintian.out);

    const ToolRun installed =
        sh(QStringLiteral("cd %1 && apt-get install -y -qq ./%2")
               .arg(shellQuote(QFileInfo(deb).path()), shellQuote(QFileInfo(deb).fileName())));
    ASSERT_EQ(installed.exitCode, 0) << tail(installed.out) << tail(installed.err);
    ASSERT_TRUE(isInstalled(kPackage));

    const ToolRun version =
        runTool(QStringLiteral("/usr/bin/orvix"), {QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("orvix %1\n").arg(orvix::buildinfo::kShortVersion));
    if (QFileInfo::exists(QStringLiteral("/usr/share/man/man1/orvix.1.gz"))) {
        const ToolRun man = sh(QStringLiteral("MANWIDTH=80 man -P cat orvix 2>&1"));
        EXPECT_TRUE(man.out.contains(QStringLiteral("--reset-settings"))) << tail(man.out);
    } else {
        // Some systems (container images) tell dpkg to leave manual pages out.
        EXPECT_EQ(
            sh(QStringLiteral("grep -rqs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d"))
                .exitCode,
            0)
            << "the manual page is missing after the install";
    }

    {
        XSession x;
        ASSERT_TRUE(x.isRunning()) << "Xvfb or openbox did not start";
        x.writeOrvixConfig("[General]\nCheckForUpdates=false\n");
        QProcess* orvix = x.start(QStringLiteral("/usr/bin/orvix"));
        ASSERT_TRUE(orvix->waitForStarted(10000));
        const QString panel = x.waitForWindowOfPid(orvix->processId(), 60000);
        EXPECT_FALSE(panel.isEmpty())
            << "the installed orvix shows no panel; "
            << (orvix->state() == QProcess::Running
                    ? std::string("it runs")
                    : "it ended with status " + std::to_string(orvix->exitCode()))
            << ", saying: " << orvix->readAll().toStdString();
        orvix->terminate();
        EXPECT_TRUE(orvix->waitForFinished(20000));
    }

    const ToolRun purged = sh(QStringLiteral("apt-get purge -y -qq %1").arg(kPackage));
    ASSERT_EQ(purged.exitCode, 0) << tail(purged.err);
    EXPECT_FALSE(isInstalled(kPackage));
    EXPECT_NE(sh(QStringLiteral("dpkg-query -W %1 2>/dev/null | grep -q .").arg(kPackage)).exitCode,
              0)
        << "dpkg still knows the package after the purge";
    for (const QString& file : files)
        EXPECT_FALSE(QFileInfo(file).exists() || QFileInfo(file).isSymLink())
            << "left: " << file.toStdString();
    // Folders of Orvix's own (not shared ones like /usr/bin) are gone too.
    for (const QString& dir : dirs)
        EXPECT_FALSE(dir.contains(QStringLiteral("orvix")) && QFileInfo::exists(dir))
            << "left: " << dir.toStdString();
}

} // namespace
