#include "app/AppController.h"

#include "app/KeyClickPath.h"
#include "app/KeyboardView.h"
#include "app/MyApplication.h"
#include "app/MyPanel.h"
#include "app/TitleStrip.h"
#include "app/TrackingView.h"
#include "app/input/EventTapHandler.h"
#include "app/input/EventTapThread.h"
#include "app/input/KeyInput.h"
#include "app/input/MainThreadHandOff.h"
#include "menus/StatusItem.h"
#include "os/Bundle.h"
#include "os/DesktopSession.h"
#include "os/Log.h"
#include "os/SingleInstance.h"
#include "os/X11Window.h"
#include "os/input/EventFlags.h"
#include "platform/CrashReporter.h"
#include "platform/Feedback.h"
#include "platform/InputBackendFactory.h"
#include "platform/MoveApplication.h"
#include "platform/SUUpdater.h"
#include "platform/SettingsStore.h"
#include "platform/StartAtLogin.h"
#include "platform/UniversalAccess.h"
#include "platform/UpdateController.h"
#include "render/KeyPicture.h"
#include "render/KeyboardLayout.h"
#include "settings/Defaults.h"
#include "settings/Settings.h"
#include "sound/SoundController.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWindow>
#include <cstdio>
#include <utility>

namespace orvix {

std::atomic<bool> AppController::modifyKeyEvents{true};
std::atomic<bool> AppController::modifyMouseEvents{false};

namespace {
// The panel's first width on screen, before the user resizes it.
constexpr int kInitialContentWidth = 720;
} // namespace

void AppController::initialize(Defaults& defaults) {
    settings::registerDefaults(defaults);
}

namespace {
// The platform services read and write the settings through this view.
class DefaultsStore : public SettingsStore {
public:
    explicit DefaultsStore(Defaults& defaults) : _defaults(defaults) {}
    bool boolForKey(const QString& key) const override { return _defaults.boolForKey(key); }
    QVariant objectForKey(const QString& key) const override { return _defaults.objectForKey(key); }
    void setObject(const QVariant& value, const QString& key) override {
        _defaults.setObject(value, key);
    }
    void synchronize() override { _defaults.synchronize(); }

private:
    Defaults& _defaults;
};
} // namespace

AppController::AppController(Defaults& defaults, Environment environment, QObject* parent)
    : QObject(parent), _defaults(defaults), _environment(std::move(environment)),
      _store(std::make_unique<DefaultsStore>(defaults)) {
    if (!_environment.makeBackend) {
        _environment.makeBackend = [this] {
            InputBackendChoice choice =
                makeInputBackend(_defaults.stringForKey(settings::kInputBackend));
            Log::write("Input backend: %s", qUtf8Printable(choice.name));
            _backendAccessProbe = std::move(choice.accessProbe);
            _inputLimitation = choice.limitation;
            return std::move(choice.backend);
        };
    }
    if (!_environment.accessProbe) {
        _environment.accessProbe = [this] {
            if (!_backendAccessProbe)
                _backendAccessProbe =
                    makeInputAccessProbe(_defaults.stringForKey(settings::kInputBackend));
            return _backendAccessProbe();
        };
    }
    _frameSaveTimer.setSingleShot(true);
    _frameSaveTimer.setInterval(300);
    connect(&_frameSaveTimer, &QTimer::timeout, this, &AppController::_savePanelFrame);
    _appearanceFallback.setSingleShot(true);
    _appearanceFallback.setInterval(1000);
    connect(&_appearanceFallback, &QTimer::timeout, this, &AppController::_panelDidAppear);
    _lookPreparation.setInterval(0);
    connect(&_lookPreparation, &QTimer::timeout, this, [this] {
        const QList<KeyControl*>& keys = _keyboardView->keyControls();
        for (int n = 0; n < 4 && _nextKeyToPrepare < keys.size(); ++n, ++_nextKeyToPrepare) {
            keys[_nextKeyToPrepare]->prepareLook(KeyControl::Pressed);
            keys[_nextKeyToPrepare]->prepareLook(KeyControl::Hover);
        }
        if (_nextKeyToPrepare >= keys.size()) {
            _lookPreparation.stop();
            // Every look has its pixels now; shared shadows would only hold memory.
            KeyPicture::releaseMadeShadows();
        }
    });
}

AppController::~AppController() {
    delete _keyboardWindow;
}

void AppController::awakeFromNib() {
    _checkForDuplicateProcesses();

    SoundController::sharedInstance()->setThemeByName(
        _defaults.objectForKey(settings::kSoundTheme).toString());
    step("applySoundTheme");

    modifyKeyEvents = _defaults.boolForKey(settings::kModifyKeyEvents);
    modifyMouseEvents = _defaults.boolForKey(settings::kModifyMouseEvents);
    step("readEventModifyingFlags");

    _setUpPanel();

    for (int32_t code : KeyInput::kToggleKeyCodes)
        _keyboardView->setKeyToggles(code, true);
    step("markToggleKeys");

    _buildMenus();
    _updateSoundsMenu();
    _updateThemesMenu();
    _updateStatusItem();
    step("buildMenus");

    connect(&_defaults, &Defaults::changed, this, &AppController::observeValueForKeyPath);
    step("observeDefaults");

    _createEventSource();
}

void AppController::_createEventSource() {
    // A copy that is about to quit must not touch the session's keys, nor the
    // running copy's record of them.
    if (_duplicate) {
        step("createEventSource");
        return;
    }
    _backend = _environment.makeBackend();
    if (_backend) {
        // The backend's news (keymap and modifier changes, ...) are read as
        // they come, not left to pile up until the next click.
        input::InputBackend* backend = _backend.get();
        for (int descriptor : backend->mainLoopDescriptors()) {
            auto* news = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
            connect(news, &QSocketNotifier::activated, this,
                    [backend, descriptor] { backend->dispatch(descriptor); });
        }
        _keyInput =
            std::make_unique<KeyInput>(*_backend, *_keyboardView, [](int32_t code, int32_t state) {
                SoundController::sharedInstance()->playSoundForKeyCode(
                    static_cast<uint64_t>(code), static_cast<uint64_t>(state));
            });
    } else {
        Log::write("No input backend: on-screen keys cannot type on this display");
    }
    step("createEventSource");
}

void AppController::_createEventTap() {
    if (!_keyInput)
        return;
    if (!_backend->watches()) {
        Log::write("The input backend only posts: real keys are not watched");
        return;
    }
    _handOff = std::make_unique<MainThreadHandOff>(this, *_keyInput);
    _tapHandler = std::make_unique<EventTapHandler>(*_keyInput, *_handOff, modifyKeyEvents,
                                                    modifyMouseEvents);
    _tapThread = std::make_unique<EventTapThread>(*_tapHandler);
    input::EventTap::Options options;
    options.stampKeys = modifyKeyEvents;
    options.stampMouse = modifyMouseEvents;
    _tapThread->start(*_backend, options, [this] {
        std::fputs("Failed to create event tap\n", stderr);
        _quitWithError(QStringLiteral("Failed to create event tap.  Contact support for help."));
    });
    if (modifyKeyEvents && !_backend->stampsInFlight()) {
        // Where real keys reach applications before the tap sees them, the
        // latched modifiers wait in the system as locks for the next real key.
        _keyInput->setModifiersObserver([this](uint64_t, uint64_t) { _updateRestingModifiers(); });
        connect(_keyboardWindow, &MyPanel::pointerEntered, this, [this] {
            _pointerOverPanel = true;
            _updateRestingModifiers();
        });
        connect(_keyboardWindow, &MyPanel::pointerExited, this, [this] {
            _pointerOverPanel = false;
            _updateRestingModifiers();
        });
    }
}

void AppController::_updateRestingModifiers() {
    if (!_backend || !_keyInput)
        return;
    uint64_t resting = _keyInput->latchedFlags() & input::kModifierMask;
    // A held Alt or Super turns clicks into window-manager moves: keep them
    // out of the server while the pointer is over the panel.
    if (_pointerOverPanel)
        resting &= ~(input::kFlagAlternate | input::kFlagCommand);
    _backend->setRestingFlags(resting);
}

void AppController::observeValueForKeyPath(const QString& key) {
    if (key == settings::kShowInMenuBar)
        QMetaObject::invokeMethod(this, &AppController::_updateStatusItem, Qt::QueuedConnection);
    else if (key == settings::kCheckForUpdates && _updateController)
        _updateController->checkForUpdatesChanged();
}

void AppController::_noteInputLimitation() {
    static constexpr const char* kNames[] = {"", "WaylandWithoutWatching", "WaylandX11Only"};
    const QString name = QString::fromLatin1(kNames[static_cast<int>(_inputLimitation)]);
    // Told once, and again only when the limit changes; lifting it resets.
    if (_defaults.stringForKey(settings::kInputLimitationNoticed) == name)
        return;
    _defaults.setObject(name, settings::kInputLimitationNoticed);
    _defaults.synchronize();
    if (_inputLimitation == InputLimitation::None)
        return;
    Log::write("Told the user: %s", _inputLimitation == InputLimitation::WaylandWithoutWatching
                                        ? "real keys are not watched"
                                        : "typing reaches X11 applications only");
    _universalAccess->showInputLimitation(_inputLimitation);
}

void AppController::keyPressed(KeyControl* key) {
    if (key == _typedAhead) {
        _typedAhead = nullptr;
        return;
    }
    if (_keyInput)
        _keyInput->keyPressed(static_cast<int32_t>(key->tag()));
}

void AppController::keyReleased(KeyControl* key) {
    if (_keyInput)
        _keyInput->keyReleased(static_cast<int32_t>(key->tag()));
}

void AppController::applicationDidFinishLaunching() {
    UniversalAccess::Hooks hooks;
    hooks.probe = _environment.accessProbe;
    hooks.hidePanel = [this] {
        _keyboardWindow->hide();
    };
    // The alert comes to the front by itself; showing the hidden windows
    // again would bring back a panel the user had hidden.
    hooks.activate = [] {
    };
    hooks.terminate = [] {
        MyApplication::terminate();
    };
    _universalAccess = new UniversalAccess(std::move(hooks), this);
    _universalAccess->_checkUniversalAccess(nullptr);
    _noteInputLimitation();
    step("checkUniversalAccess");

    const bool reported = CrashReporter::check();
    step("crashReporterCheck");
    MoveApplication::Environment moveEnvironment;
    moveEnvironment.settings = _store.get();
    const bool offeredMove =
        MoveApplication(std::move(moveEnvironment)).offerMoveToApplicationsFolder();
    step("offerMoveToApplicationsFolder");

    UpdateController::Sources sources;
    sources.settings = _store.get();
    sources.themeTitle = [this](int tag) -> std::optional<QString> {
        for (QAction* item : _themesMenu->actions())
            if (item->data().toInt() == tag)
                return item->text();
        return std::nullopt;
    };
    // The button's click reaches the controller through the button itself.
    _updateController = new UpdateController(std::move(sources), SUUpdater::sharedUpdater(),
                                             _keyboardWindow->titleStrip()->updateButton(), this);
    if (reported && offeredMove) {
        unhide();
    } else {
        Feedback::sharedInstance(*_store);
        step("feedback");
        if (_defaults.boolForKey(settings::kCheckForUpdates)) {
            _whenPanelAppears([this] { _updateController->checkAtLaunch(); });
            step("checkForUpdates");
        }
    }

    _startAtLogin = new StartAtLogin(Bundle::mainBundle().bundlePath(), this);
    _startAtLogin->readAtLaunch();
    _startAtLoginItem->setChecked(_startAtLogin->startAtLogin());
    connect(_startAtLogin, &StartAtLogin::startAtLoginChanged, _startAtLoginItem,
            &QAction::setChecked);
    connect(_startAtLoginItem, &QAction::toggled, _startAtLogin, [this](bool on) {
        if (on != _startAtLogin->startAtLogin())
            _startAtLogin->setStartAtLogin(on);
    });
    step("readStartAtLogin");

    _createEventTap();
    step("startEventTap");

    _keyboardWindow->show();
    _keyboardWindow->raise();
    step("orderFront");

    _trackingView->animateAlphaTo(
        settings::transparency(_defaults, settings::kInactiveTransparency));
    step("fadeIn");

    _universalAccess->scheduleRepeatingCheck();
    step("scheduleAccessTimer");

    // The panel paints, and takes clicks, only once the event loop runs. The
    // tap must be listening by then: keys pressed before it would light
    // nothing, and our own first keys would pass for real ones. It was made
    // alongside the steps above, so this rarely waits.
    if (_tapThread)
        _tapThread->waitUntilListening(std::chrono::seconds(2));

    _whenPanelAppears([this] { _startKeyClickPath(); });
    _whenPanelAppears([this] { _prepareKeyLooks(); });
    // A panel that stays hidden (an alert took its place) never paints.
    _appearanceFallback.start();
}

void AppController::_whenPanelAppears(std::function<void()> work) {
    if (_panelAppeared)
        work();
    else
        _afterFirstFrame.push_back(std::move(work));
}

void AppController::_panelDidAppear() {
    if (_panelAppeared)
        return;
    _panelAppeared = true;
    _appearanceFallback.stop();
    if (_statusItem) {
        _statusItem->appear();
        if (!_trayAvailable())
            Log::write("No system tray to show %s in: closing the panel will quit",
                       qUtf8Printable(Bundle::name()));
    }
    for (const std::function<void()>& work : std::exchange(_afterFirstFrame, {}))
        work();
}

void AppController::_startKeyClickPath() {
    // Until it runs (and where it cannot), clicks reach the keys through the
    // toolkit, which costs the main thread a second wake-up per click. Under
    // XWayland the toolkit's way is kept: the raw events there come from the
    // compositor's seat, and the short way has been measured on X11 only.
    if (!_keyInput || DesktopSession::current().kind != DesktopSession::Kind::X11 || !x11::isX11())
        return;
    _clickPath = new KeyClickPath(_keyboardWindow, _keyboardView->keyControls(), this);
    _clickPath->setTypeAhead([this](KeyControl* key) {
        if (key)
            _keyInput->keyPressed(static_cast<int32_t>(key->tag()));
        _typedAhead = key;
    });
    if (!_clickPath->start()) {
        delete _clickPath;
        _clickPath = nullptr;
    }
}

void AppController::_prepareKeyLooks() {
    // The pressed and hover looks are drawn a few keys at a time while the
    // program is idle, so no first press waits for its picture.
    _nextKeyToPrepare = 0;
    _lookPreparation.start();
}

void AppController::_checkForDuplicateProcesses() {
    step("checkForDuplicateProcesses");
    _singleInstance = new SingleInstance(Bundle::identifier(), this);
    connect(_singleInstance, &SingleInstance::reopenRequested, this,
            [this] { applicationShouldHandleReopen(!_hidden); });
    if (_singleInstance->claim() == SingleInstance::Outcome::Duplicate) {
        Log::write("Found another %s process; sent 'reopen' and will quit instead.",
                   qUtf8Printable(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
        _duplicate = true;
        // The rest of the launch runs first; the quit takes effect after it.
        MyApplication::terminate();
    }
}

void AppController::_setUpPanel() {
    _keyboardWindow = new MyPanel();
    const std::string manager = x11::windowManagerName();
    if (DesktopSession::current().panelBypassesWindowManager(manager)) {
        Log::write("The window manager (%s) focuses every window clicked; the panel places "
                   "itself",
                   manager.empty() ? "unnamed" : manager.c_str());
        _keyboardWindow->setBypassesWindowManager(true);
    }
    _keyboardWindow->setContentAspectRatio(keyboardLayoutSize());
    _keyboardWindow->setWindowOpacity(0.0);
    _restorePanelFrame();
    _keyboardWindow->applyWorkspaceStates();
    connect(_keyboardWindow, &MyPanel::frameChanged, &_frameSaveTimer, qOverload<>(&QTimer::start));

    _trackingView = new TrackingView(_keyboardWindow, _defaults, this);
    connect(_keyboardWindow, &MyPanel::pointerEntered, _trackingView, &TrackingView::mouseEntered);
    connect(_keyboardWindow, &MyPanel::pointerExited, _trackingView, &TrackingView::mouseExited);
    connect(_keyboardWindow, &MyPanel::closeRequested, this, &AppController::windowShouldClose);
    connect(_keyboardWindow, &MyPanel::miniaturizeRequested, this, [this] {
        windowWillMiniaturize();
        _keyboardWindow->miniaturize();
    });
    connect(_keyboardWindow, &MyPanel::deminiaturized, this,
            &AppController::windowDidDeminiaturize);
    connect(_keyboardWindow->titleStrip(), &TitleStrip::gearClicked, this,
            &AppController::titleBarExtrasClicked);
    connect(_keyboardWindow, &MyPanel::firstFramePainted, this, &AppController::_panelDidAppear);
    _buildKeyControls();
    step("setUpPanel");
}

void AppController::_buildKeyControls() {
    QList<KeyboardView::Placeholder> layout;
    for (const KeyPlacement& key : keyboardLayout())
        layout.append({key.code, key.frame});
    const auto theme = static_cast<int32_t>(_defaults.integerForKey(settings::kTheme));
    _keyboardView =
        new KeyboardView(layout, keyboardLayoutSize(), theme, this, _keyboardWindow->contentView());
    _keyboardWindow->setKeyboardView(_keyboardView);
    // A resize drops the keys' pixels: draw the looks again once it settles.
    connect(_keyboardView, &KeyboardView::resizeSettled, this, [this] {
        if (_panelAppeared)
            _prepareKeyLooks();
    });
}

void AppController::_restorePanelFrame() {
    const int stripHeight = MyPanel::titleBarHeight();
    const QSizeF layoutSize = keyboardLayoutSize();
    const QSize initial(kInitialContentWidth,
                        qRound(kInitialContentWidth * layoutSize.height() / layoutSize.width()) +
                            stripHeight);
    QRect frame;
    const QStringList parts = _defaults.stringForKey(settings::kKeyboardFrame).split(u' ');
    if (parts.size() == 4) {
        bool ok[4];
        frame = QRect(parts[0].toInt(&ok[0]), parts[1].toInt(&ok[1]), parts[2].toInt(&ok[2]),
                      parts[3].toInt(&ok[3]));
        // A frame that is unreadable, absurd or off every screen is not restored.
        const bool readable = ok[0] && ok[1] && ok[2] && ok[3] && frame.width() >= 100 &&
                              frame.height() >= 50 && frame.width() <= 10000 &&
                              frame.height() <= 10000;
        if (!readable || !QGuiApplication::screenAt(frame.center()))
            frame = {};
    }
    if (frame.isNull()) {
        const QRect available = QGuiApplication::primaryScreen()
                                    ? QGuiApplication::primaryScreen()->availableGeometry()
                                    : QRect(0, 0, 1024, 768);
        frame = QRect(QPoint(), initial);
        frame.moveCenter(available.center());
    }
    _keyboardWindow->setGeometry(frame);
}

void AppController::_savePanelFrame() {
    const QRect frame = _keyboardWindow->geometry();
    _defaults.setObject(QStringLiteral("%1 %2 %3 %4")
                            .arg(frame.x())
                            .arg(frame.y())
                            .arg(frame.width())
                            .arg(frame.height()),
                        settings::kKeyboardFrame);
}

bool AppController::applicationShouldHandleReopen(bool) {
    unhide();
    _restoreMiniaturizedPanel();
    _keyboardWindow->raise();
    _trackingView->animateAlphaTo(settings::transparency(_defaults, settings::kActiveTransparency));
    return true;
}

void AppController::applicationWillTerminate() {
    _tapThread.reset();
    // The theme's sounds go, and their temporary files with them.
    SoundController::sharedInstance()->setThemeByName(QStringLiteral("Off"));
    delete _statusItem;
    _statusItem = nullptr;
    if (_backend)
        _backend->releaseAll();
    _frameSaveTimer.stop();
    if (_keyboardWindow && _keyboardWindow->isVisible())
        _savePanelFrame();
    _defaults.synchronize();
}

void AppController::hide() {
    if (_hidden)
        return;
    _hidden = true;
    _hiddenWindows.clear();
    // Only the panel and the windows it opened: other top-level widgets, such
    // as the tray icon's own window on XEmbed trays, must stay.
    const QList<QWidget*> ours = {_keyboardWindow, _preferences.data(), _aboutPanel.data()};
    for (QWidget* window : ours) {
        if (window && window->isVisible()) {
            _hiddenWindows << window;
            window->hide();
        }
    }
}

void AppController::_restoreMiniaturizedPanel() {
    _keyboardWindow->deminiaturize();
}

void AppController::unhide() {
    if (!_hidden)
        return;
    _hidden = false;
    for (const QPointer<QWidget>& window : std::as_const(_hiddenWindows)) {
        if (window)
            window->show();
    }
    _hiddenWindows.clear();
}

void AppController::showAbout() {
    unhide();
    if (!_aboutPanel) {
        _aboutPanel = new QMessageBox();
        _aboutPanel->setAttribute(Qt::WA_DeleteOnClose);
        _aboutPanel->setWindowTitle(tr("About %1").arg(Bundle::name()));
        _aboutPanel->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
        _aboutPanel->setText(QStringLiteral("<b>%1</b>").arg(Bundle::name()));
        _aboutPanel->setInformativeText(
            tr("Version %1 (%2)\n%3")
                .arg(Bundle::shortVersion(), Bundle::buildVersion(), Bundle::copyright()));
        _aboutPanel->setStandardButtons(QMessageBox::Ok);
        _aboutPanel->setModal(false);
        // At the panel's level, so the panel cannot cover it.
        _aboutPanel->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    _aboutPanel->show();
    _aboutPanel->raise();
    _aboutPanel->activateWindow();
}

bool AppController::windowShouldClose() {
    if (_defaults.boolForKey(settings::kShowInMenuBar) && _trayAvailable()) {
        hide();
    } else {
        if (_defaults.boolForKey(settings::kShowInMenuBar))
            Log::write("No system tray to show %s in: closing the panel quits",
                       qUtf8Printable(Bundle::name()));
        MyApplication::terminate();
    }
    return false;
}

bool AppController::_trayAvailable() const {
    // Asked at the time: the tray host may have come or gone since launch.
    return _environment.trayAvailable ? _environment.trayAvailable()
                                      : QSystemTrayIcon::isSystemTrayAvailable();
}

void AppController::windowWillMiniaturize() {
    _trackingView->setAlphaNow(1.0);
    if (_tapThread && SoundController::sharedInstance()->currentThemeName() == u"Off")
        _tapThread->setEnabled(false);
}

void AppController::windowDidDeminiaturize() {
    if (_tapThread)
        _tapThread->setEnabled(true);
}

void AppController::_quitWithError(const QString& message) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message] { _quitWithError(message); }, Qt::QueuedConnection);
        return;
    }
    if (_quitting)
        return;
    _quitting = true;
    QApplication::beep();
    if (_keyboardWindow)
        _keyboardWindow->hide();

    QMessageBox alert(QMessageBox::Critical, tr("Orvix Error"), tr("Orvix Error"),
                      QMessageBox::NoButton);
    alert.setInformativeText(message);
    alert.addButton(tr("Quit"), QMessageBox::AcceptRole);
    // Modal: the application object lifts it to the panel's level.
    alert.exec();
    MyApplication::terminate();
}

} // namespace orvix
