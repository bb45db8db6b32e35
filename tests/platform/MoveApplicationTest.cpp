#include "platform/MoveApplication.h"

#include "LogCapture.h"
#include "MemorySettings.h"
#include "TempHome.h"
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
    QList<Command> privileged;
    int pkexecStatus = 0;
    QList<Command> detached;
    QList<int> exits;

    explicit MoveRig(const QString& homeName = "home") {
        homePath = home.file(homeName);
        QDir().mkpath(homePath + "/Applications");
        machineFolder = home.file("machine/opt");
        QDir().mkpath(machineFolder);
        bundlePath = homePath + "/Downloads/Orvix.AppImage";
        makeExecutable(bundlePath, "#!/bin/sh\nexit 0\n");
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
        env.run = [this](const QString& program, const QStringList& args) {
            if (program == "pkexec") {
                privileged.append({program, args});
                return pkexecStatus;
            }
            return runForReal(program, args);
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

TEST(MoveApplicationTest, AuthorizedCopyThroughPkexec) {
    MoveRig rig;
    QDir(rig.homePath + "/Applications").removeRecursively();
    rig.notWritable << rig.machineFolder;
    const QString destination = rig.machineFolder + "/Orvix.AppImage";
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    ASSERT_EQ(rig.privileged.size(), 2);
    EXPECT_EQ(rig.privileged[0].arguments, (QStringList{"/bin/rm", "-rf", "--", destination}));
    EXPECT_EQ(rig.privileged[1].arguments,
              (QStringList{"/bin/cp", "-pR", "--", rig.bundlePath, destination}));
    EXPECT_EQ(rig.exits, QList<int>{0});
    EXPECT_EQ(rig.alertTexts.size(), 1); // the offer only
}

TEST(MoveApplicationTest, AuthorizationCancelledOrFailed) {
    MoveRig rig;
    QDir(rig.homePath + "/Applications").removeRecursively();
    rig.notWritable << rig.machineFolder;
    rig.pkexecStatus = 126;
    test::LogCapture cap;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(cap.contains("INFO -- Not moving because user canceled authorization"));
    EXPECT_EQ(rig.alertTexts.size(), 1); // no failure alert
    EXPECT_TRUE(rig.exits.isEmpty());
    EXPECT_TRUE(QFile::exists(rig.bundlePath));

    rig.pkexecStatus = 1; // the copy fails
    rig.privileged.clear();
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_EQ(rig.privileged.size(), 2);
    EXPECT_TRUE(cap.contains("ERROR -- Could not copy myself to /Applications with authorization"));
    EXPECT_TRUE(rig.alertTexts.last().startsWith("Could not move to Applications folder"));
    EXPECT_TRUE(rig.exits.isEmpty());
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

TEST(MoveApplicationTest, QuotedPathsWithQuoteAndBlankReachTheShellWhole) {
    const QString path = "/home/o'brien/My Apps/Orvix.AppImage";
    const QString line = MoveApplication::relaunchLine(1, path);
    EXPECT_NE(line.indexOf("exec '/home/o'\\''brien/My Apps/Orvix.AppImage'"), -1);
    EXPECT_EQ(shellEcho(shellQuote(path)), path.toUtf8());
    EXPECT_NE(MoveApplication::runningCheckLine(path).indexOf(shellQuote(path)), -1);
    EXPECT_EQ(MoveApplication::unmountLine("/media/o'b c").count(shellQuote("/media/o'b c")), 3);
}

TEST(MoveApplicationTest, TrashFailureIsLogged) {
    test::TempHome home;
    test::LogCapture cap;
    EXPECT_FALSE(MoveApplication::trashItemAtPath(home.file("no such file")));
    EXPECT_TRUE(cap.contains("ERROR -- Could not trash '"));
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

TEST(MoveApplicationTest, AuthorizedCopyRunsThePrivilegedCommandsForReal) {
    MoveRig rig("it's a home");
    QDir(rig.homePath + "/Applications").removeRecursively();
    rig.notWritable << rig.machineFolder;
    const QString destination = rig.machineFolder + "/Orvix.AppImage";
    makeExecutable(destination, "#!/bin/sh\n# stale copy\n");
    // Stands in for pkexec once the user has authenticated: runs the command.
    const QString helper = rig.home.file("grant helper's/pkexec");
    const QString log = rig.home.file("privileged.log");
    makeExecutable(helper, ("#!/bin/sh\nprintf '%s|' \"$@\" >> " + shellQuote(log) + "\necho >> " +
                            shellQuote(log) + "\nexec \"$@\"\n")
                               .toUtf8());
    MoveApplication move = rig.make();
    move.environment().pkexec = helper;
    move.environment().run = {}; // the real runner
    EXPECT_TRUE(MoveApplication(move.environment()).offerMoveToApplicationsFolder());
    QFile copied(destination);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), "#!/bin/sh\nexit 0\n");
    QFile record(log);
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(record.readAll()), "/bin/rm|-rf|--|" + destination +
                                                       "|\n/bin/cp|-pR|--|" + rig.bundlePath + "|" +
                                                       destination + "|\n");
    EXPECT_EQ(rig.exits, QList<int>{0});

    // The authentication dialog dismissed.
    makeExecutable(helper, "#!/bin/sh\nexit 126\n");
    makeExecutable(rig.bundlePath, "#!/bin/sh\n");
    rig.exits.clear();
    test::LogCapture cap;
    EXPECT_TRUE(MoveApplication(move.environment()).offerMoveToApplicationsFolder());
    EXPECT_TRUE(cap.contains("INFO -- Not moving because user canceled authorization"));
    EXPECT_TRUE(rig.exits.isEmpty());
}
