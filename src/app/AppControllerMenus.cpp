// The controller's menus: the gear menu with its themes and sounds menus, the
// status item in the tray, and the preferences window.
#include "app/AppController.h"
#include "app/KeyboardView.h"
#include "app/MyApplication.h"
#include "app/MyPanel.h"
#include "app/TitleStrip.h"
#include "menus/PreferencesWindow.h"
#include "menus/StatusItem.h"
#include "os/Bundle.h"
#include "os/input/InputBackend.h"
#include "platform/StartAtLogin.h"
#include "render/KeyControl.h"
#include "render/KeyboardTheme.h"
#include "settings/Defaults.h"
#include "settings/Settings.h"
#include "sound/SoundController.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>

namespace orvix {

void AppController::_buildMenus() {
    _gearMenu = new QMenu();
    _themesMenu = _gearMenu->addMenu(tr("Keyboard Theme"));
    // One choice at a time: the desktop draws these as radio items.
    auto* themeGroup = new QActionGroup(_themesMenu);
    themeGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int tag = 0; tag <= 5; ++tag) {
        QAction* item = _themesMenu->addAction(KeyboardTheme::themeForIndex(tag).themeName());
        item->setData(tag);
        item->setCheckable(true);
        themeGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { themeSelectionChanged(item); });
    }
    _soundsMenu = _gearMenu->addMenu(tr("Typing Sounds"));
    _gearMenu->addSeparator();
    _startAtLoginItem = _gearMenu->addAction(tr("Start at Login"));
    _startAtLoginItem->setCheckable(true);
    QAction* loginItems = _gearMenu->addAction(tr("Login Items…"));
    connect(loginItems, &QAction::triggered, this, &AppController::showLoginItems);
    QAction* preferences = _gearMenu->addAction(tr("Preferences…"));
    connect(preferences, &QAction::triggered, this, &AppController::showPreferences);
    _gearMenu->addSeparator();
    QAction* about = _gearMenu->addAction(tr("About %1").arg(Bundle::name()));
    connect(about, &QAction::triggered, this, &AppController::showAbout);
    QAction* hideItem = _gearMenu->addAction(tr("Hide"));
    connect(hideItem, &QAction::triggered, this, &AppController::hide);
    QAction* quit = _gearMenu->addAction(tr("Quit %1").arg(Bundle::name()));
    connect(quit, &QAction::triggered, this, [] { MyApplication::terminate(); });
    connect(_gearMenu, &QMenu::aboutToHide, this, [this] {
        if (_statusItem)
            _statusItem->setHighlighted(false);
    });
}

void AppController::_updateSoundsMenu() {
    const QString selected = _defaults.objectForKey(settings::kSoundTheme).toString();
    _soundsMenu->clear();
    for (QActionGroup* old : _soundsMenu->findChildren<QActionGroup*>())
        delete old;
    auto* group = new QActionGroup(_soundsMenu);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const QString& name : SoundController::sharedInstance()->themeNames()) {
        // A single "&" in a title marks a mnemonic; doubled it shows as itself.
        QAction* item = _soundsMenu->addAction(QString(name).replace(u'&', QStringLiteral("&&")));
        item->setData(name);
        item->setCheckable(true);
        group->addAction(item);
        item->setChecked(name == selected);
        connect(item, &QAction::triggered, this, [this, item] { soundSelectionChanged(item); });
    }
}

void AppController::_updateThemesMenu() {
    const auto theme = static_cast<int32_t>(_defaults.integerForKey(settings::kTheme));
    for (QAction* item : _themesMenu->actions())
        item->setChecked(item->data().toInt() == theme);
}

void AppController::soundSelectionChanged(QObject* sender) {
    auto* item = qobject_cast<QAction*>(sender);
    if (!item)
        return;
    // The list name, as the item's text may carry mnemonic markers.
    const QString title = item->data().toString();
    _defaults.setObject(title, settings::kSoundTheme);
    _updateSoundsMenu();
    SoundController::sharedInstance()->setThemeByName(title);
}

void AppController::themeSelectionChanged(QObject* sender) {
    auto* item = qobject_cast<QAction*>(sender);
    if (!item)
        return;
    const auto tag = static_cast<int32_t>(item->data().toLongLong());
    // Keys first: their repaint is then queued ahead of the settings file's
    // save (QSettings saves on the next turn of the event loop, with a disk
    // sync), so the new theme shows without waiting for the disk.
    for (QObject* child : _keyboardView->children()) {
        if (auto* key = qobject_cast<KeyControl*>(child))
            key->setTheme(tag);
    }
    _defaults.setInteger(tag, settings::kTheme);
    _updateThemesMenu();
    _prepareKeyLooks();
}

void AppController::_updateStatusItem() {
    delete _statusItem;
    _statusItem = nullptr;
    if (!_defaults.boolForKey(settings::kShowInMenuBar))
        return;
    _statusItem = new StatusItem(this);
    connect(_statusItem, &StatusItem::menuItemClicked, this, &AppController::menuItemClicked);
    connect(_statusItem, &StatusItem::showStatusItemMenu, this, &AppController::showStatusItemMenu);
    if (_panelAppeared)
        _statusItem->appear();
}

void AppController::menuItemClicked() {
    // A miniaturised panel is out of sight too: the click brings it back.
    if (_hidden || _keyboardWindow->isMiniaturized()) {
        unhide();
        _restoreMiniaturizedPanel();
    } else {
        hide();
    }
}

void AppController::showStatusItemMenu() {
    if (_statusItem)
        _statusItem->setHighlighted(true);
    _gearMenu->popup(QCursor::pos());
}

void AppController::titleBarExtrasClicked() {
    // The menu opens at the gear button's lower-left corner.
    TitleButton* gear = _keyboardWindow->titleStrip()->gearButton();
    _gearMenu->popup(gear->mapToGlobal(QPoint(0, gear->height())));
}

void AppController::showLoginItems() {
    if (_startAtLogin)
        _startAtLogin->showLoginItems(this);
}

void AppController::showPreferences() {
    unhide();
    if (!_preferences) {
        _preferences = new PreferencesWindow(_defaults);
        if (_backend)
            _preferences->setInputNotes(_backend->stampsInFlight()
                                            ? PreferencesWindow::InputNotes::kernel()
                                            : PreferencesWindow::InputNotes::x11());
    }
    _preferences->show();
    _preferences->raise();
    _preferences->activateWindow();
}

} // namespace orvix
