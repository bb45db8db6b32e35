#include "platform/MoveApplication.h"

#include "LogCapture.h"
#include "MemorySettings.h"
#include "OrvixRun.h"
#include "TempHome.h"
#include "os/Bundle.h"
#include "platform/SymlinksAndAliases.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace orvix;

namespace {

struct Command {
    QString program;
    QStringList arguments;
};

int runForReal(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted(5000))
        return -1;
    p.waitForFinished(30000);
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

void makeExecutable(const QString& path, const QByteArray& script) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(script);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// A temporary home with a fake AppImage, and a record of everything the move
// flow asks of the system. The process runs as any user, so write access is a
// stated fact of each test rather than a file mode.
struct MoveRig {
    test::TempHome home;
    test::MemorySettings settings;
    QString homePath;
    QString machineFolder;
    QString bundlePath;
    QStringList notWritable;
    QList<QMessageBox*> alertsSeen;
    QStringList alertTexts;
    AlertResult answer{AlertAnswer::First, false};
    QString pkexecLog;
    QList<Command> detached;
    QList<int> exits;

    explicit MoveRig(const QString& homeName = "home") {
        homePath = home.file(homeName);
        QDir().mkpath(homePath + "/Applications");
        machineFolder = home.file("machine/opt");
        QDir().mkpath(machineFolder);
        bundlePath = homePath + "/Downloads/Orvix.AppImage";
        makeExecutable(bundlePath, "#!/bin/sh\nexit 0\n");
        // pkexec as a user who has just authenticated: runs the command as it
        // is, after noting it; "deny" in the home stands for a dismissed dialog.
        pkexecLog = home.file("pkexec.log");
        test::writeScript(home.file("fake bin/pkexec"),
                          ("printf '%s\\n' \"$1\" >> " + shellQuote(pkexecLog) + "\n[ -e " +
                           shellQuote(home.file("deny")) + " ] && exit 126\nexec \"$@\"\n")
                              .toUtf8());
        savedPath = qgetenv("PATH");
        qputenv("PATH", (home.file("fake bin") + ":").toLocal8Bit() + savedPath);
    }
    ~MoveRig() { qputenv("PATH", savedPath); }
    QByteArray savedPath;

