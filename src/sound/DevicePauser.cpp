#include "sound/DevicePauser.h"

#include "os/Log.h"

#include <AL/alc.h>
#include <algorithm>
#include <system_error>

namespace orvix {

DevicePauser::~DevicePauser() {
    stop();
}

bool DevicePauser::start(ALCdevice_struct* device, DeviceCall pause, DeviceCall resume) {
    stop();
    {
        std::lock_guard lock(_mutex);
        _device = device;
        _pause = pause;
        _resume = resume;
        _wantPaused = _isPaused = _failed = _quit = _idlePause = false;
        _busyUntil = {};
    }
    try {
        _thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void DevicePauser::stop() {
    if (!_thread.joinable())
        return;
    {
        std::lock_guard lock(_mutex);
        _quit = true;
    }
    _changed.notify_all();
    _thread.join();
}

void DevicePauser::requestPause() {
    {
        std::lock_guard lock(_mutex);
        if (_wantPaused || _failed || !_thread.joinable())
            return;
        _wantPaused = true;
    }
    _changed.notify_all();
}

void DevicePauser::requestResume(Clock::time_point busyUntil) {
    // Called on every key press: only a change of wish wakes the thread, and
    // it is woken after the lock is let go so it need not wait for it. A
    // later end of sound is only noted; the thread finds it when it looks.
    {
        std::lock_guard lock(_mutex);
        _busyUntil = std::max(_busyUntil, busyUntil);
        if (!_wantPaused)
            return;
        _wantPaused = false;
    }
    _changed.notify_all();
}

void DevicePauser::setIdlePause(bool enabled) {
    {
        std::lock_guard lock(_mutex);
        if (_idlePause == enabled)
            return;
        _idlePause = enabled;
    }
    _changed.notify_all();
}

bool DevicePauser::paused() const {
    std::lock_guard lock(_mutex);
    return _isPaused && _wantPaused;
}

bool DevicePauser::failed() const {
    std::lock_guard lock(_mutex);
    return _failed;
}

bool DevicePauser::waitSettled(std::chrono::milliseconds limit) const {
    std::unique_lock lock(_mutex);
    return _changed.wait_for(lock, limit,
                             [this] { return _failed || _quit || _isPaused == _wantPaused; });
}

void DevicePauser::run() {
    std::unique_lock lock(_mutex);
    for (;;) {
        if (_quit)
            return;
        if (_failed || _isPaused == _wantPaused) {
            if (!_idlePause || _failed || _wantPaused) {
                _changed.wait(lock);
                continue;
            }
            // Running, and the output is kept awake elsewhere: pause once
            // quiet. A sound asked for meanwhile moves the moment on.
            const Clock::time_point quietAt = _busyUntil + kQuietBeforePause;
            if (Clock::now() < quietAt) {
                _changed.wait_until(lock, quietAt);
                continue;
            }
            _wantPaused = true;
        }
        const bool pause = _wantPaused;
        lock.unlock();
        alcGetError(_device); // clears an error left by anyone else
        (pause ? _pause : _resume)(_device);
        const ALCenum error = alcGetError(_device);
        lock.lock();
        if (error != ALC_NO_ERROR) {
            // A failed pause leaves the device running, which is how it
            // worked before pausing existed; a failed resume is a lost device.
            _failed = true;
            Log::write("Audio output could not be %s (OpenAL error 0x%x); it stays %s",
                       pause ? "paused" : "resumed", static_cast<unsigned>(error),
                       pause ? "running" : "silent");
        } else {
            _isPaused = pause;
        }
        _changed.notify_all();
    }
}

} // namespace orvix
