#include "sound/AudioEngine.h"

#include "os/Log.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvix {
namespace {

std::chrono::steady_clock::time_point g_lastOpenAttempt;

constexpr std::chrono::milliseconds kGrace{AudioEngine::kPauseGraceMs};
constexpr std::chrono::milliseconds kDrain{AudioEngine::kPauseDrainMs};

// Whole milliseconds, rounded up, so a timer never fires before its moment.
int ceilMs(std::chrono::nanoseconds d) {
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(d).count());
}

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

void AudioEngine::configureLatency() {
    // OpenAL Soft takes its period size and count only from configuration
    // files, read once when the library starts. Unless the user points it at a
    // file of their own, hand it a private one that asks for short periods.
    if (qEnvironmentVariableIsSet("ALSOFT_CONF"))
        return;
    QByteArray path = QFile::encodeName(QDir::tempPath()) + "/orvix-alsoft-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        return;
    const QByteArray text = "[general]\nperiod_size = " + QByteArray::number(kPeriodFrames) +
                            "\nperiods = " + QByteArray::number(kPeriods) + "\n";
    const bool written = ::write(fd, text.constData(), static_cast<size_t>(text.size())) ==
                         static_cast<ssize_t>(text.size());
    ::close(fd);
    if (written) {
        qputenv("ALSOFT_CONF", path);
        _periodsConfigured = kPeriods;
    }
    _privateConfig = path;
}

bool AudioEngine::ensureDevice() {
    if (_context)
        return true;
    if (_shutDown)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (_deviceFailed && now - g_lastOpenAttempt < std::chrono::seconds(5))
        return false;
    g_lastOpenAttempt = now;
    if (_privateConfig.isEmpty() && !_configured) {
        _configured = true;
        configureLatency();
    }
    _device = alcOpenDevice(nullptr);
    if (!_privateConfig.isEmpty()) {
        // The library has read it; nothing else needs the file.
        ::unlink(_privateConfig.constData());
        qunsetenv("ALSOFT_CONF");
        _privateConfig.clear();
    }
    if (!_device) {
        _deviceFailed = true;
        return false;
    }
    _context = alcCreateContext(_device, nullptr);
    if (!_context || !alcMakeContextCurrent(_context)) {
        if (_context)
            alcDestroyContext(_context);
        alcCloseDevice(_device);
        _context = nullptr;
        _device = nullptr;
        _deviceFailed = true;
        return false;
    }
    _deviceFailed = false;
    finishOpening();
    return true;
}

void AudioEngine::finishOpening() {
    _voices.resize(kVoices);
    alGenSources(kVoices, _voices.data());
    if (alGetError() != AL_NO_ERROR)
        _voices.clear();
    for (unsigned voice : _voices) {
        alSourcei(voice, AL_SOURCE_RELATIVE, AL_TRUE);
        alSource3f(voice, AL_POSITION, 0, 0, 0);
    }
    _voiceSound.assign(_voices.size(), 0);
    setUpPausing();
    if (!_exitHandlerInstalled) {
        _exitHandlerInstalled = true;
        std::atexit([] { AudioEngine::sharedInstance().shutdown(); });
    }
}

void AudioEngine::setUpPausing() {
    // The loopback mixes only when asked to, so it has nothing to pause.
    if (_loopback || !alcIsExtensionPresent(_device, "ALC_SOFT_pause_device"))
        return;
    auto pause =
        reinterpret_cast<LPALCDEVICEPAUSESOFT>(alcGetProcAddress(_device, "alcDevicePauseSOFT"));
    auto resume =
        reinterpret_cast<LPALCDEVICERESUMESOFT>(alcGetProcAddress(_device, "alcDeviceResumeSOFT"));
    if (!pause || !resume)
        return;
    if (!_pauser.start(_device, pause, resume)) {
        Log::write("No thread to pause the idle audio output; it keeps running");
        return;
    }
    // A device opened for a theme is as ready as after a key, then pauses.
    _quietAt = std::chrono::steady_clock::now();
    _graceUntil = _quietAt + kGrace;
    scheduleIdleCheck();
}

void AudioEngine::noteStarted(const SoundRecord& record) {
    if (!_pauser.isActive())
        return;
    // The voice is already playing: a paused device starts it from its first
    // frame when it resumes, so nothing is lost to the resume.
    _pauser.requestResume();
    const auto end = std::chrono::steady_clock::now() + record.length;
    _quietAt = std::max(_quietAt, end);
    _graceUntil = std::max(_graceUntil, end + (record.keepsOutputReady ? kGrace : kDrain));
    scheduleIdleCheck();
}

void AudioEngine::scheduleIdleCheck() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return; // no event loop to wait in: the device keeps running
    if (QThread::currentThread() == app->thread()) {
        armIdleTimer();
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [] {
            AudioEngine& engine = sharedInstance();
            std::lock_guard lock(engine._mutex);
            engine.armIdleTimer();
        },
        Qt::QueuedConnection);
}