    QStringList pkexecCalls() const {
        QFile file(pkexecLog);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    MoveApplication make() {
        MoveApplication::Environment env;
        env.settings = &settings;
        env.bundlePath = bundlePath;
        env.homePath = homePath;
        env.localApplicationsFolders = {machineFolder};
        env.systemApplicationsFolders = {home.file("machine/usr/bin")};
        env.downloadsFolders = {homePath + "/Downloads"};
        env.readOnlyMediaRoots = {home.file("media") + "/"};
        env.isWritable = [this](const QString& p) {
            return !notWritable.contains(p) && ::access(QFile::encodeName(p), W_OK) == 0;
        };
        env.runAlert = [this](QMessageBox& box) {
            alertTexts << box.text() + " | " + box.informativeText();
            return box.text().startsWith("Could not") ? AlertResult{AlertAnswer::First, false}
                                                      : answer;
        };
        env.startDetached = [this](const QString& program, const QStringList& args) {
            detached.append({program, args});
            return true;
        };
        env.exit = [this](int status) {
            exits << status;
        };
        env.pid = 4242;
        return MoveApplication(env);
    }

    QString trashed(const QString& name) const {
        return home.file(".local/share/Trash/files/") + name;
    }
};

QByteArray shellEcho(const QString& quoted) {
    QProcess sh;
    sh.start("/bin/sh", {"-c", "printf %s " + quoted});
    sh.waitForFinished(5000);
    return sh.readAllStandardOutput();
}

} // namespace

TEST(ShellQuoteTest, ShellSeesEveryPathWhole) {
    const QString nasty[] = {"plain", "it's",   "a b",      "''", "$HOME `id` \"x\" \\ ; & | *",
                             "end'",  "'start", "new\nline"};
    for (const QString& s : nasty)
        EXPECT_EQ(shellEcho(shellQuote(s)), s.toUtf8()) << s.toStdString();
    // Every shell line the move writes quotes its paths.
    const QString path = "/home/o'brien/My Apps/Orvix.AppImage";
    EXPECT_NE(MoveApplication::relaunchLine(1, path).indexOf("exec " + shellQuote(path)), -1);
    EXPECT_NE(MoveApplication::runningCheckLine(path).indexOf(shellQuote(path)), -1);
    EXPECT_EQ(MoveApplication::unmountLine("/media/o'b c").count(shellQuote("/media/o'b c")), 3);
}

TEST(SymlinksTest, ResolvesComponentsChainsAndRelativeLinks) {
    test::TempHome home;
    const QString base = QFileInfo(home.path()).canonicalFilePath();
    QDir().mkpath(base + "/real/dir");
    QFile(base + "/real/dir/file").open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link("real/dir", base + "/rel"));            // relative
    ASSERT_TRUE(QFile::link(base + "/rel", base + "/chain"));       // link to link
    ASSERT_TRUE(QFile::link("../dir/file", base + "/real/dir/up")); // ".." inside
    EXPECT_EQ(stringByResolvingSymlinksAndAliases(base + "/chain/file"), base + "/real/dir/file");
    EXPECT_EQ(stringByResolvingSymlinksAndAliases(base + "/real/dir/up"), base + "/real/dir/file");
    EXPECT_EQ(stringByResolvingSymlinksAndAliases(base + "//real/./dir/"), base + "/real/dir");
    EXPECT_EQ(stringByResolvingSymlinksAndAliases("/"), "/");
    EXPECT_EQ(stringByResolvingSymlinksAndAliases("relative/path"), std::nullopt);
    EXPECT_EQ(stringByResolvingSymlinksAndAliases(base + "/missing/file"), std::nullopt);
    EXPECT_EQ(stringByResolvingSymlinksAndAliases("~/real"), base + "/real");
    EXPECT_EQ(stringByResolvingSymlink(base + "/real"), base + "/real");
    EXPECT_EQ(stringByConditionallyResolvingSymlink(base + "/real"), std::nullopt);
    EXPECT_EQ(stringByConditionallyResolvingSymlink(base + "/rel"), base + "/real/dir");
}

TEST(SymlinksTest, CyclesEndWithNothing) {
    test::TempHome home;
    const QString base = home.path();
    ASSERT_TRUE(QFile::link(base + "/b", base + "/a"));
    ASSERT_TRUE(QFile::link(base + "/a", base + "/b"));
    ASSERT_TRUE(QFile::link(base + "/self", base + "/self"));
    EXPECT_EQ(stringByIterativelyResolvingSymlinkOrAlias(base + "/a"), std::nullopt);
    EXPECT_EQ(stringByResolvingSymlinksAndAliases(base + "/self/x"), std::nullopt);
    // A long but finite chain within the bound still resolves.
    QFile(base + "/target").open(QIODevice::WriteOnly);
    QString previous = base + "/target";
    for (int i = 0; i < kMaxLinkSteps - 1; ++i) {
        const QString link = base + QStringLiteral("/l%1").arg(i);
        ASSERT_TRUE(QFile::link(previous, link));
        previous = link;
    }
    EXPECT_EQ(stringByIterativelyResolvingSymlinkOrAlias(previous), base + "/target");
}

TEST(MoveApplicationTest, NothingToOfferInPlaceOrWithoutAnAppImage) {
    MoveRig rig;
    auto offerFor = [&rig](const QString& path) {
        rig.bundlePath = path;
        return rig.make().offerMoveToApplicationsFolder();
    };
    EXPECT_FALSE(offerFor(""));
    EXPECT_FALSE(offerFor(rig.homePath + "/Applications/Orvix.AppImage"));
    EXPECT_FALSE(offerFor(rig.machineFolder + "/Orvix.AppImage"));
    EXPECT_FALSE(offerFor(rig.home.file("machine/usr/bin/Orvix.AppImage")));
    EXPECT_FALSE(offerFor(rig.homePath + "/stuff/Applications/x/Orvix.AppImage"));
    EXPECT_TRUE(rig.alertTexts.isEmpty());
    rig.answer = {AlertAnswer::Second, false};
    // "/machine/opt" does not hold "/machine/optional".
    makeExecutable(rig.home.file("machine/optional/Orvix.AppImage"), "#!/bin/sh\n");
    EXPECT_TRUE(offerFor(rig.home.file("machine/optional/Orvix.AppImage")));
}

