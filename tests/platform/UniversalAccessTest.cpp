#include "platform/UniversalAccess.h"

#include "TempHome.h"
#include "ToolRun.h"
#include "XSession.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace orvix;
using orvix::test::XSession;

namespace {

// Bare servers: the checks open their own connections.
XSession::Options bareServer(const QStringList& arguments = {}) {
    return {.windowManager = false, .serverArguments = arguments};
}

QString childPath() {
    return test::builtProgram("platform_access_child");
}

struct Recorder {
    QStringList events;
    AlertAnswer answer = AlertAnswer::Second;
    InputAccessLack lack = InputAccessLack::X11Xtest;

    UniversalAccess::Hooks hooks() {
        UniversalAccess::Hooks h;
        const auto note = [this](const char* event) {
            return [this, event] {
                events << event;
            };
        };
        h.probe = [this] {
            return lack;
        };
        h.hidePanel = note("hide");
        h.activate = note("activate");
        h.terminate = note("terminate");
        h.runAlert = [this](QMessageBox& box) {
            events << "alert:" + box.text();
            return AlertResult{answer, false};
        };
        h.openUrl = [this](const QUrl& url) {
            events << "open:" + url.toString();
            return true;
        };
        return h;
    }
};

} // namespace

TEST(UniversalAccessTest, AlertTextsAndButtonsForEachLack) {
    const InputAccessLack lacks[] = {
        InputAccessLack::X11Display,           InputAccessLack::X11Xtest,
        InputAccessLack::X11XInput2,           InputAccessLack::UinputNotWritable,
        InputAccessLack::KeyboardsNotReadable, InputAccessLack::WaylandVirtualKeyboard};
    Recorder rec;
    UniversalAccess access(rec.hooks());
    QSet<QString> pages;
    for (InputAccessLack lack : lacks) {
        auto box = access.buildAlert(lack);
        EXPECT_EQ(box->text(), "Accessibility Required");
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_TRUE(box->informativeText().startsWith("Orvix "));
        EXPECT_TRUE(box->informativeText().endsWith("Click the Help button for more information."));
        EXPECT_GE(box->informativeText().count("Orvix"), 2) << box->informativeText().toStdString();
        ASSERT_NE(alertButton(*box, AlertAnswer::First), nullptr);
        EXPECT_EQ(alertButton(*box, AlertAnswer::First)->text(), "Open Help and Quit");
        EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()),
                  alertButton(*box, AlertAnswer::First));
        EXPECT_EQ(alertButton(*box, AlertAnswer::Second)->text(), "Quit");
        EXPECT_EQ(box->escapeButton(), alertButton(*box, AlertAnswer::Second));
        EXPECT_NE(alertHelpButton(*box), nullptr);
        const QUrl page = UniversalAccess::helpPageUrl(UniversalAccess::helpPageForLack(lack));
        EXPECT_EQ(page.scheme(), "https");
        pages.insert(page.toString());
    }
    EXPECT_EQ(pages.size(), 6); // one page per situation
}

// A limitation is told, not refused: the program goes on; only "Open Help" opens the page.
TEST(UniversalAccessTest, LimitationIsAWarningThatLetsTheProgramGoOn) {
    for (InputLimitation limitation :
         {InputLimitation::WaylandWithoutWatching, InputLimitation::WaylandX11Only}) {
        for (AlertAnswer answer : {AlertAnswer::First, AlertAnswer::Second}) {
            Recorder rec;
            rec.answer = answer;
            UniversalAccess access(rec.hooks());
            auto box = access.buildLimitationAlert(limitation);
            EXPECT_EQ(box->text(), "Accessibility Limited");
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            EXPECT_EQ(alertButton(*box, AlertAnswer::First)->text(), "Open Help");
            EXPECT_EQ(alertButton(*box, AlertAnswer::Second)->text(), "Continue");
            EXPECT_NE(alertHelpButton(*box), nullptr);
            EXPECT_TRUE(box->informativeText().startsWith("Orvix "));
            access.showInputLimitation(limitation);
            QStringList expected{"alert:Accessibility Limited"};
            if (answer == AlertAnswer::First)
                expected << "open:" +
                                UniversalAccess::helpPageUrl(AccessHelpPage::Wayland).toString();
            EXPECT_EQ(rec.events, expected);
        }
    }
    EXPECT_NE(
        UniversalAccess::informativeTextForLimitation(InputLimitation::WaylandX11Only, "Orvix")
            .indexOf("X11 applications only"),
        -1);
    Recorder rec;
    UniversalAccess(rec.hooks()).showInputLimitation(InputLimitation::None);
    EXPECT_TRUE(rec.events.isEmpty());
}

TEST(UniversalAccessTest, HelpButtonOpensThePageAndLeavesTheAlertUp) {
    Recorder rec;
    UniversalAccess access(rec.hooks());
    auto box = access.buildAlert(InputAccessLack::X11XInput2);
    box->show();
    alertHelpButton(*box)->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->clickedButton(), nullptr);
    ASSERT_EQ(rec.events.size(), 1);
    EXPECT_EQ(rec.events[0],
              "open:" + UniversalAccess::helpPageUrl(AccessHelpPage::X11XInput2).toString());
    EXPECT_TRUE(access.alertShowHelp(nullptr)); // no anchor: nothing opens, still handled
    EXPECT_EQ(rec.events.size(), 1);
    box->close();
}

