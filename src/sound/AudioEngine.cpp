#include "sound/AudioEngine.h"

#include "os/Log.h"
#include "sound/TemporaryFolder.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvix {
namespace {

// Reads the whole file as 16-bit samples, mono or stereo. Returns a status.
int32_t decodeFile(const QString& path, std::vector<int16_t>& samples, int& channels, int& rate) {
    const QByteArray native = QFile::encodeName(path);
    // Only regular files: a FIFO or a device named in a theme must not block or stream forever.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return AudioEngine::kFileNotFound;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return AudioEngine::kInvalidFile;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!file)
        return AudioEngine::kUnsupportedFileType;
    int32_t status = AudioEngine::kNoError;
    if (info.channels < 1 || info.channels > 64 || info.samplerate < 1000 ||
        info.samplerate > 384000) {
        status = AudioEngine::kInvalidFile;
    } else {
        const int in = info.channels;
        channels = in <= 2 ? in : 1;
        rate = info.samplerate;
        std::vector<int16_t> chunk(static_cast<size_t>(4096) * in);
        for (;;) {
            const sf_count_t got = sf_readf_short(file, chunk.data(), 4096);
            if (got <= 0)
                break;
            if (static_cast<int64_t>(samples.size()) + got * channels > AudioEngine::kMaxSamples) {
                status = AudioEngine::kInvalidFile;
                break;
            }
            if (in <= 2) {
                samples.insert(samples.end(), chunk.begin(), chunk.begin() + got * in);
            } else {
                for (sf_count_t f = 0; f < got; ++f) {
                    int sum = 0;
                    for (int c = 0; c < in; ++c)
                        sum += chunk[static_cast<size_t>(f * in + c)];
                    samples.push_back(static_cast<int16_t>(sum / in));
                }
            }
        }
        if (status == AudioEngine::kNoError &&
            (sf_error(file) != SF_ERR_NO_ERROR || samples.empty()))
            status = AudioEngine::kInvalidFile;
    }
    sf_close(file);
    return status;
}

} // namespace

AudioEngine& AudioEngine::sharedInstance() {
    // Lives until the process ends; shutdown() releases the device at exit.
    static AudioEngine* engine = new AudioEngine;
    return *engine;
}

namespace {
std::atomic<SystemSoundService*> g_service{nullptr};
} // namespace

SystemSoundService& SystemSoundService::shared() {
    SystemSoundService* service = g_service.load();
    return service ? *service : AudioEngine::sharedInstance();
}

SystemSoundService* SystemSoundService::install(SystemSoundService* service) {
    return g_service.exchange(service);
}

QByteArray AudioEngine::writeLibraryConfig() {
    // OpenAL Soft takes its period size and count, and whether the sound
    // server may move its stream to another output, only from configuration
    // files, read once when the library starts. Unless the user points it at
    // a file of their own, hand it a private one for that first read.
    if (qEnvironmentVariableIsSet("ALSOFT_CONF"))
        return {};
    const QString folder = TemporaryFolder::path();
    if (folder.isEmpty())
        return {};
    const QByteArray path = QFile::encodeName(folder) + '/' + TemporaryFolder::kLibraryConfigName;
    const int fd =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return {};
    // allow-moves: when the user picks another output, or plugs in
    // headphones, the server moves the stream there and key sounds follow.
    const QByteArray text = "[general]\nperiod_size = " + QByteArray::number(kPeriodFrames) +
                            "\nperiods = " + QByteArray::number(kPeriods) +
                            "\n[pulse]\nallow-moves = true\n";
    const bool written = ::write(fd, text.constData(), static_cast<size_t>(text.size())) ==
                         static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) {
        ::unlink(path.constData());
        return {};
    }
    qputenv("ALSOFT_CONF", path);
    _periodsConfigured = kPeriods;
    return path;
}

bool AudioEngine::openOutputLocked() {
    if (_shutDown || _loopback)
        return false;
    QByteArray config;
    if (!_libraryConfigured) {
        _libraryConfigured = true;
        config = writeLibraryConfig();
    }
    _device = alcOpenDevice(nullptr);
    if (!config.isEmpty()) {
        // The library has read it; nothing else needs the file.
        ::unlink(config.constData());
        qunsetenv("ALSOFT_CONF");
    }
    if (!_device)
        return false;
    _context = alcCreateContext(_device, nullptr);
    if (!_context || !alcMakeContextCurrent(_context)) {
        if (_context)
            alcDestroyContext(_context);
        alcCloseDevice(_device);
        _context = nullptr;
        _device = nullptr;
        return false;
    }
    _canTellDisconnect = alcIsExtensionPresent(_device, "ALC_EXT_disconnect");
    // OpenAL Soft's file writer and silent output reach no sound server.
    const QByteArray name = alcGetString(_device, ALC_DEVICE_SPECIFIER);
    _holderWanted = name != "Wave File Writer" && name != "No Output";
    finishOpeningLocked();
    _lastHolderTry = {};
    holdSinkLocked();
    return true;
}

