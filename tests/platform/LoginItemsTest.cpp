#include "platform/LoginItems.h"

#include "OrvixRun.h"
#include "TempHome.h"
#include "ToolRun.h"
#include "os/Bundle.h"
#include "platform/StartAtLogin.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

QString makeProgram(const QString& path) {
    return QFileInfo(test::writeScript(path, "")).canonicalFilePath();
}

void writeEntry(const QString& fileName, const QString& text) {
    QDir().mkpath(LoginItems::autostartFolder());
    ASSERT_TRUE(test::writeFile(LoginItems::autostartFolder() + "/" + fileName, text.toUtf8()));
}

QStringList programsInList() {
    QStringList out;
    for (const QString& file : LoginItems::entryFiles())
        out << LoginItems::resolvedProgramOfEntry(file).value_or("<unresolved>");
    return out;
}

} // namespace

TEST(LoginItemsTest, AutostartFolderFollowsXdgConfigHome) {
    test::TempHome home;
    EXPECT_EQ(LoginItems::autostartFolder(), home.path() + "/.config/autostart");
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(LoginItems::autostartFolder(), home.path() + "/.config/autostart");
}

TEST(LoginItemsTest, ExecQuotingRoundTripsAwkwardPaths) {
    const QString paths[] = {"/opt/plain/Orvix", "/home/a b/it's/Orvix.AppImage",
                             "/tmp/$HOME `x` \"q\" back\\slash 100% done/Orvix"};
    for (const QString& p : paths) {
        const QString exec = LoginItems::execValueForProgram(p);
        EXPECT_EQ(LoginItems::programOfExecValue(exec), p) << exec.toStdString();
    }
    EXPECT_EQ(LoginItems::programOfExecValue("/usr/bin/foo --bar %U"), "/usr/bin/foo");
    EXPECT_EQ(LoginItems::programOfExecValue("\"/a b/c"), std::nullopt); // unterminated
    EXPECT_EQ(LoginItems::programOfExecValue("   "), std::nullopt);
}

TEST(LoginItemsTest, OnTwiceLeavesOneEntryForAnyPathAndOffRemovesIt) {
    test::TempHome home;
    const QString program =
        makeProgram(home.file("Down loads/it's $100 `now`\\ 5%/Orvix.AppImage"));
    LoginItems::addBundle(program);
    LoginItems::addBundle(program);
    ASSERT_EQ(programsInList(), QStringList{program});
    EXPECT_TRUE(LoginItems::isLoginItem(program));
    // The entry is a well-formed desktop entry.
    EXPECT_TRUE(test::readFile(LoginItems::entryFiles().first())
                    .startsWith("[Desktop Entry]\nType=Application\n"));
    LoginItems::removeBundle(program);
    EXPECT_TRUE(LoginItems::entryFiles().isEmpty());
    EXPECT_FALSE(LoginItems::isLoginItem(program));
    LoginItems::removeBundle(program); // nothing there: nothing changes
    EXPECT_TRUE(LoginItems::entryFiles().isEmpty());
}

TEST(LoginItemsTest, TwoCopiesAtDifferentPathsAreDeduplicated) {
    test::TempHome home;
    const QString running = makeProgram(home.file("Applications/Orvix.AppImage"));
    const QString other = makeProgram(home.file("Downloads/Orvix.AppImage"));
    const QString unrelated = makeProgram(home.file("bin/editor"));
    writeEntry("a-old.desktop", "[Desktop Entry]\nType=Application\nExec=" +
                                    LoginItems::execValueForProgram(other) + " --flag\n");
    writeEntry("b-editor.desktop", "[Desktop Entry]\nExec=" + unrelated + "\n");
    EXPECT_TRUE(LoginItems::isLoginItem(running)); // the other copy counts too

    LoginItems::addBundle(running);
    QStringList programs = programsInList();
    EXPECT_EQ(programs.count(running), 1);
    EXPECT_EQ(programs.count(other), 0);
    EXPECT_EQ(programs.count(unrelated), 1);

    writeEntry("c-old.desktop", "[Desktop Entry]\nExec=" + other + "\n");
    LoginItems::removeBundle(running);
    EXPECT_EQ(programsInList(), QStringList{unrelated});
}

TEST(LoginItemsTest, SuffixRuleAndEntriesThatDoNotResolve) {
    test::TempHome home;
    const QString myKeys = makeProgram(home.file("bin/MyKeys.AppImage"));
    writeEntry("mykeys.desktop", "[Desktop Entry]\nExec=" + myKeys + "\n");
    // A plain suffix test: no separator needed in front of the name.
    EXPECT_TRUE(LoginItems::findAnyReferenceTo("Keys.AppImage"));
    EXPECT_FALSE(LoginItems::findAnyReferenceTo("Keys"));

    writeEntry("gone.desktop", "[Desktop Entry]\nExec=/nonexistent/Orvix\n");
    writeEntry("hidden.desktop", "[Desktop Entry]\nHidden=true\nExec=" + myKeys + "\n");
    writeEntry("broken.desktop", "[Desktop Entry]\nExec=\"" + myKeys + "\n");
    writeEntry("other-group.desktop", "[Desktop Action x]\nExec=" + myKeys + "\n");
    EXPECT_FALSE(LoginItems::findAnyReferenceTo("Orvix"));
    LoginItems::removeAllReferencesTo("Keys.AppImage");
    // Every match went, switched off or not; unresolvable entries are left alone.
    EXPECT_EQ(LoginItems::entryFiles().size(), 3);
    EXPECT_FALSE(QFile::exists(LoginItems::autostartFolder() + "/mykeys.desktop"));
    EXPECT_FALSE(QFile::exists(LoginItems::autostartFolder() + "/hidden.desktop"));
}