// Without access: alerts hidden, repeating check stopped, quit whatever the answer.
TEST(UniversalAccessTest, CheckHidesAlertsAndQuitsOnlyWithoutAccess) {
    for (InputAccessLack lack : {InputAccessLack::Nothing, InputAccessLack::X11Xtest}) {
        for (AlertAnswer answer : {AlertAnswer::First, AlertAnswer::Second}) {
            for (bool withTimer : {false, true}) {
                Recorder rec;
                rec.lack = lack;
                rec.answer = answer;
                UniversalAccess access(rec.hooks());
                QTimer timer;
                timer.start(60000);
                access._checkUniversalAccess(withTimer ? &timer : nullptr);
                const bool missing = lack != InputAccessLack::Nothing;
                EXPECT_EQ(timer.isActive(), !(withTimer && missing));
                QStringList expected;
                if (missing)
                    expected << "hide"
                             << "activate"
                             << "alert:Accessibility Required";
                if (missing && answer == AlertAnswer::First)
                    expected << "open:" + UniversalAccess::helpPageUrl(AccessHelpPage::X11Xtest)
                                              .toString();
                if (missing)
                    expected << "terminate";
                EXPECT_EQ(rec.events, expected);
            }
        }
    }
}

TEST(UniversalAccessTest, CheckFromAnotherThreadRunsTheDialogOnTheMainThread) {
    Recorder rec;
    UniversalAccess::Hooks hooks = rec.hooks();
    QThread* dialogThread = nullptr;
    hooks.runAlert = [&](QMessageBox&) {
        dialogThread = QThread::currentThread();
        return AlertResult{AlertAnswer::Second, false};
    };
    UniversalAccess access(hooks);
    bool returned = false;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        access._checkUniversalAccess(nullptr);
        returned = true;
    }));
    worker->start();
    while (!worker->isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker->wait();
    EXPECT_TRUE(returned);
    EXPECT_EQ(dialogThread, QCoreApplication::instance()->thread());
}

TEST(X11AccessTest, RealServerWithEveryExtensionGivesFullAccess) {
    EXPECT_EQ(checkX11Access(nullptr).lack(), InputAccessLack::X11Display);
    EXPECT_EQ(checkX11AccessForDisplayName(":987654").lack(), InputAccessLack::X11Display);

    XSession full(bareServer());
    ASSERT_TRUE(full.isRunning());
    const X11AccessReport ok = checkX11AccessForDisplayName(full.display());
    EXPECT_TRUE(ok.display);
    EXPECT_TRUE(ok.xtest);
    EXPECT_TRUE(ok.xinput2);
    EXPECT_TRUE(ok.canPostAndWatch());
}

// A server without XTEST is told apart from a missing display.
TEST(X11AccessTest, ProgramQuitsAfterTheAlertAtLaunch) {
    XSession noXtest(bareServer({"-extension", "XTEST"}));
    ASSERT_TRUE(noXtest.isRunning());
    for (const char* answer : {"first", "second"}) {
        const test::ToolRun child =
            test::runTool(childPath(), {"launch", noXtest.display(), answer},
                          QProcessEnvironment::systemEnvironment(), 20000);
        const QString& out = child.out;
        EXPECT_EQ(child.exitCode, 0);
        EXPECT_TRUE(
            out.contains("hide panel\nalert: Accessibility Required | Orvix uses the XTEST"))
            << out.toStdString();
        // The quit is queued: the launch goes on until the event loop runs.
        EXPECT_TRUE(out.contains("running\ngone 0")) << out.toStdString();
        EXPECT_EQ(out.contains("open https://"), QByteArray(answer) == "first");
    }
}

TEST(X11AccessTest, ProgramQuitsWhenTheDisplayGoesAwayWhileRunning) {
    auto server = std::make_unique<XSession>(bareServer());
    ASSERT_TRUE(server->isRunning());
    QProcess child;
    child.start(childPath(), {"timer", server->display(), "second"});
    ASSERT_TRUE(child.waitForReadyRead(20000));
    QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    EXPECT_TRUE(out.startsWith("running")) << out.toStdString();
    QThread::msleep(300);
    EXPECT_EQ(child.state(), QProcess::Running); // access is there: it keeps running
    server.reset();
    ASSERT_TRUE(child.waitForFinished(20000));
    out += QString::fromLocal8Bit(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_TRUE(out.contains("alert: Accessibility Required | Orvix uses the X11 display"))
        << out.toStdString();
    EXPECT_TRUE(out.endsWith("gone 0\n")) << out.toStdString();
}

TEST(EvdevAccessTest, MissingDevicesAreNamedInOrder) {
    test::TempHome home;
    const QString input = home.file("input");
    QDir().mkpath(input);
    EXPECT_EQ(checkEvdevAccess(home.file("uinput"), input).lack(),
              InputAccessLack::UinputNotWritable);
    QFile(home.file("uinput")).open(QIODevice::WriteOnly);
    EXPECT_EQ(checkEvdevAccess(home.file("uinput"), input).lack(),
              InputAccessLack::KeyboardsNotReadable);
    QFile(input + "/mouse0").open(QIODevice::WriteOnly); // not an event device
    EXPECT_FALSE(checkEvdevAccess(home.file("uinput"), input).keyboardsReadable);
    QFile(input + "/event3").open(QIODevice::WriteOnly);
    EXPECT_TRUE(checkEvdevAccess(home.file("uinput"), input).canPostAndWatch());
}
