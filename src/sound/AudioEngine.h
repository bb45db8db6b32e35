#pragma once

#include "sound/DevicePauser.h"
#include "sound/SystemSoundService.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

struct ALCdevice_struct;
struct ALCcontext_struct;
class QTimer;

namespace orvix {

// The system-sound service of the program on OpenAL Soft: a sound file is
// decoded once with libsndfile into an OpenAL buffer, played by identifier on
// a pool of voices without waiting, and disposed of. Identifiers are never
// reused within a process. Status codes follow the platform's audio services
// so that logs read the same everywhere.
//
// While nothing plays the output device is paused, so its mixer stops waking
// the process hundreds of times a second: a single-shot timer on the
// application's thread looks at the voices once the last sound should have
// ended plus a grace (none after a sound that does not keep the output
// ready), and the next play resumes the device. Pausing and resuming happen
// on a thread of their own (DevicePauser). Without OpenAL Soft's pause
// extension, or on the loopback, the device simply keeps running.
class AudioEngine final : public SystemSoundService {
public:
    // Voices mixed at once; a new play steals the oldest when all are busy.
    static constexpr int kVoices = 48;
    // Output period and count we ask OpenAL Soft for: 2 x 220 frames, under 10 ms at 44.1 kHz.
    static constexpr int kPeriodFrames = 220;
    static constexpr int kPeriods = 2;
    static constexpr int kSampleRate = 48000;
    // The longest sound we decode (frames times channels), about 87 s of mono at 48 kHz.
    static constexpr int64_t kMaxSamples = 1 << 22;
    // Quiet time after the last voice ends before the device pauses. Typing
    // keeps well inside it (even slow pointer typing clicks every 0.3-0.8 s
    // and each key sound adds its own length), so the mixer does not stop and
    // start between keys; past it, a play resumes the device, and its first
    // frames are mixed about one output period later, as on a running one.
    static constexpr int kPauseGraceMs = 1000;
    // After a sound that does not keep the output ready, only the time for
    // the device's own buffers and the mixer's limiter to play out its end:
    // pausing at the voice's end would cut or hold back its last frames.
    static constexpr int kPauseDrainMs = 200;

    static AudioEngine& sharedInstance();

    // Switches the engine to an in-memory device before any sound exists, so
    // tests can render the mix without a sound card. False if a device is open.
    bool openLoopback(int sampleRate = kSampleRate);
    // Loopback only: mixes `frames` stereo frames and returns them interleaved.
    std::vector<float> render(int frames);

    int32_t createSound(const QString& path, uint32_t* soundID) override;
    int32_t setUISound(uint32_t soundID, uint32_t isUISound) override;
    void play(uint32_t soundID) override;
    void dispose(uint32_t soundID) override;
    void setKeepsOutputReady(uint32_t soundID, bool keeps) override;

    struct OutputInfo {
        bool open = false;
        bool loopback = false;
        QString deviceName;
        int sampleRate = 0;
        int periodFrames = 0;
        int periods = 0;             // 0 when the user's own OpenAL configuration decides
        double deviceLatencyMs = -1; // reported by the device where it can
    };
    OutputInfo outputInfo();
    // Releases every voice, buffer and the device; runs at process exit so the
    // library finds nothing left open. Later calls do nothing.
    void shutdown();
    int liveSounds();
    int playingVoices();

    // Whether this device can be paused while idle (it has the extension and
    // is not the loopback); false keeps the device running as it always did.
    bool pausesWhenIdle();
    // True while the device is paused and no play has asked to resume it.
    bool outputPaused();
    // Pauses the device at once if no voice plays (the idle timer's work,
    // without its wait). False if something plays or pausing is unavailable.
    bool pauseIfIdle();
    // Waits until the last pause or resume asked for has been carried out.
    bool waitForOutput(std::chrono::milliseconds limit);
    // Time the device has mixed so far (ALC_SOFT_device_clock), -1 without it.
    int64_t deviceClockNs();

private:
    AudioEngine() = default;
    bool ensureDevice();
    void finishOpening();
    void configureLatency();

    struct SoundRecord {
        unsigned buffer = 0;
        uint32_t isUISound = 1;
        std::chrono::nanoseconds length{0}; // how long one play lasts
        bool keepsOutputReady = true;       // the grace follows its end
    };

    void setUpPausing();
    void noteStarted(const SoundRecord& record);
    void scheduleIdleCheck();
    void armIdleTimer();
    void idleCheck();
    bool pauseIfIdleLocked();
    // The longest time any voice still plays, plus the grace (or drain) its
    // sound asks for; zero when nothing plays.
    std::chrono::nanoseconds longestRemaining(bool withGrace);
    std::chrono::steady_clock::time_point pauseDue() const;

    std::mutex _mutex;
    ALCdevice_struct* _device = nullptr;
    ALCcontext_struct* _context = nullptr;
    bool _loopback = false;
    bool _deviceFailed = false;
    bool _configured = false;
    bool _shutDown = false;
    bool _exitHandlerInstalled = false;
    int _periodsConfigured = 0; // 0: left to the user's OpenAL configuration
    QByteArray _privateConfig;
    std::vector<unsigned> _voices;
    std::vector<uint32_t> _voiceSound; // sound each voice last played
    size_t _nextVoice = 0;
    uint32_t _nextID = 1;
    std::unordered_map<uint32_t, SoundRecord> _sounds;

    // Idle pausing. The timer lives on the application's thread and is only
    // ever touched there; plays from elsewhere ask that thread to arm it.
    DevicePauser _pauser;
    std::chrono::steady_clock::time_point _quietAt;    // when the last started sound ends
    std::chrono::steady_clock::time_point _graceUntil; // grace or drain after the last sound
    QPointer<QTimer> _idleTimer;
};

} // namespace orvix
