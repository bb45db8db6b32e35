#pragma once

#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QWidget;

namespace orvix {

class KeyControl;

namespace x11 {
class ClickWatch;
}

// The short way from a click on a key to the posted key.
//
// The toolkit reads the window system on a thread of its own and wakes the
// main thread for each event: two wake-ups before a key is posted. Here the
// main thread reads left-button presses that surely go to the panel, and
// their releases, on an X connection of its own (x11::ClickWatch), so the
// socket wakes it directly, and hands each to the key control under the
// pointer at once, as the toolkit would: the control's own handling (looks,
// latching, the key delegate) runs unchanged. The toolkit's copies of those
// presses and releases are swallowed, so nothing happens twice; its moves
// still reach the control, which follows the pointer over its neighbours
// while the button is down.
//
// Every press and release reaches the keys in the order X sent them, whichever
// copy the main thread reads first: a toolkit copy that comes first makes the
// connection read what it has (waiting a moment if need be). A press the
// connection could not place on the panel, or one from a touch, takes the
// toolkit's way as before.
class KeyClickPath : public QObject {
    Q_OBJECT
public:
    KeyClickPath(QWidget* panel, const QList<KeyControl*>& keys, QObject* parent = nullptr);
    ~KeyClickPath() override;

    // Opens the connection and starts watching the panel; false (clicks take
    // the toolkit's way) where there is no X11 or no XInput 2.2.
    bool start();

    // Told of a plain key just before a press that types it is handed to the
    // key, and with none right after: the key can be posted before the key's
    // look and the toolkit's event handling run. Toggling keys are handed on
    // as they are: their look is part of their latching.
    using TypeAhead = std::function<void(KeyControl* key)>;
    void setTypeAhead(TypeAhead typeAhead) { _typeAhead = std::move(typeAhead); }

    // Longest the main thread waits for this connection's copy of a press or
    // release the toolkit delivered first.
    static constexpr int kCatchUpMs = 20;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void readClicks();
    // `at` on the screen, in pixels, when the press surely goes to the panel.
    void press(uint32_t time, bool onPanel, QPointF at);
    void release(uint32_t time);
    void deliver(KeyControl* key, bool down, QPointF inPanel, uint32_t time);
    bool toolkitPress(uint32_t time);
    bool toolkitRelease(uint32_t time, QPointF globalPosition);
    bool seenPressAt(uint32_t time) const;
    // Reads this connection until `done` or kCatchUpMs have passed.
    template <typename Done> void catchUp(Done done);

    QPointer<QWidget> _panel;
    TypeAhead _typeAhead;
    std::unique_ptr<x11::ClickWatch> _watch;
    QSocketNotifier* _notifier = nullptr;

    // The click in progress here: its key, where it went down, whether a
    // release will come on this connection.
    QPointer<KeyControl> _key;
    QPointF _pressedAt;
    bool _down = false;
    uint32_t _downTime = 0;
    bool _reading = false;
    // Presses handed to keys here whose toolkit copies are still to come.
    std::deque<uint32_t> _takenTimes;
    // The last press this connection read, handed on or not.
    std::optional<uint32_t> _lastSeenPress;
    // The toolkit's last press on a key: its time, and whether it was swallowed
    // (then so are its double-click and release).
    uint32_t _toolkitPressTime = 0;
    bool _toolkitCopyIsOurs = false;
};

} // namespace orvix
