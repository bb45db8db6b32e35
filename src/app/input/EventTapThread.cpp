#include "app/input/EventTapThread.h"

namespace orvix {

using namespace input;

EventTapThread::EventTapThread(EventTapHandler& handler) : _handler(handler) {}

EventTapThread::~EventTapThread() {
    {
        std::lock_guard lock(_mutex);
        _stopping = true;
        if (_tap)
            _tap->stop();
    }
    if (_thread.joinable())
        _thread.join();
}

void EventTapThread::start(InputBackend& backend, EventTap::Options options,
                           FailureHandler onFailure) {
    options.callback = &EventTapHandler::callback;
    options.userInfo = &_handler;
    _thread = std::thread(
        [this, &backend, options, onFailure] { _createEventTap(backend, options, onFailure); });
}

void EventTapThread::_createEventTap(InputBackend& backend, EventTap::Options options,
                                     FailureHandler onFailure) {
    std::unique_ptr<EventTap> tap = backend.createEventTap(options);
    bool runs = false;
    {
        // Made or not, the tap is settled: whoever waits for it may go on.
        std::lock_guard lock(_mutex);
        _settled = true;
        _settledChanged.notify_all();
        if (tap && !_stopping) {
            tap->setEnabled(_enabled.load());
            _tap = tap.get();
            runs = true;
        }
    }
    if (!tap) {
        if (onFailure)
            onFailure();
        return;
    }
    if (!runs)
        return; // stopped before it could run
    _running.store(true);
    tap->run();
    _running.store(false);
    std::lock_guard lock(_mutex);
    _tap = nullptr;
}

bool EventTapThread::waitUntilListening(std::chrono::milliseconds limit) {
    std::unique_lock lock(_mutex);
    _settledChanged.wait_for(lock, limit, [this] { return _settled; });
    return _tap != nullptr;
}

void EventTapThread::setEnabled(bool enabled) {
    std::lock_guard lock(_mutex);
    _enabled.store(enabled);
    if (_tap)
        _tap->setEnabled(enabled);
}

} // namespace orvix
