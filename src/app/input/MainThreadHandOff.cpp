#include "app/input/MainThreadHandOff.h"

#include <QThread>
#include <future>
#include <memory>

namespace orvix {

MainThreadHandOff::MainThreadHandOff(QObject* context, KeyInput& input,
                                     std::chrono::milliseconds limit)
    : _context(context), _input(input), _limit(limit) {}

void MainThreadHandOff::performKeyDown(int32_t code) {
    KeyInput* input = &_input;
    QMetaObject::invokeMethod(
        _context, [input, code] { input->_keyDown(code); }, Qt::QueuedConnection);
}

void MainThreadHandOff::performKeyRelease(int32_t code) {
    KeyInput* input = &_input;
    QMetaObject::invokeMethod(
        _context, [input, code] { input->_keyRelease(code); }, Qt::QueuedConnection);
}

void MainThreadHandOff::performUpdateHeldModifiersAndWait() {
    QObject* context = _context;
    if (!context)
        return;
    if (QThread::currentThread() == context->thread()) {
        _input._updateHeldModifiers();
        return;
    }
    // The promise outlives a wait that ran out: the call still runs later.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    KeyInput* input = &_input;
    const uint64_t held = input->heldFlags();
    QMetaObject::invokeMethod(
        context,
        [input, done, held] {
            input->_updateHeldModifiers(held);
            done->set_value();
        },
        Qt::QueuedConnection);
    if (finished.wait_for(_limit) != std::future_status::ready)
        _timedOut.store(true);
}

bool MainThreadHandOff::takeTimedOut() {
    return _timedOut.exchange(false);
}

} // namespace orvix
