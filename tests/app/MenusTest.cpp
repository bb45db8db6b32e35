#include "ControllerFixture.h"
#include "app/KeyboardView.h"
#include "app/MyPanel.h"
#include "menus/PreferencesWindow.h"
#include "menus/StatusItem.h"
#include "render/KeyControl.h"
#include "sound/SoundController.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QSlider>

using namespace orvix;

namespace {

using MenusTest = test::ControllerFixture;

QStringList titles(QMenu* menu, bool checkedOnly = false) {
    QStringList result;
    for (QAction* item : menu->actions())
        if (!checkedOnly || item->isChecked())
            result << item->text();
    return result;
}

QStringList checkedTitles(QMenu* menu) {
    return titles(menu, true);
}

TEST_F(MenusTest, ThemesMenuHasSixTaggedItemsAndChecksTheSetting) {
    defaults->setInteger(3, settings::kTheme);
    launch();
    QMenu* themes = controller->themesMenu();
    ASSERT_EQ(themes->actions().size(), 6);
    for (int tag = 0; tag < 6; ++tag)
        EXPECT_EQ(themes->actions()[tag]->data().toInt(), tag);
    EXPECT_EQ(titles(themes), QStringList({"White", "Black", "Black (Illuminated)", "Checkered",
                                           "Left/Right", "Vexmor"}));
    EXPECT_EQ(checkedTitles(themes), QStringList{"Checkered"});
    for (KeyControl* key : controller->keyboardView()->keyControls())
        EXPECT_EQ(key->theme(), 3);
}

TEST_F(MenusTest, ChoosingAThemeStoresItAndRethemesEveryKeyAtOnce) {
    launch();
    const QList<KeyControl*> keys = controller->keyboardView()->keyControls();
    ASSERT_EQ(keys.size(), 78);
    for (KeyControl* key : keys)
        key->normalImg(); // cache a picture in the old theme
    controller->themesMenu()->actions()[5]->trigger();
    EXPECT_EQ(defaults->integerForKey(settings::kTheme), 5);
    EXPECT_EQ(checkedTitles(controller->themesMenu()), QStringList{"Vexmor"});
    for (KeyControl* key : keys) {
        EXPECT_EQ(key->theme(), 5);
        // The old pictures are gone; the one on show is a fresh rendering.
        EXPECT_FALSE(key->hasCachedImage(KeyControl::Pressed));
    }
}

TEST_F(MenusTest, SoundsMenuStartsWithOffAndMovesTheCheckMark) {
    launch();
    QMenu* sounds = controller->soundsMenu();
    const QStringList names = titles(sounds);
    ASSERT_GE(names.size(), 2);
    EXPECT_EQ(names.first(), QStringLiteral("Off"));
    EXPECT_EQ(names, SoundController::sharedInstance()->themeNames());
    EXPECT_EQ(checkedTitles(sounds), QStringList{"Off"});

    sounds->actions()[1]->trigger();
    EXPECT_EQ(defaults->stringForKey(settings::kSoundTheme), names[1]);
    EXPECT_EQ(checkedTitles(controller->soundsMenu()), QStringList{names[1]});
    EXPECT_EQ(SoundController::sharedInstance()->currentThemeName(), names[1]);

    controller->soundsMenu()->actions()[0]->trigger();
    EXPECT_EQ(SoundController::sharedInstance()->currentThemeName(), QStringLiteral("Off"));
}

TEST_F(MenusTest, UnknownStoredNamesLeaveEveryItemOff) {
    defaults->setObject(QStringLiteral("No Such Theme"), settings::kSoundTheme);
    defaults->setInteger(42, settings::kTheme);
    launch();
    EXPECT_TRUE(checkedTitles(controller->soundsMenu()).isEmpty());
    EXPECT_TRUE(checkedTitles(controller->themesMenu()).isEmpty());
}

TEST_F(MenusTest, MenuActionsIgnoreSendersThatAreNotMenuItems) {
    launch();
    QObject stranger;
    controller->themeSelectionChanged(&stranger);
    controller->soundSelectionChanged(&stranger);
    controller->themeSelectionChanged(nullptr);
    EXPECT_FALSE(defaults->hasStoredValue(settings::kTheme));
    EXPECT_EQ(defaults->stringForKey(settings::kSoundTheme), QStringLiteral("Off"));
}

TEST_F(MenusTest, StatusItemFollowsShowInMenuBarLive) {
    launch();
    ASSERT_NE(controller->statusItem(), nullptr);
    defaults->setBool(false, settings::kShowInMenuBar);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->statusItem() == nullptr; }, 2000));
    defaults->setBool(true, settings::kShowInMenuBar);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->statusItem() != nullptr; }, 2000));
    // Rebuilding leaves exactly one icon.
    for (int i = 0; i < 5; ++i)
        controller->_updateStatusItem();
    EXPECT_EQ(controller->findChildren<StatusItem*>().size(), 1);
}