TEST(MoveApplicationTest, NoRightToRemoveTheSource) {
    MoveRig rig;
    rig.notWritable << rig.homePath + "/Downloads";
    test::LogCapture cap;
    EXPECT_FALSE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(cap.contains("INFO -- No access to delete the app. Not offering to move it."));
    EXPECT_TRUE(rig.alertTexts.isEmpty());
}

TEST(MoveApplicationTest, OfferTexts) {
    MoveRig rig;
    rig.answer = {AlertAnswer::Second, false};
    const QString intro = "Orvix can move itself to the Applications folder if you'd like.";
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_EQ(rig.alertTexts.last(), "Move to Applications folder in your Home folder? | " + intro +
                                         " This will keep your Downloads folder uncluttered.");

    QDir(rig.homePath + "/Applications").removeRecursively();
    rig.notWritable << rig.machineFolder;
    rig.make().offerMoveToApplicationsFolder();
    EXPECT_EQ(rig.alertTexts.last(), "Move to Applications folder? | " + intro +
                                         " Note that this will require an administrator password.");

    rig.notWritable.clear();
    rig.bundlePath = rig.homePath + "/Desktop/Orvix.AppImage";
    makeExecutable(rig.bundlePath, "#!/bin/sh\n");
    rig.make().offerMoveToApplicationsFolder();
    EXPECT_EQ(rig.alertTexts.last(), "Move to Applications folder? | " + intro);

    auto plan = rig.make().plan();
    ASSERT_TRUE(plan.has_value());
    auto box = rig.make().buildOfferAlert(*plan);
    EXPECT_EQ(alertButton(*box, AlertAnswer::First)->text(), "Move to Applications Folder");
    EXPECT_EQ(alertButton(*box, AlertAnswer::Second)->text(), "Do Not Move");
    EXPECT_EQ(box->escapeButton(), alertButton(*box, AlertAnswer::Second));
    ASSERT_NE(box->checkBox(), nullptr);
    EXPECT_EQ(MoveApplication::buildFailureAlert()->text(),
              "Could not move to Applications folder");
}

TEST(MoveApplicationTest, DoNotMoveWithAndWithoutTheBox) {
    MoveRig rig;
    rig.answer = {AlertAnswer::Second, false};
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_FALSE(rig.settings.boolForKey("moveToApplicationsFolderAlertSuppress"));
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder()); // offered again
    rig.answer = {AlertAnswer::Second, true};
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(rig.settings.boolForKey("moveToApplicationsFolderAlertSuppress"));
    EXPECT_FALSE(rig.make().offerMoveToApplicationsFolder()); // never again
    EXPECT_EQ(rig.alertTexts.size(), 3);
    EXPECT_TRUE(QFile::exists(rig.bundlePath));
    EXPECT_TRUE(rig.exits.isEmpty());
}

TEST(MoveApplicationTest, MoveCopiesTrashesRelaunchesAndExits) {
    MoveRig rig("it's a home");
    test::LogCapture cap;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    const QString destination = rig.homePath + "/Applications/Orvix.AppImage";
    EXPECT_TRUE(cap.contains("INFO -- Moving myself to the Applications folder"));
    ASSERT_TRUE(QFile::exists(destination));
    EXPECT_TRUE(QFileInfo(destination).isExecutable());
    EXPECT_FALSE(QFile::exists(rig.bundlePath));
    EXPECT_TRUE(QFile::exists(rig.trashed("Orvix.AppImage")));
    ASSERT_EQ(rig.detached.size(), 1);
    EXPECT_EQ(rig.detached[0].program, "/bin/sh");
    EXPECT_EQ(rig.detached[0].arguments,
              (QStringList{"-c", MoveApplication::relaunchLine(4242, destination)}));
    EXPECT_EQ(rig.exits, QList<int>{0});
}

