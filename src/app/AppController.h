#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>

namespace orvix {

class Defaults;
class MyPanel;
class SingleInstance;
class TitleStrip;
class TrackingView;

// Ties the program together: the application's delegate, the panel's window
// delegate and (once keys exist) the key delegate of every key control.
class AppController : public QObject {
    Q_OBJECT
public:
    // Registers the settings' defaults; runs once per launch before any
    // controller exists.
    static void initialize(Defaults& defaults);

    explicit AppController(Defaults& defaults, QObject* parent = nullptr);
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

    MyPanel* keyboardWindow() const { return _keyboardWindow; }
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
    void _setUpPanel();
    void _restorePanelFrame();
    void _savePanelFrame();

    Defaults& _defaults;
    QStringList _launchSteps;
    MyPanel* _keyboardWindow = nullptr;
    TrackingView* _trackingView = nullptr;
    SingleInstance* _singleInstance = nullptr;
    QPointer<QMessageBox> _aboutPanel;
    QList<QPointer<QWidget>> _hiddenWindows;
    QTimer _frameSaveTimer;
    bool _hidden = false;
    bool _quitting = false;
};

} // namespace orvix