TEST_F(MenusTest, StatusItemClicksToggleHidingOrOpenTheMenu) {
    using Action = StatusItem::ClickAction;
    EXPECT_EQ(StatusItem::actionForClick(Qt::NoModifier, false), Action::Toggle);
    EXPECT_EQ(StatusItem::actionForClick(Qt::ControlModifier, false), Action::ShowMenu);
    EXPECT_EQ(StatusItem::actionForClick(Qt::ControlModifier | Qt::ShiftModifier, false),
              Action::Toggle);
    EXPECT_EQ(StatusItem::actionForClick(Qt::ControlModifier | Qt::AltModifier, false),
              Action::Toggle);
    EXPECT_EQ(StatusItem::actionForClick(Qt::ControlModifier, true), Action::Toggle);
    EXPECT_EQ(StatusItem::actionForClick(Qt::ControlModifier | Qt::KeypadModifier, false),
              Action::ShowMenu);

    launch();
    StatusItem* item = controller->statusItem();
    ASSERT_NE(item, nullptr);
    // A plain click hides and shows: LifetimeTest.TrayClickHidesThePanelAndLeavesTheIcon.
    item->handleActivation(QSystemTrayIcon::Trigger, Qt::ControlModifier, false);
    EXPECT_FALSE(controller->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->gearMenu()->isVisible(); }, 2000));
    EXPECT_TRUE(item->isHighlighted());
    controller->gearMenu()->close();
    EXPECT_FALSE(item->isHighlighted());
}

TEST_F(MenusTest, PreferencesWriteTheirKeysAndPreviewOnThePanel) {
    launch();
    controller->showPreferences();
    PreferencesWindow* prefs = controller->preferencesWindow();
    ASSERT_NE(prefs, nullptr);
    EXPECT_EQ(prefs->activeSlider()->value(), 100);
    EXPECT_EQ(prefs->inactiveSlider()->value(), 50);

    prefs->inactiveSlider()->setValue(20);
    EXPECT_DOUBLE_EQ(defaults->floatForKey(settings::kInactiveTransparency), 0.2);
    EXPECT_NEAR(controller->keyboardWindow()->windowOpacity(), 0.2, 0.01);
    // The opacity under the pointer stops at a visible floor.
    prefs->activeSlider()->setValue(0);
    EXPECT_EQ(prefs->activeSlider()->value(), 20);
    EXPECT_NEAR(defaults->floatForKey(settings::kActiveTransparency), 0.2, 1e-6);

    prefs->modifyMouseBox()->setChecked(true);
    EXPECT_TRUE(defaults->boolForKey(settings::kModifyMouseEvents));
    // Read at launch only.
    EXPECT_FALSE(AppController::modifyMouseEvents);

    // The window follows changes made elsewhere.
    defaults->setBool(false, settings::kSendProfileInfo);
    EXPECT_FALSE(prefs->sendProfileBox()->isChecked());
    defaults->setFloat(0.9, settings::kActiveTransparency);
    EXPECT_EQ(prefs->activeSlider()->value(), 90);
}

} // namespace