void AudioEngine::armIdleTimer() {
    if (_shutDown || !_pauser.isActive())
        return;
    if (!_idleTimer) {
        // Owned by the application, so it goes with the application's thread.
        _idleTimer = new QTimer(QCoreApplication::instance());
        _idleTimer->setSingleShot(true);
        _idleTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(_idleTimer.data(), &QTimer::timeout, _idleTimer.data(),
                         [] { sharedInstance().idleCheck(); });
    }
    // An armed timer looks again when it fires; restarting it on every key
    // would cost more than the one extra look.
    if (!_idleTimer->isActive())
        _idleTimer->start(std::max(0, ceilMs(pauseDue() - std::chrono::steady_clock::now())));
}

std::chrono::steady_clock::time_point AudioEngine::pauseDue() const {
    return std::max(_quietAt, _graceUntil);
}

void AudioEngine::idleCheck() {
    std::lock_guard lock(_mutex);
    if (_shutDown || !_pauser.isActive() || _pauser.failed() || !_idleTimer)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < pauseDue()) {
        _idleTimer->start(ceilMs(pauseDue() - now));
        return;
    }
    // A voice can outlast its estimate when its start was mixed late.
    const std::chrono::nanoseconds remaining = longestRemaining(true);
    if (remaining > std::chrono::nanoseconds::zero()) {
        _graceUntil = now + remaining;
        _idleTimer->start(ceilMs(remaining));
        return;
    }
    _pauser.requestPause();
}

std::chrono::nanoseconds AudioEngine::longestRemaining(bool withGrace) {
    std::chrono::nanoseconds longest{0};
    for (size_t v = 0; v < _voices.size(); ++v) {
        ALint state = 0;
        alGetSourcei(_voices[v], AL_SOURCE_STATE, &state);
        if (state != AL_PLAYING)
            continue;
        // Still playing counts for at least a millisecond, even at its last frame.
        std::chrono::nanoseconds left = std::chrono::milliseconds(1);
        auto it = _sounds.find(_voiceSound[v]);
        if (it != _sounds.end()) {
            ALfloat played = 0;
            alGetSourcef(_voices[v], AL_SEC_OFFSET, &played);
            const auto rest =
                it->second.length - std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::duration<double>(played));
            left = std::max(left, rest);
            if (withGrace)
                left += it->second.keepsOutputReady ? kGrace : kDrain;
        }
        longest = std::max(longest, left);
    }
    return longest;
}

bool AudioEngine::pauseIfIdleLocked() {
    if (!_pauser.isActive() || _pauser.failed() || _shutDown)
        return false;
    if (longestRemaining(false) > std::chrono::nanoseconds::zero())
        return false;
    _pauser.requestPause();
    return true;
}

bool AudioEngine::pausesWhenIdle() {
    std::lock_guard lock(_mutex);
    return _pauser.isActive() && !_pauser.failed();
}

bool AudioEngine::outputPaused() {
    std::lock_guard lock(_mutex);
    return _pauser.isActive() && _pauser.paused();
}

bool AudioEngine::pauseIfIdle() {
    std::lock_guard lock(_mutex);
    return pauseIfIdleLocked();
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
    if (!_device)
        return;
    // Closing works on a paused device as on a running one; only the thread
    // that pauses it has to be gone first. The idle timer finds _shutDown.
    _pauser.stop();
    if (!_voices.empty()) {
        for (unsigned voice : _voices)
            alSourceStop(voice);
        alDeleteSources(static_cast<ALsizei>(_voices.size()), _voices.data());
    }
    _voices.clear();
    _voiceSound.clear();
    for (auto& [id, record] : _sounds)
        alDeleteBuffers(1, &record.buffer);
    _sounds.clear();
    alcMakeContextCurrent(nullptr);
    if (_context)
        alcDestroyContext(_context);
    alcCloseDevice(_device);
    _context = nullptr;
    _device = nullptr;
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
    finishOpening();
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
    std::vector<int16_t> samples;
    int channels = 0, rate = 0;
    const int32_t status = decodeFile(path, samples, channels, rate);
    if (status != kNoError)
        return status;

    std::lock_guard lock(_mutex);
    if (!ensureDevice())
        return kUnspecifiedError;
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    alBufferData(buffer, channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16, samples.data(),
                 static_cast<ALsizei>(samples.size() * sizeof(int16_t)), rate);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteBuffers(1, &buffer);
        return kUnspecifiedError;
    }
    const uint32_t id = _nextID++;
    const auto frames = static_cast<int64_t>(samples.size()) / channels;
    const auto length = std::chrono::nanoseconds(frames * 1000000000 / rate);
    _sounds.emplace(id, SoundRecord{buffer, 1, length});
    if (soundID)
        *soundID = id;
    return kNoError;
}

void AudioEngine::setKeepsOutputReady(uint32_t soundID, bool keeps) {
    std::lock_guard lock(_mutex);
    auto it = _sounds.find(soundID);
    if (it != _sounds.end())
        it->second.keepsOutputReady = keeps;
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
    if (it == _sounds.end() || _voices.empty())
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
    noteStarted(it->second);
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
    alDeleteBuffers(1, &it->second.buffer);
    _sounds.erase(it);
}

AudioEngine::OutputInfo AudioEngine::outputInfo() {
    std::lock_guard lock(_mutex);
    OutputInfo info;
    if (!ensureDevice() && !_context)
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
