#include "app/AppController.h"

#include "app/Defaults.h"
#include "app/MyPanel.h"
#include "app/Settings.h"
#include "app/TitleStrip.h"
#include "app/TrackingView.h"
#include "os/Bundle.h"
#include "os/Log.h"
#include "os/SingleInstance.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace orvix {

std::atomic<bool> AppController::modifyKeyEvents{true};
std::atomic<bool> AppController::modifyMouseEvents{false};

namespace {
// Proportions of the key layout (width by height in points, title strip
// excluded) and the panel's first width on screen.
constexpr double kLayoutWidth = 842.0;
constexpr double kLayoutHeight = 325.0;
constexpr int kInitialContentWidth = 640;
} // namespace

void AppController::initialize(Defaults& defaults) {
    settings::registerDefaults(defaults);
}

AppController::AppController(Defaults& defaults, QObject* parent)
    : QObject(parent), _defaults(defaults) {
    _frameSaveTimer.setSingleShot(true);
    _frameSaveTimer.setInterval(300);
    connect(&_frameSaveTimer, &QTimer::timeout, this, &AppController::_savePanelFrame);
}

AppController::~AppController() {
    delete _keyboardWindow;
}

void AppController::awakeFromNib() {
    _checkForDuplicateProcesses();

    // The sound theme named by "SoundTheme" is applied here once the sound
    // controller is part of the program.

    modifyKeyEvents = _defaults.boolForKey(settings::kModifyKeyEvents);
    modifyMouseEvents = _defaults.boolForKey(settings::kModifyMouseEvents);
    step("readEventModifyingFlags");

    _setUpPanel();

    // Next come, as their parts join the program: the modifier keys marked as
    // toggling keys, the sounds and themes menus with the status item.

    // The controller starts observing "ShowInMenuBar" and "CheckForUpdates"
    // here, with the status item and the updater.

    // The event source for posted keys is created here with the input backend.
}

void AppController::applicationDidFinishLaunching() {
    // In order, as their parts join the program: the accessibility check, the
    // crash reporter's check, the move offer, then (unless both answered true)
    // the feedback prompt and the launch update check, the start-at-login
    // state, and the event-tap thread.

    _keyboardWindow->show();
    _keyboardWindow->raise();
    step("orderFront");

    _trackingView->animateAlphaTo(
        settings::transparency(_defaults, settings::kInactiveTransparency));
    step("fadeIn");

    // The 30-second accessibility timer is scheduled here with the check.
}

void AppController::_checkForDuplicateProcesses() {
    step("checkForDuplicateProcesses");
    _singleInstance = new SingleInstance(Bundle::identifier(), this);
    connect(_singleInstance, &SingleInstance::reopenRequested, this,
            [this] { applicationShouldHandleReopen(!_hidden); });
    if (_singleInstance->claim() == SingleInstance::Outcome::Duplicate) {
        Log::write("Found another %s process; sent 'reopen' and will quit instead.",
                   qUtf8Printable(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
        // Queued: the rest of the launch runs first, the quit takes effect
        // once the event loop starts.
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void AppController::_setUpPanel() {
    _keyboardWindow = new MyPanel();
    _keyboardWindow->setContentAspectRatio({kLayoutWidth, kLayoutHeight});
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
        _keyboardWindow->showMinimized();
    });
    connect(_keyboardWindow, &MyPanel::deminiaturized, this,
            &AppController::windowDidDeminiaturize);
    step("setUpPanel");
    // The key controls are built into the panel's content view here.
}

void AppController::_restorePanelFrame() {
    const int stripHeight = MyPanel::titleBarHeight();
    const QSize initial(kInitialContentWidth,
                        qRound(kInitialContentWidth * kLayoutHeight / kLayoutWidth) + stripHeight);
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
    _keyboardWindow->raise();
    _trackingView->animateAlphaTo(settings::transparency(_defaults, settings::kActiveTransparency));
    return true;
}

void AppController::applicationWillTerminate() {
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
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            _hiddenWindows << window;
            window->hide();
        }
    }
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
    if (_defaults.boolForKey(settings::kShowInMenuBar))
        hide();
    else
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    return false;
}

void AppController::windowWillMiniaturize() {
    _trackingView->setAlphaNow(1.0);
    // With the sound theme "Off" the event tap is disabled here, once it exists.
}

void AppController::windowDidDeminiaturize() {
    // The event tap is enabled again here, once it exists.
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
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace orvix
