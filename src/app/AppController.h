#pragma once

#include "menus/PreferencesWindow.h"
#include "platform/InputAccess.h"
#include "render/KeyControl.h"

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QAction;

namespace orvix {

namespace input {
class InputBackend;
}

class Defaults;
class EventTapHandler;
class EventTapThread;
class KeyInput;
class KeyClickPath;
class MainThreadHandOff;
class KeyboardView;
class MyPanel;
class StatusItem;
class SettingsStore;
class StartAtLogin;
class UniversalAccess;
class UpdateController;
class SingleInstance;
class TitleStrip;
class TrackingView;

// Ties the program together: the application's delegate, the panel's window
// delegate, the key delegate of every key control and the target of the menus.
class AppController : public QObject, public KeyDelegate {
    Q_OBJECT
public:
    // The services the controller reaches the system through; the defaults
    // are the real ones, tests put their own in.
    struct Environment {
        // Makes the backend that posts keys; the default opens the one the
        // "InputBackend" setting chooses.
        std::function<std::unique_ptr<input::InputBackend>()> makeBackend;
        // What the input backend lacks to post and watch; the default asks
        // the chosen backend's system.
        std::function<InputAccessLack()> accessProbe;
        // Whether a tray host is there to show the status item; the default
        // asks the desktop.
        std::function<bool()> trayAvailable;
    };

    // Registers the settings' defaults; runs once per launch before any
    // controller exists.
    static void initialize(Defaults& defaults);

    explicit AppController(Defaults& defaults, Environment environment = {},
                           QObject* parent = nullptr);
    ~AppController() override;

    // The two halves of the start-up, in this order.
    void awakeFromNib();
    void applicationDidFinishLaunching();

    // The steps the start-up has taken so far, by name, in order.
    const QStringList& launchSteps() const { return _launchSteps; }

    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationWillTerminate();

    void hide();
    void unhide();
    bool isHidden() const { return _hidden; }
    void showAbout();

    bool windowShouldClose();
    void windowWillMiniaturize();
    void windowDidDeminiaturize();

    // Beeps, hides the panel, shows the critical "Orvix Error" alert with the
    // message and quits once it is dismissed. Safe to call from any thread.
    void _quitWithError(const QString& message);

    // Key delegate: a key control was clicked.
    void keyPressed(KeyControl* key) override;
    void keyReleased(KeyControl* key) override;

    // Menus and the status item.
    void _updateSoundsMenu();
    void _updateThemesMenu();
    void _updateStatusItem();
    void soundSelectionChanged(QObject* sender);
    void themeSelectionChanged(QObject* sender);
    void menuItemClicked();
    void showStatusItemMenu();
    void titleBarExtrasClicked();
    void showPreferences();
    void showLoginItems();

    // Platform services.
    StartAtLogin* startAtLogin() const { return _startAtLogin; }
    UniversalAccess* universalAccess() const { return _universalAccess; }
    UpdateController* updateController() const { return _updateController; }
    EventTapThread* eventTapThread() const { return _tapThread.get(); }

    MyPanel* keyboardWindow() const { return _keyboardWindow; }
    KeyboardView* keyboardView() const { return _keyboardView; }
    KeyInput* keyInput() const { return _keyInput.get(); }
    input::InputBackend* inputBackend() const { return _backend.get(); }
    QMenu* gearMenu() const { return _gearMenu; }
    QMenu* themesMenu() const { return _themesMenu; }
    QMenu* soundsMenu() const { return _soundsMenu; }
    StatusItem* statusItem() const { return _statusItem; }
    PreferencesWindow* preferencesWindow() const { return _preferences; }
    TrackingView* trackingView() const { return _trackingView; }
    QMessageBox* aboutPanel() const { return _aboutPanel; }

    // Copied from the settings once at launch; read by the event tap.
    static std::atomic<bool> modifyKeyEvents;
    static std::atomic<bool> modifyMouseEvents;

    // The panel's fade-in and hover fades last this long.
    static constexpr int kFadeMs = 250;

private:
    void step(const char* name) { _launchSteps << QString::fromLatin1(name); }
    void _checkForDuplicateProcesses();
    void _restoreMiniaturizedPanel();
    bool _trayAvailable() const;
    void _setUpPanel();
    void _restorePanelFrame();
    void _savePanelFrame();
    void _buildKeyControls();
    void _buildMenus();
    void _createEventSource();
    void _createEventTap();
    // Tells the user once what the chosen input backend cannot do here.
    void _noteInputLimitation();
    void _updateRestingModifiers();
    void _prepareKeyLooks();
    void _startKeyClickPath();
    void _whenPanelAppears(std::function<void()> work);
    void _panelDidAppear();
    void observeValueForKeyPath(const QString& key);

    Defaults& _defaults;
    Environment _environment;
    std::unique_ptr<SettingsStore> _store;
    StartAtLogin* _startAtLogin = nullptr;
    UniversalAccess* _universalAccess = nullptr;
    UpdateController* _updateController = nullptr;
    QAction* _startAtLoginItem = nullptr;
    QStringList _launchSteps;
    MyPanel* _keyboardWindow = nullptr;
    KeyboardView* _keyboardView = nullptr;
    KeyClickPath* _clickPath = nullptr;
    // The key whose press was posted ahead of its key control's handling.
    KeyControl* _typedAhead = nullptr;
    std::unique_ptr<input::InputBackend> _backend;
    std::function<InputAccessLack()> _backendAccessProbe;
    InputLimitation _inputLimitation = InputLimitation::None;
    std::unique_ptr<KeyInput> _keyInput;
    std::unique_ptr<MainThreadHandOff> _handOff;
    std::unique_ptr<EventTapHandler> _tapHandler;
    std::unique_ptr<EventTapThread> _tapThread;
    bool _pointerOverPanel = false;
    QTimer _lookPreparation;
    int _nextKeyToPrepare = 0;
    // Launch work that would only delay the panel's first frame waits for it.
    std::vector<std::function<void()>> _afterFirstFrame;
    bool _panelAppeared = false;
    QTimer _appearanceFallback;
    QMenu* _gearMenu = nullptr;
    QMenu* _themesMenu = nullptr;
    QMenu* _soundsMenu = nullptr;
    StatusItem* _statusItem = nullptr;
    QPointer<PreferencesWindow> _preferences;
    TrackingView* _trackingView = nullptr;
    SingleInstance* _singleInstance = nullptr;
    QPointer<QMessageBox> _aboutPanel;
    QList<QPointer<QWidget>> _hiddenWindows;
    QTimer _frameSaveTimer;
    bool _hidden = false;
    bool _quitting = false;
    bool _duplicate = false; // another copy runs: this one only asks it to reopen
};

} // namespace orvix
