#include "ControllerFixture.h"
#include "app/KeyboardView.h"
#include "app/MyApplication.h"
#include "app/MyPanel.h"
#include "app/TrackingView.h"
#include "menus/StatusItem.h"
#include "platform/SUUpdater.h"
#include "platform/UniversalAccess.h"
#include "render/KeyControl.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

using StartupTest = test::ControllerFixture;

TEST_F(StartupTest, StepsRunInLaunchOrder) {
    launch();
    EXPECT_EQ(
        controller->launchSteps(),
        QStringList({"checkForDuplicateProcesses", "applySoundTheme", "readEventModifyingFlags",
                     "setUpPanel", "markToggleKeys", "buildMenus", "observeDefaults",
                     "createEventSource", "checkUniversalAccess", "crashReporterCheck",
                     "offerMoveToApplicationsFolder", "feedback", "readStartAtLogin",
                     "startEventTap", "orderFront", "fadeIn", "scheduleAccessTimer"}));
}

// The tray registration and the update check would only delay the panel's
// first frame, so they wait for it; the launch order itself stays.
TEST_F(StartupTest, TrayAndUpdateCheckWaitForThePanelsFirstFrame) {
    defaults->setBool(true, settings::kCheckForUpdates);
    SUUpdater* updater = SUUpdater::sharedUpdater();
    const QUrl feed = updater->feedURL();
    updater->setFeedURL(QUrl(QStringLiteral("http://127.0.0.1:1/appcast.xml"))); // refused at once
    QSignalSpy checks(updater, &SUUpdater::checkFinished);
    launch();
    EXPECT_TRUE(controller->launchSteps().contains(QStringLiteral("checkForUpdates")));
    ASSERT_NE(controller->statusItem(), nullptr);
    EXPECT_EQ(controller->statusItem()->trayIcon(), nullptr);
    EXPECT_FALSE(updater->isChecking());

    EXPECT_TRUE(
        QTest::qWaitFor([&] { return controller->statusItem()->trayIcon() != nullptr; }, 3000));
    EXPECT_TRUE(checks.wait(10000));
    EXPECT_EQ(checks.size(), 1);
    updater->setFeedURL(feed);
}

TEST_F(StartupTest, PanelFadesInFromZeroToInactiveTransparency) {
    defaults->setFloat(0.35, settings::kInactiveTransparency);
    create();
    MyPanel* panel = controller->keyboardWindow();
    EXPECT_DOUBLE_EQ(panel->windowOpacity(), 0.0);
    EXPECT_FALSE(panel->isVisible());
    controller->applicationDidFinishLaunching();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(waitForOpacity(panel, 0.35));
}

TEST_F(StartupTest, EventModifyingFlagsAreReadOnceAtLaunch) {
    defaults->setBool(false, settings::kModifyKeyEvents);
    defaults->setBool(true, settings::kModifyMouseEvents);
    launch();
    EXPECT_FALSE(AppController::modifyKeyEvents);
    EXPECT_TRUE(AppController::modifyMouseEvents);
    defaults->setBool(true, settings::kModifyKeyEvents);
    EXPECT_FALSE(AppController::modifyKeyEvents);
}

TEST_F(StartupTest, TransparencyChangeShowsAtOnceAndPointerRestoresRule) {
    launch();
    MyPanel* panel = controller->keyboardWindow();
    ASSERT_TRUE(waitForOpacity(panel, 0.5));
    defaults->setFloat(0.8, settings::kInactiveTransparency);
    EXPECT_NEAR(panel->windowOpacity(), 0.8, 0.01);
    defaults->setFloat(0.6, settings::kActiveTransparency);
    EXPECT_NEAR(panel->windowOpacity(), 0.6, 0.01);
    controller->trackingView()->mouseExited();
    EXPECT_TRUE(waitForOpacity(panel, 0.8));
    controller->trackingView()->mouseEntered();
    EXPECT_TRUE(waitForOpacity(panel, 0.6));
    // Under the pointer even a preview of a lower value keeps the panel visible.
    defaults->setFloat(0.0, settings::kInactiveTransparency);
    EXPECT_NEAR(panel->windowOpacity(), settings::kMinimumActiveTransparency, 0.01);
    controller->trackingView()->mouseExited();
    EXPECT_TRUE(waitForOpacity(panel, 0.0));
}

TEST_F(StartupTest, UnusableSavedFrameOpensCentred) {
    for (const char* bad : {"garbage", "1 2 3", "0 0 -5 -5", "99999 99999 500 200", "a b c d"}) {
        defaults->setObject(QString::fromLatin1(bad), settings::kKeyboardFrame);
        launch();
        const QRect frame = controller->keyboardWindow()->geometry();
        EXPECT_GT(frame.width(), 100) << bad;
        EXPECT_TRUE(QApplication::primaryScreen()->availableGeometry().contains(frame.center()))
            << bad;
        controller.reset();
    }
}

using LookPreparationTest = test::ControllerFixture;

// Nothing is hovered or pressed, yet every key has both looks at hand.
bool looksAreReady(const QList<KeyControl*>& keys) {
    return QTest::qWaitFor(
        [&] {
            for (KeyControl* key : keys)
                if (!key->hasCachedImage(KeyControl::Pressed) ||
                    !key->hasCachedImage(KeyControl::Hover))
                    return false;
            return true;
        },
        10000);
}

TEST_F(LookPreparationTest, PressedAndHoverLooksAreReadyAfterLaunchAndAfterAResize) {
    launch();
    const QList<KeyControl*> keys = controller->keyboardView()->keyControls();
    ASSERT_EQ(keys.size(), 78);
    EXPECT_TRUE(looksAreReady(keys));

    // A resize drops every key's pixels; they are made again at the new size.
    MyPanel* panel = controller->keyboardWindow();
    const QSize keySize = keys[0]->size();
    panel->resize(panel->sizeForWidth(panel->width() * 5 / 4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return keys[0]->size() != keySize; }, 5000));
    EXPECT_TRUE(looksAreReady(keys));
}

// The permission alert hides the panel and quits after it; a panel the user
// had hidden stays hidden while it shows.
TEST_F(StartupTest, PermissionAlertLeavesAHiddenPanelHidden) {
    auto lack = std::make_shared<bool>(false);
    AppController::Environment env = environment();
    env.accessProbe = [lack] {
        return *lack ? InputAccessLack::X11Xtest : InputAccessLack::Nothing;
    };
    launch(env);
    MyPanel* panel = controller->keyboardWindow();
    controller->hide();
    ASSERT_FALSE(panel->isVisible());

    *lack = true;
    bool panelShownWithAlert = true, alertSeen = false;
    QTimer::singleShot(0, [&] {
        alertSeen =
            QTest::qWaitFor([&] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        panelShownWithAlert = panel->isVisible();
        if (alertSeen)
            QApplication::activeModalWidget()->close();
    });
    controller->universalAccess()->_checkUniversalAccess(nullptr);
    EXPECT_TRUE(alertSeen);
    EXPECT_FALSE(panelShownWithAlert);
    EXPECT_TRUE(MyApplication::terminationRequested());
}

} // namespace
