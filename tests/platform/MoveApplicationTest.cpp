#include "platform/MoveApplication.h"

#include "LogCapture.h"
#include "MemorySettings.h"
#include "OrvixRun.h"
#include "TempHome.h"
#include "ToolRun.h"
#include "os/Bundle.h"
#include "platform/SymlinksAndAliases.h"

#include <QAbstractButton>
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

using test::readFile;
using test::writeScript;

struct Command {
    QString program;
    QStringList arguments;
};

// The exit status of a shell line, run for real.
int sh(const QString& line) {
    return test::runTool("/bin/sh", {"-c", line}, QProcessEnvironment::systemEnvironment(), 30000)
        .exitCode;
}

// A temporary home with a fake AppImage, recording all the move asks of the system.
// Write access is stated per test, not a file mode: tests may run as root.
struct MoveRig {
    test::TempHome home;
    test::MemorySettings settings;
    QString homePath, machineFolder, bundlePath, pkexecLog;
    QStringList notWritable, alertTexts;
    AlertResult answer{AlertAnswer::First, false};
    QList<Command> detached;
    QList<int> exits;
    QByteArray savedPath = qgetenv("PATH");

    explicit MoveRig(const QString& homeName = "home") {
        homePath = home.file(homeName);
        QDir().mkpath(homePath + "/Applications");
        machineFolder = home.file("machine/opt");
        QDir().mkpath(machineFolder);
        bundlePath = homePath + "/Downloads/Orvix.AppImage";
        writeScript(bundlePath, "exit 0\n");
        // pkexec as a user who has just authenticated: runs the command as it
        // is, after noting it; "deny" in the home stands for a dismissed dialog.
        pkexecLog = home.file("pkexec.log");
        test::writeScript(home.file("fake bin/pkexec"),
                          ("printf '%s\\n' \"$1\" >> " + shellQuote(pkexecLog) + "\n[ -e " +
                           shellQuote(home.file("deny")) + " ] && exit 126\nexec \"$@\"\n")
                              .toUtf8());
        qputenv("PATH", (home.file("fake bin") + ":").toLocal8Bit() + savedPath);
    }
    ~MoveRig() { qputenv("PATH", savedPath); }

    QStringList pkexecCalls() const {
        return QString::fromUtf8(readFile(pkexecLog)).split('\n', Qt::SkipEmptyParts);
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

    QString homeCopy() const { return homePath + "/Applications/Orvix.AppImage"; }
    // Only the machine-wide folder is left, and it needs an administrator.
    void needAuthorization() {
        QDir(homePath + "/Applications").removeRecursively();
        notWritable << machineFolder;
    }
    QString trashed(const QString& name) const {
        return home.file(".local/share/Trash/files/") + name;
    }
};

} // namespace