TEST(MoveApplicationTest, ExistingDestinationGoesToTheTrashFirst) {
    MoveRig rig;
    const QString destination = rig.homePath + "/Applications/Orvix.AppImage";
    makeExecutable(destination, "#!/bin/sh\n# old version\n");
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    QFile copied(destination);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), "#!/bin/sh\nexit 0\n");
    QFile old(rig.trashed("Orvix.AppImage"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly)); // the old copy is in the trash
    EXPECT_EQ(old.readAll(), "#!/bin/sh\n# old version\n");
    EXPECT_EQ(rig.exits, QList<int>{0});
}

TEST(MoveApplicationTest, DestinationAlreadyRunningIsSwitchedTo) {
    MoveRig rig("it's a home");
    const QString destination = rig.homePath + "/Applications/Orvix.AppImage";
    makeExecutable(destination, "#!/bin/sh\nsleep 30\n");
    QProcess running;
    running.start(destination, {});
    ASSERT_TRUE(running.waitForStarted());
    QThread::msleep(100);
    EXPECT_EQ(runForReal("/bin/sh", {"-c", MoveApplication::runningCheckLine(destination)}), 0);

    test::LogCapture cap;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(cap.contains("INFO -- Switching to an already running version"));
    ASSERT_EQ(rig.detached.size(), 1);
    EXPECT_EQ(rig.detached[0].program, destination);
    EXPECT_EQ(rig.exits, QList<int>{0});
    EXPECT_TRUE(QFile::exists(rig.bundlePath)); // nothing copied or trashed
    running.kill();
    running.waitForFinished();
    EXPECT_EQ(runForReal("/bin/sh", {"-c", MoveApplication::runningCheckLine(destination)}), 1);
}

TEST(MoveApplicationTest, RelaunchLineRunsTheCopyOnceThisProcessIsGone) {
    MoveRig rig("it's a home");
    const QString marker = rig.home.file("relaunched");
    const QString destination = rig.homePath + "/Applications/Orvix.AppImage";
    makeExecutable(destination,
                   ("#!/bin/sh\necho started > " + shellQuote(marker) + "\n").toUtf8());
    QProcess waiter; // stands for the running program
    waiter.start("sleep", {"30"});
    ASSERT_TRUE(waiter.waitForStarted());
    QProcess sh;
    sh.start("/bin/sh", {"-c", MoveApplication::relaunchLine(waiter.processId(), destination)});
    sh.waitForFinished();
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(marker)); // still waiting for the process to go
    waiter.kill();
    waiter.waitForFinished();
    for (int i = 0; i < 50 && !QFile::exists(marker); ++i)
        QThread::msleep(100);
    EXPECT_TRUE(QFile::exists(marker));
}

TEST(MoveApplicationTest, CopyFailureIsReported) {
    MoveRig rig;
    QDir(rig.homePath + "/Applications").removeRecursively();
    QDir(rig.machineFolder).removeRecursively(); // writable, but no folder to copy into
    QFile(rig.machineFolder).open(QIODevice::WriteOnly);
    test::LogCapture cap;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(
        cap.contains("ERROR -- Could not copy '" + rig.bundlePath.toStdString() + "' to '"));
    EXPECT_TRUE(
        cap.contains("ERROR -- Could not copy myself to " + rig.machineFolder.toStdString()));
    EXPECT_TRUE(rig.alertTexts.last().startsWith("Could not move to Applications folder"));
    EXPECT_TRUE(rig.exits.isEmpty());
    EXPECT_TRUE(QFile::exists(rig.bundlePath));
}

TEST(MoveApplicationTest, ReadOnlyMediaIsNotTrashedAndUnmountedLater) {
    MoveRig rig;
    const QString mount = rig.home.file("media/user/ORVIX");
    rig.bundlePath = mount + "/Orvix.AppImage";
    makeExecutable(rig.bundlePath, "#!/bin/sh\n");
    rig.notWritable << rig.bundlePath << mount;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(QFile::exists(rig.bundlePath));
    EXPECT_TRUE(QFile::exists(rig.homePath + "/Applications/Orvix.AppImage"));
    ASSERT_EQ(rig.detached.size(), 2);
    EXPECT_EQ(rig.detached[1].arguments, (QStringList{"-c", MoveApplication::unmountLine(mount)}));
    EXPECT_TRUE(MoveApplication::unmountLine(mount).startsWith("(sleep 5 && "));
    EXPECT_EQ(rig.exits, QList<int>{0});
}