TEST(LoginItemsTest, EntriesSwitchedOffByTheDesktopReadAsOffAndAreReplaced) {
    const QString own = Bundle::identifier() + ".desktop";
    struct Case {
        QString file;
        QString switchOff;
        bool exec; // without Exec: a stub that hides a machine-wide entry
    };
    const Case cases[] = {
        {own, "Hidden=true", true},
        {own, "X-GNOME-Autostart-enabled=false", true},
        {"orvix-old.desktop", "X-GNOME-Autostart-enabled=false", true},
        {own, "Hidden=true", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.file + " " + c.switchOff).toStdString());
        test::TempHome home;
        const QString program = makeProgram(home.file("bin/Orvix"));
        writeEntry(c.file, "[Desktop Entry]\nType=Application\n" +
                               (c.exec ? "Exec=" + program + "\n" : QString()) + c.switchOff +
                               "\n");
        EXPECT_FALSE(LoginItems::isLoginItem(program));
        LoginItems::addBundle(program);
        EXPECT_EQ(programsInList(), QStringList{program}); // one entry, switched on
    }
}

TEST(LoginItemsTest, ProgramFoundThroughPathAndSymlinks) {
    test::TempHome home;
    const QString real = makeProgram(home.file("opt/orvix/Orvix"));
    QDir().mkpath(home.file("bin"));
    ASSERT_TRUE(QFile::link(real, home.file("bin/orvix-link")));
    writeEntry("link.desktop", "[Desktop Entry]\nExec=" + home.file("bin/orvix-link") + "\n");
    EXPECT_TRUE(LoginItems::findAnyReferenceTo("/Orvix")); // resolved through the link
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", home.file("opt/orvix").toLocal8Bit());
    writeEntry("bare.desktop", "[Desktop Entry]\nExec=Orvix --minimized\n");
    EXPECT_EQ(programsInList().count(real), 2);
    qputenv("PATH", savedPath);
}

TEST(StartAtLoginTest, PropertyAnnouncesAndMirrorsTheList) {
    test::TempHome home;
    const QString program = makeProgram(home.file("Applications/Orvix.AppImage"));
    StartAtLogin state(program);
    QStringList order;
    QObject::connect(&state, &StartAtLogin::startAtLoginWillChange, [&] { order << "will"; });
    QObject::connect(&state, &StartAtLogin::startAtLoginChanged,
                     [&](bool on) { order << (on ? "did:yes" : "did:no"); });
    state.readAtLaunch();
    EXPECT_FALSE(state.startAtLogin());
    state.setStartAtLogin(true);
    EXPECT_TRUE(LoginItems::isLoginItem(program));
    EXPECT_TRUE(state.property("startAtLogin").toBool());

    StartAtLogin nextLaunch(program);
    nextLaunch.readAtLaunch();
    EXPECT_TRUE(nextLaunch.startAtLogin());
    state.setStartAtLogin(false);
    EXPECT_FALSE(LoginItems::isLoginItem(program));
    EXPECT_EQ(order, (QStringList{"will", "did:no", "will", "did:yes", "will", "did:no"}));
}

TEST(StartAtLoginTest, FailedInsertionStillReportsYes) {
    test::TempHome home;
    const QString program = makeProgram(home.file("bin/Orvix"));
    // A file where the folder should be: the entry cannot be written.
    QDir().mkpath(home.file(".config"));
    QFile blocker(LoginItems::autostartFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    StartAtLogin state(program);
    state.setStartAtLogin(true);
    EXPECT_TRUE(state.startAtLogin());
    EXPECT_FALSE(LoginItems::isLoginItem(program));
}

TEST(StartAtLoginTest, TargetChoiceByDesktop) {
    const QString folder = "/home/u/.config/autostart";
    struct Row {
        const char* desktop;
        QStringList installed;
        QString program; // empty: fall back to the folder
        QStringList arguments;
    };
    const Row rows[] = {
        {"KDE", {"systemsettings"}, "systemsettings", {"kcm_autostart"}},
        {"ubuntu:GNOME", {"gnome-tweaks"}, "gnome-tweaks", {}},
        {"XFCE", {}, "", {}}, // not installed
        {"", {"systemsettings"}, "", {}},
        {"x-cinnamon", {"cinnamon-settings"}, "cinnamon-settings", {"startup"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.desktop);
        const auto t = StartAtLogin::loginItemsTarget(
            r.desktop, [&](const QString& p) { return r.installed.contains(p); }, folder);
        EXPECT_EQ(t.program, r.program);
        if (!r.program.isEmpty())
            EXPECT_EQ(t.arguments, r.arguments);
        else
            EXPECT_EQ(t.folder, folder);
    }
}

TEST(StartAtLoginTest, ShowLoginItemsIsDeferred) {
    test::TempHome home;
    qputenv("XDG_CURRENT_DESKTOP", "NoSuchDesktop");
    StartAtLogin state(home.file("Orvix"));
    QList<LoginItemsTarget> opened;
    state.openTarget = [&](const LoginItemsTarget& t) {
        opened << t;
        return true;
    };
    state.showLoginItems(nullptr);
    EXPECT_TRUE(opened.isEmpty());
    QCoreApplication::processEvents();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].folder, home.path() + "/.config/autostart");
    qunsetenv("XDG_CURRENT_DESKTOP");
}
