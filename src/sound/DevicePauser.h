#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct ALCdevice_struct;

namespace orvix {

// Pauses and resumes an OpenAL Soft playback device (ALC_SOFT_pause_device)
// on a thread of its own. Either call can wait on the backend - joining its
// mixer thread, a round trip to the sound server - and the thread that plays
// key sounds must not wait for that. Requests never block on the device; the
// latest one wins, so a resume asked for while a pause is under way undoes it.
//
// With idle pausing on (something else keeps the output awake), the thread
// also pauses the device itself once the last sound asked for has ended and
// kQuietBeforePause has passed, so the mixer does not run between keys.
class DevicePauser {
public:
    using DeviceCall = void (*)(ALCdevice_struct*);
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kQuietBeforePause{2000};

    DevicePauser() = default;
    ~DevicePauser();
    DevicePauser(const DevicePauser&) = delete;
    DevicePauser& operator=(const DevicePauser&) = delete;

    // Takes charge of `device`, which is running. False if the thread could
    // not start; the device then simply keeps running.
    bool start(ALCdevice_struct* device, DeviceCall pause, DeviceCall resume);
    // Ends the thread once its current call is done; the device stays in
    // whatever state that call left it, ready to be closed.
    void stop();
    bool isActive() const { return _thread.joinable(); }

    void requestPause();
    // Resumes the device and keeps it running at least until `busyUntil`.
    void requestResume(Clock::time_point busyUntil);
    void setIdlePause(bool enabled);

    // True while the device is paused and no resume is pending.
    bool paused() const;
    // True once a pause or resume reported an error; no request is carried
    // out after that, and a failed pause leaves the device running.
    bool failed() const;
    // Waits until the device is in the requested state (or a call failed).
    bool waitSettled(std::chrono::milliseconds limit) const;

private:
    void run();

    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    std::thread _thread;
    ALCdevice_struct* _device = nullptr;
    DeviceCall _pause = nullptr;
    DeviceCall _resume = nullptr;
    bool _idlePause = false;
    Clock::time_point _busyUntil;
    bool _wantPaused = false;
    bool _isPaused = false;
    bool _failed = false;
    bool _quit = false;
};

} // namespace orvix