void AudioEngine::holdSinkLocked() {
    if (!_holderWanted || !_held || _holder.holding() || !_pauser.isActive())
        return;
    // A server that refused a moment ago is not asked again on every key.
    const auto now = std::chrono::steady_clock::now();
    if (_lastHolderTry != std::chrono::steady_clock::time_point{} &&
        now - _lastHolderTry < std::chrono::milliseconds(kRetryMs))
        return;
    _lastHolderTry = now;
    const bool holding = _holder.open();
    // Counted from now, so a device just opened for a key is not paused
    // under it.
    _pauser.requestResume(now);
    _pauser.setIdlePause(holding);
}

void AudioEngine::finishOpeningLocked() {
    _voices.assign(kVoices, 0);
    alGetError();
    alGenSources(kVoices, _voices.data());
    if (alGetError() != AL_NO_ERROR)
        _voices.clear();
    for (unsigned voice : _voices) {
        alSourcei(voice, AL_SOURCE_RELATIVE, AL_TRUE);
        alSource3f(voice, AL_POSITION, 0, 0, 0);
    }
    _voiceSound.assign(_voices.size(), 0);
    _nextVoice = 0;
    for (auto& [id, record] : _sounds)
        loadBufferLocked(record);
    startPausingLocked();
    if (!_exitHandlerInstalled) {
        _exitHandlerInstalled = true;
        std::atexit([] { AudioEngine::sharedInstance().shutdown(); });
    }
}

void AudioEngine::startPausingLocked() {
    // The loopback mixes only when asked to, so it has nothing to pause.
    if (_loopback || !alcIsExtensionPresent(_device, "ALC_SOFT_pause_device"))
        return;
    auto pause =
        reinterpret_cast<LPALCDEVICEPAUSESOFT>(alcGetProcAddress(_device, "alcDevicePauseSOFT"));
    auto resume =
        reinterpret_cast<LPALCDEVICERESUMESOFT>(alcGetProcAddress(_device, "alcDeviceResumeSOFT"));
    if (!pause || !resume)
        return;
    if (!_pauser.start(_device, pause, resume))
        Log::write("No thread to pause the audio output; it keeps running across sleep");
}

void AudioEngine::closeOutputLocked() {
    if (!_device)
        return;
    // Closing works on a paused device as on a running one; only the thread
    // that pauses it has to be gone first.
    _pauser.stop();
    _holder.close();
    if (!_voices.empty()) {
        for (unsigned voice : _voices)
            alSourceStop(voice);
        alDeleteSources(static_cast<ALsizei>(_voices.size()), _voices.data());
    }
    _voices.clear();
    _voiceSound.clear();
    for (auto& [id, record] : _sounds) {
        if (record.buffer)
            alDeleteBuffers(1, &record.buffer);
        record.buffer = 0;
    }
    alcMakeContextCurrent(nullptr);
    if (_context)
        alcDestroyContext(_context);
    alcCloseDevice(_device);
    _context = nullptr;
    _device = nullptr;
}

bool AudioEngine::outputUsableLocked() {
    if (_loopback)
        return _context != nullptr;
    if (_shutDown)
        return false;
    if (_device) {
        ALCint connected = ALC_TRUE;
        if (_canTellDisconnect)
            alcGetIntegerv(_device, ALC_CONNECTED, 1, &connected);
        if (connected) {
            holdSinkLocked();
            return true;
        }
        if (!_lostLogged)
            Log::write("Audio output lost; reconnecting");
        _lostLogged = true;
        closeOutputLocked();
        _openFailed = false; // try again at once
    }
    const auto now = std::chrono::steady_clock::now();
    if (_openFailed && now - _lastFailedOpen < std::chrono::milliseconds(kRetryMs))
        return false;
    if (!openOutputLocked()) {
        _openFailed = true;
        _lastFailedOpen = now;
        if (!_failureLogged && !_lostLogged)
            Log::write("No audio output: typing sounds are silent until one is available");
        _failureLogged = true;
        return false;
    }
    if (_openFailed || _lostLogged)
        Log::write("Audio output back on %s", alcGetString(_device, ALC_DEVICE_SPECIFIER));
    _openFailed = _lostLogged = _failureLogged = false;
    return true;
}