TEST(ShellQuoteTest, ShellSeesEveryPathWhole) {
    const QString nasty[] = {"plain", "it's",   "a b",      "''", "$HOME `id` \"x\" \\ ; & | *",
                             "end'",  "'start", "new\nline"};
    for (const QString& s : nasty)
        EXPECT_EQ(test::runTool("/bin/sh", {"-c", "printf %s " + shellQuote(s)}).out, s)
            << s.toStdString();
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

TEST(MoveApplicationTest, NothingToOfferInPlaceWithoutAnAppImageOrWithoutRights) {
    MoveRig rig;
    auto offerFor = [&rig](const QString& path) {
        rig.bundlePath = path;
        return rig.make().offerMoveToApplicationsFolder();
    };
    EXPECT_FALSE(offerFor(""));
    EXPECT_FALSE(offerFor(rig.homeCopy()));
    EXPECT_FALSE(offerFor(rig.machineFolder + "/Orvix.AppImage"));
    EXPECT_FALSE(offerFor(rig.home.file("machine/usr/bin/Orvix.AppImage")));
    EXPECT_FALSE(offerFor(rig.homePath + "/stuff/Applications/x/Orvix.AppImage"));
    EXPECT_TRUE(rig.alertTexts.isEmpty());
    rig.answer = {AlertAnswer::Second, false};
    // "/machine/opt" does not hold "/machine/optional".
    writeScript(rig.home.file("machine/optional/Orvix.AppImage"), "");
    EXPECT_TRUE(offerFor(rig.home.file("machine/optional/Orvix.AppImage")));

    rig.notWritable << rig.home.file("machine/optional");
    test::LogCapture cap;
    EXPECT_FALSE(offerFor(rig.home.file("machine/optional/Orvix.AppImage")));
    EXPECT_TRUE(cap.contains("INFO -- No access to delete the app. Not offering to move it."));
    EXPECT_EQ(rig.alertTexts.size(), 1);
}

TEST(MoveApplicationTest, OfferTexts) {
    MoveRig rig;
    rig.answer = {AlertAnswer::Second, false};
    const QString intro = "Orvix can move itself to the Applications folder if you'd like.";
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_EQ(rig.alertTexts.last(), "Move to Applications folder in your Home folder? | " + intro +
                                         " This will keep your Downloads folder uncluttered.");

    rig.needAuthorization();
    rig.make().offerMoveToApplicationsFolder();
    EXPECT_EQ(rig.alertTexts.last(), "Move to Applications folder? | " + intro +
                                         " Note that this will require an administrator password.");

    rig.notWritable.clear();
    rig.bundlePath = rig.homePath + "/Desktop/Orvix.AppImage";
    writeScript(rig.bundlePath, "");
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

// An earlier copy at the destination goes to the trash first.
TEST(MoveApplicationTest, MoveCopiesTrashesRelaunchesAndExits) {
    for (bool earlier : {false, true}) {
        MoveRig rig("it's a home");
        const QString destination = rig.homeCopy();
        if (earlier)
            writeScript(destination, "# old version\n");
        test::LogCapture cap;
        EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
        EXPECT_TRUE(cap.contains("INFO -- Moving myself to the Applications folder"));
        EXPECT_EQ(readFile(destination), "#!/bin/sh\nexit 0\n");
        EXPECT_TRUE(QFileInfo(destination).isExecutable());
        EXPECT_FALSE(QFile::exists(rig.bundlePath));
        EXPECT_EQ(readFile(rig.trashed("Orvix.AppImage")),
                  earlier ? "#!/bin/sh\n# old version\n" : "#!/bin/sh\nexit 0\n");
        ASSERT_EQ(rig.detached.size(), 1);
        EXPECT_EQ(rig.detached[0].program, "/bin/sh");
        EXPECT_EQ(rig.detached[0].arguments,
                  (QStringList{"-c", MoveApplication::relaunchLine(4242, destination)}));
        EXPECT_EQ(rig.exits, QList<int>{0});
    }
}

TEST(MoveApplicationTest, DestinationAlreadyRunningIsSwitchedTo) {
    MoveRig rig("it's a home");
    const QString destination = rig.homeCopy();
    writeScript(destination, "sleep 30\n");
    QProcess running;
    running.start(destination, {});
    ASSERT_TRUE(running.waitForStarted());
    const QString check = MoveApplication::runningCheckLine(destination);
    ASSERT_TRUE(test::XSession::waitFor([&] { return sh(check) == 0; }));

    test::LogCapture cap;
    EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
    EXPECT_TRUE(cap.contains("INFO -- Switching to an already running version"));
    ASSERT_EQ(rig.detached.size(), 1);
    EXPECT_EQ(rig.detached[0].program, destination);
    EXPECT_EQ(rig.exits, QList<int>{0});
    EXPECT_TRUE(QFile::exists(rig.bundlePath)); // nothing copied or trashed
    running.kill();
    running.waitForFinished();
    EXPECT_EQ(sh(check), 1);
}

TEST(MoveApplicationTest, RelaunchLineRunsTheCopyOnceThisProcessIsGone) {
    MoveRig rig("it's a home");
    const QString marker = rig.home.file("relaunched");
    const QString destination = rig.homeCopy();
    writeScript(destination, ("echo started > " + shellQuote(marker) + "\n").toUtf8());
    QProcess waiter; // stands for the running program
    waiter.start("sleep", {"30"});
    ASSERT_TRUE(waiter.waitForStarted());
    sh(MoveApplication::relaunchLine(waiter.processId(), destination));
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(marker)); // still waiting for the process to go
    waiter.kill();
    waiter.waitForFinished();
    EXPECT_TRUE(test::XSession::waitFor([&] { return QFile::exists(marker); }, 10000));
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
    for (bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only" : "writable, treated like any folder");
        MoveRig rig;
        const QString mount = rig.home.file("media/user/ORVIX");
        rig.bundlePath = writeScript(mount + "/Orvix.AppImage", "");
        if (readOnly)
            rig.notWritable << rig.bundlePath << mount;
        EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
        EXPECT_EQ(QFile::exists(rig.bundlePath), readOnly); // trashed when it can be
        EXPECT_TRUE(QFile::exists(rig.homeCopy()));
        EXPECT_EQ(rig.exits, QList<int>{0});
        ASSERT_EQ(rig.detached.size(), readOnly ? 2 : 1);
        if (readOnly) {
            const QString unmount = MoveApplication::unmountLine(mount);
            EXPECT_EQ(rig.detached[1].arguments, (QStringList{"-c", unmount}));
            EXPECT_TRUE(unmount.startsWith("(sleep 5 && "));
        }
    }
}

TEST(MoveApplicationTest, TrashGoesToTheHomeTrashEvenWithoutADataFolder) {
    test::TempHome home;
    QDir().mkpath(home.file("work"));
    const QString saved = QDir::currentPath();
    QDir::setCurrent(home.file("work"));
    const QString file = home.file("Downloads/Orvix.AppImage");
    writeScript(file, "");
    EXPECT_TRUE(MoveApplication::trashItemAtPath(file));
    EXPECT_TRUE(QFile::exists(home.file(".local/share/Trash/files/Orvix.AppImage")));
    EXPECT_TRUE(QDir(home.file("work")).isEmpty());

    // A data folder that cannot be made: the file stays where it was and no
    // trash appears in the working directory.
    QDir(home.file(".local")).removeRecursively();
    QFile(home.file(".local")).open(QIODevice::WriteOnly);
    writeScript(file, "");
    test::LogCapture cap;
    EXPECT_FALSE(MoveApplication::trashItemAtPath(file));
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_TRUE(QDir(home.file("work")).isEmpty());
    EXPECT_TRUE(cap.contains("ERROR -- Could not trash '"));
    QDir::setCurrent(saved);
}

TEST(MoveApplicationTest, PrivilegedReplacementRemovesOnlyAnEarlierAppImage) {
    // ELF, 64-bit, then the AppImage magic "AI" and type 2.
    const QByteArray appImage = QByteArray::fromHex("7f454c4602010100414902") + "rest";
    QByteArray typeOne = appImage;
    typeOne[10] = 1;
    enum Kind { None, File, Folder, Link };
    struct Row {
        const char* what;
        Kind kind;
        QByteArray bytes;
        bool replaced;
    };
    const Row rows[] = {
        {"nothing there", None, {}, true},
        {"earlier AppImage", File, appImage, true},
        {"type 1 AppImage", File, typeOne, true},
        {"folder", Folder, appImage, false},
        {"link to an AppImage", Link, appImage, false},
        {"other file", File, "#!/bin/sh\n", false},
        {"ELF that is no AppImage", File, appImage.left(8) + "xyz", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MoveRig rig("it's a home");
        rig.needAuthorization();
        const QString destination = rig.machineFolder + "/Orvix.AppImage";
        const QString aside = rig.home.file("aside/Orvix.AppImage");
        const QString written = row.kind == File     ? destination
                                : row.kind == Folder ? destination + "/keep"
                                                     : aside;
        QDir().mkpath(QFileInfo(written).path());
        ASSERT_TRUE(row.kind == None || test::writeFile(written, row.bytes));
        ASSERT_TRUE(row.kind != Link || QFile::link(aside, destination));
        const auto snapshot = [&] {
            return QStringList{readFile(destination).toHex(), readFile(written).toHex(),
                               QFileInfo(destination).isSymLink() ? "link" : ""};
        };
        const QStringList before = snapshot();
        test::LogCapture cap;
        EXPECT_TRUE(rig.make().offerMoveToApplicationsFolder());
        // One authorization for the removal and the copy together.
        EXPECT_EQ(rig.pkexecCalls(), QStringList{"/bin/sh"});
        if (row.replaced) {
            EXPECT_EQ(readFile(destination), "#!/bin/sh\nexit 0\n");
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
    rig.needAuthorization();
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
    writeScript(image, "");
    const QString mount = home.file("mnt/.mount_Orvix");
    writeScript(mount + "/usr/bin/orvix", "");
    writeScript(home.file("mnt/.mount_Orvix-other/usr/bin/orvix"), "");
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
    writeScript(other, "");
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
