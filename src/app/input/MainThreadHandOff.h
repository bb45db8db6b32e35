#pragma once

#include "app/input/EventTapHandler.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>

namespace orvix {

// Hands the tap's work to the main thread through the Qt event loop: key
// presses queued without waiting, held-modifier updates queued and waited for.
//
// The wait has a limit. When the main thread does not answer in time the
// tap is told (timedOut() answers true once), so it can disable itself and
// report the time-out, as a tap stuck on a slow receiver must.
class MainThreadHandOff : public EventTapHandler::MainThread {
public:
    // `context` lives on the main thread; calls are dropped once it is gone.
    MainThreadHandOff(QObject* context, KeyInput& input,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(1000));

    void performKeyDown(int32_t code) override;
    void performKeyRelease(int32_t code) override;
    void performUpdateHeldModifiersAndWait() override;

    // True (once) when the last wait ran out.
    bool takeTimedOut();

private:
    QPointer<QObject> _context;
    KeyInput& _input;
    std::chrono::milliseconds _limit;
    std::atomic<bool> _timedOut{false};
};

} // namespace orvix