TEST(MoveApplicationTest, WritableMediaIsTreatedLikeAnyFolder) {
    MoveRig rig;
    rig.bundlePath = rig.home.file("media/user/STICK/Orvix.AppImage");
    makeExecutable(rig.bundlePath, "#!/bin/sh\n");
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_FALSE(QFile::exists(rig.bundlePath)); // trashed
    EXPECT_EQ(rig.detached.size(), 1);           // no unmount
}

TEST(MoveApplicationTest, TrashGoesToTheHomeTrashEvenWithoutADataFolder) {
    test::TempHome home;
    QDir().mkpath(home.file("work"));
    const QString saved = QDir::currentPath();
    QDir::setCurrent(home.file("work"));
    const QString file = home.file("Downloads/Orvix.AppImage");
    makeExecutable(file, "#!/bin/sh\n");
    EXPECT_TRUE(MoveApplication::trashItemAtPath(file));
    EXPECT_TRUE(QFile::exists(home.file(".local/share/Trash/files/Orvix.AppImage")));
    EXPECT_TRUE(QDir(home.file("work")).isEmpty());

    // A data folder that cannot be made: the file stays where it was and no
    // trash appears in the working directory.
    QDir(home.file(".local")).removeRecursively();
    QFile(home.file(".local")).open(QIODevice::WriteOnly);
    makeExecutable(file, "#!/bin/sh\n");
    test::LogCapture cap;
    EXPECT_FALSE(MoveApplication::trashItemAtPath(file));
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_TRUE(QDir(home.file("work")).isEmpty());
    EXPECT_TRUE(cap.contains("ERROR -- Could not trash '"));
    QDir::setCurrent(saved);
}