bool AudioEngine::loadBufferLocked(SoundRecord& record) {
    if (record.buffer)
        return true;
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    alBufferData(buffer, record.channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16,
                 record.samples.data(),
                 static_cast<ALsizei>(record.samples.size() * sizeof(int16_t)), record.rate);
    if (alGetError() != AL_NO_ERROR) {
        if (buffer)
            alDeleteBuffers(1, &buffer);
        return false;
    }
    record.buffer = buffer;
    return true;
}

bool AudioEngine::outputOpen() {
    std::lock_guard lock(_mutex);
    return _device != nullptr;
}

bool AudioEngine::outputPaused() {
    std::lock_guard lock(_mutex);
    return _pauser.isActive() && _pauser.paused();
}

bool AudioEngine::waitForOutput(std::chrono::milliseconds limit) {
    // Without the engine's lock: plays go on while the device settles.
    return _pauser.waitSettled(limit);
}

int64_t AudioEngine::deviceClockNs() {
    std::lock_guard lock(_mutex);
    if (!_device || !alcIsExtensionPresent(_device, "ALC_SOFT_device_clock"))
        return -1;
    auto getInteger64 = reinterpret_cast<LPALCGETINTEGER64VSOFT>(
        alcGetProcAddress(_device, "alcGetInteger64vSOFT"));
    if (!getInteger64)
        return -1;
    ALCint64SOFT clock = 0;
    getInteger64(_device, ALC_DEVICE_CLOCK_SOFT, 1, &clock);
    return clock;
}

void AudioEngine::shutdown() {
    std::lock_guard lock(_mutex);
    _shutDown = true;
    closeOutputLocked();
    _sounds.clear();
}

bool AudioEngine::openLoopback(int sampleRate) {
    std::lock_guard lock(_mutex);
    if (_context || _shutDown)
        return false;
    auto open = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
        alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    if (!open)
        return false;
    _device = open(nullptr);
    if (!_device)
        return false;
    const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT,
                            ALC_STEREO_SOFT,
                            ALC_FORMAT_TYPE_SOFT,
                            ALC_FLOAT_SOFT,
                            ALC_FREQUENCY,
                            sampleRate,
                            0};
    _context = alcCreateContext(_device, attrs);
    if (!_context || !alcMakeContextCurrent(_context)) {
        alcCloseDevice(_device);
        _device = nullptr;
        _context = nullptr;
        return false;
    }
    _loopback = true;
    finishOpeningLocked();
    return true;
}

