#include "sound/SinkHolder.h"

#include <cstdint>
#include <dlfcn.h>

namespace orvix {
namespace {

// The parts of libpulse's stable C interface used here (protocol 8 and later).
struct SampleSpec {
    int format;
    uint32_t rate;
    uint8_t channels;
};
struct BufferAttr {
    uint32_t maxlength, tlength, prebuf, minreq, fragsize;
};
constexpr int kSampleS16LE = 3;
constexpr int kContextNoAutospawn = 1;
// Contexts and streams both end in "failed" and then "terminated", their
// last two states: a state from "failed" on is an end.
constexpr int kContextReady = 4, kContextFailed = 5;
constexpr int kStreamReady = 2, kStreamFailed = 3;
constexpr int kStreamNoFlags = 0;

} // namespace

struct SinkHolder::Api {
    void* (*loopNew)();
    void (*loopFree)(void*);
    int (*loopStart)(void*);
    void (*loopStop)(void*);
    void (*loopLock)(void*);
    void (*loopUnlock)(void*);
    void (*loopWait)(void*);
    void (*loopSignal)(void*, int);
    void* (*loopApi)(void*);
    void* (*contextNew)(void*, const char*);
    void (*contextSetStateCallback)(void*, void (*)(void*, void*), void*);
    int (*contextConnect)(void*, const char*, int, const void*);
    int (*contextState)(void*);
    void (*contextDisconnect)(void*);
    void (*contextUnref)(void*);
    void* (*streamNew)(void*, const char*, const SampleSpec*, const void*);
    void (*streamSetStateCallback)(void*, void (*)(void*, void*), void*);
    int (*streamConnectPlayback)(void*, const char*, const BufferAttr*, int, const void*, void*);
    int (*streamState)(void*);
    int (*streamDisconnect)(void*);
    void (*streamUnref)(void*);
};

const SinkHolder::Api* SinkHolder::api() {
    static const Api* loaded = []() -> const Api* {
        void* lib = ::dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return nullptr;
        static Api a;
        bool all = true;
        const auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
            all = all && fn;
        };
        get(a.loopNew, "pa_threaded_mainloop_new");
        get(a.loopFree, "pa_threaded_mainloop_free");
        get(a.loopStart, "pa_threaded_mainloop_start");
        get(a.loopStop, "pa_threaded_mainloop_stop");
        get(a.loopLock, "pa_threaded_mainloop_lock");
        get(a.loopUnlock, "pa_threaded_mainloop_unlock");
        get(a.loopWait, "pa_threaded_mainloop_wait");
        get(a.loopSignal, "pa_threaded_mainloop_signal");
        get(a.loopApi, "pa_threaded_mainloop_get_api");
        get(a.contextNew, "pa_context_new");
        get(a.contextSetStateCallback, "pa_context_set_state_callback");
        get(a.contextConnect, "pa_context_connect");
        get(a.contextState, "pa_context_get_state");
        get(a.contextDisconnect, "pa_context_disconnect");
        get(a.contextUnref, "pa_context_unref");
        get(a.streamNew, "pa_stream_new");
        get(a.streamSetStateCallback, "pa_stream_set_state_callback");
        get(a.streamConnectPlayback, "pa_stream_connect_playback");
        get(a.streamState, "pa_stream_get_state");
        get(a.streamDisconnect, "pa_stream_disconnect");
        get(a.streamUnref, "pa_stream_unref");
        return all ? &a : nullptr;
    }();
    return loaded;
}

void SinkHolder::stateChanged(int state, int failed) {
    if (state >= failed)
        _lost = true;
    api()->loopSignal(_loop, 0);
}

bool SinkHolder::settle(int (*stateOf)(void*), void* object, int ready, int failed) {
    int state;
    while ((state = stateOf(object)) != ready && state < failed)
        api()->loopWait(_loop);
    return state == ready;
}

SinkHolder::~SinkHolder() {
    close();
}

bool SinkHolder::open() {
    close();
    const Api* pa = api();
    if (!pa || !(_loop = pa->loopNew()))
        return false;
    _lost = false;
    pa->loopLock(_loop);
    if (pa->loopStart(_loop) < 0) {
        pa->loopUnlock(_loop);
        pa->loopFree(_loop);
        _loop = nullptr;
        return false;
    }
    // Runs on the loop's thread: a dropped connection or stream is noted for
    // the next check, and whoever waits for a state change is woken.
    const auto contextChanged = [](void* context, void* self) {
        static_cast<SinkHolder*>(self)->stateChanged(api()->contextState(context), kContextFailed);
    };
    const auto streamChanged = [](void* stream, void* self) {
        static_cast<SinkHolder*>(self)->stateChanged(api()->streamState(stream), kStreamFailed);
    };

    bool ready = false;
    _context = pa->contextNew(pa->loopApi(_loop), "Orvix");
    if (_context) {
        pa->contextSetStateCallback(_context, contextChanged, this);
        ready = pa->contextConnect(_context, nullptr, kContextNoAutospawn, nullptr) >= 0 &&
                settle(pa->contextState, _context, kContextReady, kContextFailed);
    }
    if (ready) {
        const SampleSpec spec{kSampleS16LE, kRate, 2};
        _stream = pa->streamNew(_context, "Output keep-alive", &spec, nullptr);
        ready = _stream != nullptr;
    }
    if (ready) {
        // Never corked, never fed, no pre-buffering: the server plays silence
        // at once and keeps asking, once per kRequestFrames. The target
        // length leaves kLatencyFrames beyond two requests, which is the
        // latency the server then gives the stream. The server may move it,
        // so it follows the default output as the key sounds do.
        const BufferAttr attr{UINT32_MAX, (2 * kRequestFrames + kLatencyFrames) * 4, 0,
                              kRequestFrames * 4, UINT32_MAX};
        pa->streamSetStateCallback(_stream, streamChanged, this);
        ready = pa->streamConnectPlayback(_stream, nullptr, &attr, kStreamNoFlags, nullptr,
                                          nullptr) >= 0 &&
                settle(pa->streamState, _stream, kStreamReady, kStreamFailed);
    }
    pa->loopUnlock(_loop);
    _open = true; // so that close() takes down what was made
    if (!ready || _lost) {
        close();
        return false;
    }
    return true;
}

void SinkHolder::close() {
    if (!_loop)
        return;
    const Api* pa = api();
    pa->loopLock(_loop);
    if (_stream) {
        pa->streamSetStateCallback(_stream, nullptr, nullptr);
        pa->streamDisconnect(_stream);
        pa->streamUnref(_stream);
        _stream = nullptr;
    }
    if (_context) {
        pa->contextSetStateCallback(_context, nullptr, nullptr);
        pa->contextDisconnect(_context);
        pa->contextUnref(_context);
        _context = nullptr;
    }
    pa->loopUnlock(_loop);
    pa->loopStop(_loop);
    pa->loopFree(_loop);
    _loop = nullptr;
    _open = false;
}

} // namespace orvix
