#pragma once

#include "sound/DevicePauser.h"
#include "sound/SinkHolder.h"
#include "sound/SystemSoundService.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

struct ALCdevice_struct;
struct ALCcontext_struct;

namespace orvix {

// The system-sound service of the program on OpenAL Soft: a sound file is
// decoded once with libsndfile and kept, loaded into an OpenAL buffer, played
// by identifier on a pool of voices without waiting, and disposed of.
// Identifiers are never reused within a process. Status codes follow the
// platform's audio services so that logs read the same everywhere.
//
// The output device is open exactly while a sound exists: the first sound
// opens it and disposing of the last closes it, so with no sound theme the
// program holds no stream at all. While open, the sound server never
// suspends the output because of us, so the first key after a pause is heard
// at once and whole. Through a sound server a second, silent stream that
// never carries data holds the output awake (SinkHolder), and the device's
// mixer pauses two seconds after the last sound and resumes with the next: a
// running mixer wakes once per period. Without the holder the device keeps
// running. A released hold (the keep-alive stopping before the system
// sleeps) pauses the device and lets the output go; pausing and resuming
// run on a thread of their own (DevicePauser).
//
// When the sound server goes away, the device says so (ALC_EXT_disconnect).
// The next play - a key, or the keep-alive's tick - then opens a new device,
// loads every sound into it again and plays; an output that cannot be opened
// is tried again at most once a second. Each loss, return and failure is
// logged once, never once per key.
class AudioEngine final : public SystemSoundService {
public:
    // Voices mixed at once; a new play steals the oldest when all are busy.
    static constexpr int kVoices = 48;
    // Output period we ask OpenAL Soft for: 256 frames, 5.3 ms at 48 kHz, the
    // least PipeWire's pulse server grants a stream (it adds a third period
    // to the two asked for: a 16 ms buffer). Smaller periods are raised to it.
    static constexpr int kPeriodFrames = 256;
    static constexpr int kPeriods = 2;
    static constexpr int kSampleRate = 48000;
    // The longest sound we decode (frames times channels), about 87 s of mono at 48 kHz.
    static constexpr int64_t kMaxSamples = 1 << 22;
    // The loudest sample of a sound that counts as silence.
    static constexpr int16_t kSilentPeak = 16;
    // An output that could not be opened is not tried again sooner than this.
    static constexpr int kRetryMs = 1000;

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
    void holdOutput(bool held) override;

    struct OutputInfo {
        bool open = false;
        bool loopback = false;
        QString deviceName;
        int sampleRate = 0;
        int periodFrames = 0;
        int periods = 0;             // as asked for; 0 when the user's own configuration decides
        double deviceLatencyMs = -1; // reported by the device where it can
    };
    // The output as it is now; it is not opened for the question.
    OutputInfo outputInfo();
    // Releases every voice, buffer and the device; runs at process exit so the
    // library finds nothing left open. Later calls do nothing.
    void shutdown();
    int liveSounds();
    int playingVoices();

    bool outputOpen();
    // True while the device is paused and nothing has asked to resume it.
    bool outputPaused();
    // Waits until the last pause or resume asked for has been carried out.
    bool waitForOutput(std::chrono::milliseconds limit);
    // Time the device has mixed so far (ALC_SOFT_device_clock), -1 without it.
    int64_t deviceClockNs();

private:
    AudioEngine() = default;

    struct SoundRecord {
        unsigned buffer = 0; // 0 while no device is open
        uint32_t isUISound = 1;
        std::vector<int16_t> samples;
        int channels = 1;
        int rate = 0;
        bool silent = false; // no sample above kSilentPeak: nothing to hear
        std::chrono::microseconds length{0};
    };

    // Writes the library's settings for its first read; answers the file's path.
    QByteArray writeLibraryConfig();
    bool openOutputLocked();
    // Voices, every sound's buffer and the pausing thread for a new device.
    void finishOpeningLocked();
    void closeOutputLocked();
    // True when a device is open and connected, opening one when it is
    // missing or was lost (at most once per kRetryMs).
    bool outputUsableLocked();
    bool loadBufferLocked(SoundRecord& record);
    void startPausingLocked();
    // Opens the holder where the device goes through a sound server, and
    // lets the device pause between sounds while it holds.
    void holdSinkLocked();

    std::mutex _mutex;
    ALCdevice_struct* _device = nullptr;
    ALCcontext_struct* _context = nullptr;
    bool _loopback = false;
    bool _shutDown = false;
    bool _exitHandlerInstalled = false;
    bool _libraryConfigured = false;
    int _periodsConfigured = 0; // 0: left to the user's OpenAL configuration
    bool _canTellDisconnect = false;
    bool _held = false;
    // What the log has said, so each event is one line.
    bool _lostLogged = false;
    bool _failureLogged = false;
    std::chrono::steady_clock::time_point _lastFailedOpen;
    bool _openFailed = false;
    std::vector<unsigned> _voices;
    std::vector<uint32_t> _voiceSound; // sound each voice last played
    size_t _nextVoice = 0;
    uint32_t _nextID = 1;
    std::unordered_map<uint32_t, SoundRecord> _sounds;
    bool _holderWanted = false; // the device plays through a sound server
    std::chrono::steady_clock::time_point _lastHolderTry;
    SinkHolder _holder;
    DevicePauser _pauser;
};

} // namespace orvix