std::vector<float> AudioEngine::render(int frames) {
    std::lock_guard lock(_mutex);
    std::vector<float> out(static_cast<size_t>(frames) * 2, 0.0f);
    if (!_loopback || !_device || frames <= 0)
        return out;
    static auto renderSamples = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(
        alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    renderSamples(_device, out.data(), frames);
    return out;
}

int32_t AudioEngine::createSound(const QString& path, uint32_t* soundID) {
    if (soundID)
        *soundID = 0;
    // Decoding needs no lock; only the OpenAL calls do.
    SoundRecord record;
    const int32_t status = decodeFile(path, record.samples, record.channels, record.rate);
    if (status != kNoError)
        return status;
    // Below -66 dBFS throughout: inaudible, such as the keep-alive's
    // dithered silence.
    record.silent = std::all_of(record.samples.begin(), record.samples.end(),
                                [](int16_t v) { return v >= -kSilentPeak && v <= kSilentPeak; });
    record.length = std::chrono::microseconds(static_cast<int64_t>(record.samples.size()) *
                                              1000000 / record.channels / record.rate);

    std::lock_guard lock(_mutex);
    if (_shutDown)
        return kUnspecifiedError;
    const uint32_t id = _nextID++;
    SoundRecord& stored = _sounds.emplace(id, std::move(record)).first->second;
    // Without an output the sound waits for one: the next play opens it.
    if (outputUsableLocked() && !loadBufferLocked(stored)) {
        _sounds.erase(id);
        if (_sounds.empty() && !_loopback)
            closeOutputLocked();
        return kUnspecifiedError;
    }
    if (soundID)
        *soundID = id;
    return kNoError;
}

int32_t AudioEngine::setUISound(uint32_t soundID, uint32_t isUISound) {
    std::lock_guard lock(_mutex);
    auto it = _sounds.find(soundID);
    if (it == _sounds.end())
        return kBadSoundID;
    // There is no desktop-wide switch for interface sounds to honour; the
    // flag is kept so a platform that has one can respect it.
    it->second.isUISound = isUISound;
    return kNoError;
}

void AudioEngine::play(uint32_t soundID) {
    std::lock_guard lock(_mutex);
    auto it = _sounds.find(soundID);
    if (it == _sounds.end() || !outputUsableLocked() || _voices.empty() || !it->second.buffer)
        return;
    // Silence on a paused mixer (the keep-alive's tick while the holder
    // keeps the output awake) would only wake the mixer for nothing.
    if (it->second.silent && _pauser.paused())
        return;
    // Take the first idle voice from the cursor on; when all are busy the
    // cursor's voice, the one started longest ago, is cut short.
    size_t chosen = _nextVoice;
    for (size_t i = 0; i < _voices.size(); ++i) {
        const size_t v = (_nextVoice + i) % _voices.size();
        ALint state = 0;
        alGetSourcei(_voices[v], AL_SOURCE_STATE, &state);
        if (state != AL_PLAYING) {
            chosen = v;
            break;
        }
    }
    _nextVoice = (chosen + 1) % _voices.size();
    const ALuint voice = _voices[chosen];
    alSourceStop(voice);
    alSourcei(voice, AL_BUFFER, static_cast<ALint>(it->second.buffer));
    alSourcePlay(voice);
    _voiceSound[chosen] = soundID;
    // A paused device starts the voice from its first frame when it
    // resumes, so nothing is lost to the resume.
    _pauser.requestResume(std::chrono::steady_clock::now() + it->second.length);
}

void AudioEngine::dispose(uint32_t soundID) {
    std::lock_guard lock(_mutex);
    auto it = _sounds.find(soundID);
    if (it == _sounds.end())
        return;
    for (size_t v = 0; v < _voices.size(); ++v) {
        if (_voiceSound[v] == soundID) {
            alSourceStop(_voices[v]);
            alSourcei(_voices[v], AL_BUFFER, 0);
            _voiceSound[v] = 0;
        }
    }
    if (it->second.buffer)
        alDeleteBuffers(1, &it->second.buffer);
    _sounds.erase(it);
    // No sound left (the theme is "Off"): hold no stream at all.
    if (_sounds.empty() && !_loopback)
        closeOutputLocked();
}

void AudioEngine::holdOutput(bool held) {
    std::lock_guard lock(_mutex);
    if (held == _held)
        return;
    _held = held;
    if (held) {
        _pauser.requestResume(std::chrono::steady_clock::now());
        _lastHolderTry = {};
        holdSinkLocked();
    } else {
        // Before the system sleeps: nothing of ours keeps the output busy.
        _pauser.setIdlePause(false);
        _pauser.requestPause();
        _holder.close();
    }
}

AudioEngine::OutputInfo AudioEngine::outputInfo() {
    std::lock_guard lock(_mutex);
    OutputInfo info;
    if (!_device)
        return info;
    info.open = true;
    info.loopback = _loopback;
    info.deviceName = QString::fromUtf8(alcGetString(_device, ALC_DEVICE_SPECIFIER));
    ALCint frequency = 0, refresh = 0;
    alcGetIntegerv(_device, ALC_FREQUENCY, 1, &frequency);
    alcGetIntegerv(_device, ALC_REFRESH, 1, &refresh);
    info.sampleRate = frequency;
    info.periodFrames = refresh > 0 ? frequency / refresh : 0;
    info.periods = _loopback ? 0 : _periodsConfigured;
    auto getInteger64 = reinterpret_cast<LPALCGETINTEGER64VSOFT>(
        alcGetProcAddress(_device, "alcGetInteger64vSOFT"));
    if (getInteger64 && alcIsExtensionPresent(_device, "ALC_SOFT_device_clock")) {
        ALCint64SOFT latency = 0;
        getInteger64(_device, ALC_DEVICE_LATENCY_SOFT, 1, &latency);
        info.deviceLatencyMs = static_cast<double>(latency) / 1e6;
    }
    return info;
}

int AudioEngine::liveSounds() {
    std::lock_guard lock(_mutex);
    return static_cast<int>(_sounds.size());
}

int AudioEngine::playingVoices() {
    std::lock_guard lock(_mutex);
    int playing = 0;
    for (unsigned voice : _voices) {
        ALint state = 0;
        alGetSourcei(voice, AL_SOURCE_STATE, &state);
        playing += state == AL_PLAYING;
    }
    return playing;
}

} // namespace orvix
