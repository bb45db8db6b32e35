#pragma once

#include <atomic>

namespace orvix {

// Keeps the sound server's output awake with a playback stream that never
// carries data. The stream stays un-corked, so the server counts the sink
// as in use and never suspends it, while the mixer that plays key sounds
// may stop between them. Nothing is ever written: the server plays silence
// for it and only asks for data once per request size (85 ms), so holding
// costs about a dozen wake-ups a second instead of one per period.
//
// libpulse is loaded at run time, as OpenAL Soft's pulse backend loads it;
// without it, or without a server, nothing is held and open() says so.
class SinkHolder {
public:
    // Frames the server asks for at a time while the stream starves.
    static constexpr unsigned kRequestFrames = 4096;
    // The latency the stream asks for, as small as a key sound's stream
    // asks: a larger one would let the server stretch its cycle while the
    // keys are quiet, and the first key after a pause would wait for it.
    static constexpr unsigned kLatencyFrames = 256;
    static constexpr unsigned kRate = 48000;

    SinkHolder() = default;
    ~SinkHolder();
    SinkHolder(const SinkHolder&) = delete;
    SinkHolder& operator=(const SinkHolder&) = delete;

    // Connects and starts the stream; true once the server has it.
    bool open();
    void close();
    // True while the stream is connected and the server has not dropped it.
    bool holding() const { return _open && !_lost.load(); }

private:
    struct Api;
    static const Api* api();
    // On the loop's thread: notes a connection or stream that ended (a state
    // from `failed` on) and wakes whoever waits.
    void stateChanged(int state, int failed);
    // With the loop locked: waits until the object is `ready` or has ended.
    bool settle(int (*stateOf)(void*), void* object, int ready, int failed);

    void* _loop = nullptr;    // pa_threaded_mainloop
    void* _context = nullptr; // pa_context
    void* _stream = nullptr;  // pa_stream
    bool _open = false;
    std::atomic<bool> _lost{false};
};

} // namespace orvix
