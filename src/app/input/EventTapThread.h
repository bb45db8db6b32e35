#pragma once

#include "app/input/EventTapHandler.h"
#include "os/input/InputBackend.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvix {

// The event-tap thread: has the backend make its tap on this thread, with a
// connection of its own, and runs it for the life of the process (or of this object,
// which stops and joins it). When the tap cannot be made, the failure handler
// runs on that thread and the thread ends.
class EventTapThread {
public:
    using FailureHandler = std::function<void()>;

    explicit EventTapThread(EventTapHandler& handler);
    ~EventTapThread();
    EventTapThread(const EventTapThread&) = delete;
    EventTapThread& operator=(const EventTapThread&) = delete;

    // `options.callback` and `userInfo` are filled in here. The backend
    // outlives this object.
    void start(input::InputBackend& backend, input::EventTap::Options options,
               FailureHandler onFailure);

    // Main thread. Applies to the tap once it exists, too.
    void setEnabled(bool enabled);
    bool isEnabled() const { return _enabled.load(); }
    // The tap has been made and runs.
    bool isRunning() const { return _running.load(); }
    // Main thread: waits at most `limit` for the tap to listen or to fail.
    // True when it listens.
    bool waitUntilListening(std::chrono::milliseconds limit);

private:
    void _createEventTap(input::InputBackend& backend, input::EventTap::Options options,
                         FailureHandler onFailure);

    EventTapHandler& _handler;
    std::thread _thread;
    std::mutex _mutex; // guards _tap, _stopping and _settled
    std::condition_variable _settledChanged;
    input::EventTap* _tap = nullptr;
    bool _stopping = false;
    bool _settled = false; // the tap listens, or could not be made
    std::atomic<bool> _enabled{true};
    std::atomic<bool> _running{false};
};

} // namespace orvix