TEST(MoveApplicationTest, PrivilegedReplacementRemovesOnlyAnEarlierAppImage) {
    const QByteArray appImage = QByteArray("\x7f"
                                           "ELF\x02\x01\x01\x00"
                                           "AI\x02",
                                           11) +
                                "rest";
    struct Row {
        const char* what;
        std::function<void(const QString& destination, const QString& aside)> make;
        bool replaced;
    };
    auto file = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const Row rows[] = {
        {"nothing there", [](const QString&, const QString&) {}, true},
        {"earlier AppImage", [&](const QString& d, const QString&) { file(d, appImage); }, true},
        {"type 1 AppImage",
         [&](const QString& d, const QString&) {
             QByteArray one = appImage;
             one[10] = 1;
             file(d, one);
         },
         true},
        {"folder", [&](const QString& d, const QString&) { file(d + "/keep", appImage); }, false},
        {"link to an AppImage",
         [&](const QString& d, const QString& aside) {
             file(aside, appImage);
             ASSERT_TRUE(QFile::link(aside, d));
         },
         false},
        {"other file", [&](const QString& d, const QString&) { file(d, "#!/bin/sh\n"); }, false},
        {"ELF that is no AppImage",
         [&](const QString& d, const QString&) { file(d, appImage.left(8) + "xyz"); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MoveRig rig("it's a home");
        QDir(rig.homePath + "/Applications").removeRecursively();
        rig.notWritable << rig.machineFolder;
        const QString destination = rig.machineFolder + "/Orvix.AppImage";
        const QString aside = rig.home.file("aside/Orvix.AppImage");
        row.make(destination, aside);
        const auto snapshot = [&] {
            QStringList state;
            for (const QString& p : {destination, destination + "/keep", aside}) {
                QFile f(p);
                state << (f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().toHex())
                                                      : QString("-"));
            }
            return state + QStringList{QFileInfo(destination).isSymLink() ? "link" : ""};
        };
        const QStringList before = snapshot();
        test::LogCapture cap;
        EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
        // One authorization for the removal and the copy together.
        EXPECT_EQ(rig.pkexecCalls(), QStringList{"/bin/sh"});
        if (row.replaced) {
            QFile copied(destination);
            ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
            EXPECT_EQ(copied.readAll(), "#!/bin/sh\nexit 0\n");
            EXPECT_EQ(rig.exits, QList<int>{0});
        } else {
            EXPECT_EQ(snapshot(), before); // untouched, links not followed
            EXPECT_TRUE(cap.contains("ERROR -- Will not replace '" + destination.toStdString()));
            EXPECT_TRUE(
                cap.contains("ERROR -- Could not copy myself to /Applications with authorization"));
            EXPECT_TRUE(rig.alertTexts.last().startsWith("Could not move to Applications folder"));
            EXPECT_TRUE(rig.exits.isEmpty());
        }
    }
}

TEST(MoveApplicationTest, AuthorizationDismissed) {
    MoveRig rig;
    QDir(rig.homePath + "/Applications").removeRecursively();
    rig.notWritable << rig.machineFolder;
    QFile(rig.home.file("deny")).open(QIODevice::WriteOnly);
    test::LogCapture cap;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(cap.contains("INFO -- Not moving because user canceled authorization"));
    EXPECT_EQ(rig.pkexecCalls().size(), 1);
    EXPECT_EQ(rig.alertTexts.size(), 1); // no failure alert
    EXPECT_TRUE(rig.exits.isEmpty());
    EXPECT_TRUE(QFile::exists(rig.bundlePath));
    EXPECT_FALSE(QFile::exists(rig.machineFolder + "/Orvix.AppImage"));
}

TEST(MoveApplicationTest, AppImageIsTrustedOnlyWhenItsFolderHoldsThisProgram) {
    test::TempHome home;
    const QString image = home.file("Downloads/Orvix.AppImage");
    makeExecutable(image, "#!/bin/sh\n");
    const QString mount = home.file("mnt/.mount_Orvix");
    makeExecutable(mount + "/usr/bin/orvix", "#!/bin/sh\n");
    makeExecutable(home.file("mnt/.mount_Orvix-other/usr/bin/orvix"), "#!/bin/sh\n");
    QDir().mkpath(home.file("usr/bin"));
    ASSERT_TRUE(QFile::link(mount, home.file("mount-link")));
    struct Row {
        QString appImage, appDir, executable;
        bool trusted;
    };
    const Row rows[] = {
        {image, mount, mount + "/usr/bin/orvix", true},
        {image, home.file("mount-link"), mount + "/usr/bin/orvix", true},
        // A terminal run from another AppImage passes its own variables on.
        {image, home.file("mnt/.mount_Orvix-other"), mount + "/usr/bin/orvix", false},
        {image, mount, home.file("mnt/.mount_Orvix-other/usr/bin/orvix"), false},
        {image, "", mount + "/usr/bin/orvix", false},
        {image, "/", mount + "/usr/bin/orvix", false},
        {image, home.file("mnt/nowhere"), mount + "/usr/bin/orvix", false},
        {home.file("Downloads/missing.AppImage"), mount, mount + "/usr/bin/orvix", false},
        {home.file("Downloads"), mount, mount + "/usr/bin/orvix", false},
        {"Downloads/Orvix.AppImage", mount, mount + "/usr/bin/orvix", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Bundle::trustedAppImage(r.appImage, r.appDir, r.executable),
                  r.trusted ? r.appImage : QString())
            << r.appImage.toStdString() << " " << r.appDir.toStdString() << " "
            << r.executable.toStdString();
}

TEST(MoveApplicationTest, ProgramStartedFromAnotherAppImageOffersNoMove) {
    test::XSession x(test::XSession::Options{.windowManager = false});
    ASSERT_TRUE(x.isRunning());
    const QString other = x.home() + "/Downloads/Terminal.AppImage";
    makeExecutable(other, "#!/bin/sh\n");
    QDir().mkpath(x.home() + "/.mount_Terminal/usr/bin");
    x.setEnv("APPIMAGE", other);
    x.setEnv("APPDIR", x.home() + "/.mount_Terminal");
    test::OrvixRun run(x);
    EXPECT_TRUE(
        run.waitForOutput("Ignoring $APPIMAGE: this program does not run from that AppImage"));
    // The offer would have come up, modal, before the panel.
    EXPECT_FALSE(run.panel().isEmpty());
    EXPECT_FALSE(run.output().contains("Moving myself"));
}
