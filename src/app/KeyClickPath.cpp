#include "app/KeyClickPath.h"

#include "os/Log.h"
#include "os/X11ClickWatch.h"
#include "os/X11Window.h"
#include "render/KeyControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDevice>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QWidget>
#include <sched.h>

namespace orvix {

namespace {

// X server times wrap after 49 days: compare them as a distance.
bool earlier(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}

} // namespace

KeyClickPath::KeyClickPath(QWidget* panel, const QList<KeyControl*>& keys, QObject* parent)
    : QObject(parent), _panel(panel) {
    for (KeyControl* key : keys)
        key->installEventFilter(this);
}

KeyClickPath::~KeyClickPath() {
    // The notifier goes before the socket it watches.
    delete _notifier;
}

bool KeyClickPath::start() {
    if (!_panel || _watch)
        return _watch != nullptr;
    const std::string display = x11::displayName();
    if (display.empty())
        return false;
    _watch = x11::ClickWatch::open(display, static_cast<unsigned long>(_panel->winId()));
    if (!_watch) {
        Log::write("Clicks on keys go through the toolkit: the display lacks XInput 2.2");
        return false;
    }
    _notifier = new QSocketNotifier(_watch->descriptor(), QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &KeyClickPath::readClicks);
    _panel->installEventFilter(this);
    // The selection's round trip may have queued events the socket no longer shows.
    readClicks();
    return true;
}

void KeyClickPath::readClicks() {
    if (!_watch || _reading)
        return;
    _reading = true;
    x11::ClickWatch::Event event;
    while (_watch->next(event)) {
        if (event.kind == x11::ClickWatch::Event::Press)
            press(event.time, event.onWindow, QPointF(event.x, event.y));
        else
            release(event.time);
    }
    _reading = false;
}

void KeyClickPath::press(uint32_t time, bool onPanel, QPointF at) {
    _lastSeenPress = time;
    // A release that never came here: the key lets go before the next press.
    if (_down)
        release(time);
    if (!onPanel || !_panel || !_panel->isVisible() || QApplication::activePopupWidget())
        return;
    // A modal window keeps clicks from the panel, as the toolkit would.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != _panel)
        return;
    // A top-level's geometry is on the screen: no need to ask the window system.
    at = at / _panel->devicePixelRatioF() - _panel->geometry().topLeft();
    auto* key = qobject_cast<KeyControl*>(_panel->childAt(at.toPoint()));
    if (!key || !key->isEnabled())
        return;
    _takenTimes.push_back(time);
    if (_takenTimes.size() > 32)
        _takenTimes.pop_front();
    _key = key;
    _pressedAt = at;
    _down = true;
    _downTime = time;
    // As the key will decide: a latched toggling key's press only marks its release.
    const bool typeAhead = _typeAhead && !key->toggles() && !KeyControl::releasePending();
    if (typeAhead) {
        _typeAhead(key);
        // The X server is still delivering this press (to the toolkit, to the
        // window manager's grab) and only then reads the key just posted; it
        // often waits for this CPU. Letting it run first takes about a tenth
        // off a click; the key's look and sound follow a moment later.
        sched_yield();
    }
    deliver(key, true, at, time);
    if (typeAhead)
        _typeAhead(nullptr);
}

void KeyClickPath::release(uint32_t time) {
    if (!_down)
        return;
    _down = false;
    if (KeyControl* key = _key)
        deliver(key, false, _pressedAt, time);
    _key = nullptr;
}

void KeyClickPath::deliver(KeyControl* key, bool down, QPointF inPanel, uint32_t time) {
    QMouseEvent event(down ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease,
                      key->mapFrom(_panel.data(), inPanel), inPanel, _panel->mapToGlobal(inPanel),
                      Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton,
                      QGuiApplication::keyboardModifiers());
    event.setTimestamp(time);
    QCoreApplication::sendEvent(key, &event);
}

bool KeyClickPath::seenPressAt(uint32_t time) const {
    return _lastSeenPress && !earlier(*_lastSeenPress, time);
}

template <typename Done> void KeyClickPath::catchUp(Done done) {
    readClicks();
    if (done())
        return;
    QElapsedTimer waited;
    waited.start();
    for (qint64 left = kCatchUpMs; left > 0 && !done(); left = kCatchUpMs - waited.elapsed()) {
        if (_watch->wait(static_cast<int>(left)))
            readClicks();
    }
}

bool KeyClickPath::toolkitPress(uint32_t time) {
    // X sends the press to both connections at once: this one has it, or
    // will in a moment.
    catchUp([&] { return seenPressAt(time); });
    while (!_takenTimes.empty() && earlier(_takenTimes.front(), time))
        _takenTimes.pop_front();
    if (!_takenTimes.empty() && _takenTimes.front() == time) {
        _takenTimes.pop_front();
        return true;
    }
    // Not a press handed on here: it was not sure to reach the panel, or
    // the key under it was not found. The toolkit handles it as before.
    if (_down)
        release(time);
    return false;
}

bool KeyClickPath::toolkitRelease(uint32_t time, QPointF globalPosition) {
    if (!_toolkitCopyIsOurs)
        return false;
    _toolkitCopyIsOurs = false;
    if (_down && _downTime == _toolkitPressTime) {
        catchUp([&] { return !_down || _downTime != _toolkitPressTime; });
        // No raw release came: this copy ends the click.
        if (_down && _downTime == _toolkitPressTime)
            release(time);
    }
    // The copy tells where the pointer is, so the next press on the same spot
    // can be taken early.
    const QPointF onScreen = globalPosition * _panel->devicePixelRatioF();
    _watch->pointerAt(onScreen.x(), onScreen.y(), time);
    return true;
}

bool KeyClickPath::eventFilter(QObject* watched, QEvent* event) {
    if (!_watch)
        return false;
    const QEvent::Type type = event->type();
    if (type == QEvent::WinIdChange && watched == _panel) {
        _watch->watch(static_cast<unsigned long>(_panel->winId()));
        readClicks();
        return false;
    }
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
         type != QEvent::MouseButtonRelease) ||
        !event->spontaneous() || watched == _panel)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const auto time = static_cast<uint32_t>(mouse->timestamp());
    bool swallow = false;
    // A touch's press has no raw button event to wait for.
    const bool fromMouse =
        !mouse->device() || mouse->device()->type() == QInputDevice::DeviceType::Mouse;
    if (type != QEvent::MouseButtonRelease && !fromMouse) {
        _toolkitPressTime = time;
        _toolkitCopyIsOurs = false;
    } else if (type != QEvent::MouseButtonRelease) {
        // The second press of a double click comes as a double click alone.
        swallow = toolkitPress(time);
        _toolkitPressTime = time;
        _toolkitCopyIsOurs = swallow;
    } else {
        swallow = toolkitRelease(time, mouse->globalPosition());
    }
    if (swallow)
        event->accept();
    return swallow;
}

} // namespace orvix
