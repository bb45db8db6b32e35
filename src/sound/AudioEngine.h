#pragma once

#include "sound/SystemSoundService.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

struct ALCdevice_struct;
struct ALCcontext_struct;

namespace orvix {

// The system-sound service of the program on OpenAL Soft: a sound file is
// decoded once with libsndfile into an OpenAL buffer, played by identifier on
// a pool of voices without waiting, and disposed of. Identifiers are never
// reused within a process. Status codes follow the platform's audio services
// so that logs read the same everywhere.
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

private:
    AudioEngine() = default;
    bool ensureDevice();
    void finishOpening();
    void configureLatency();

    struct SoundRecord {
        unsigned buffer = 0;
        uint32_t isUISound = 1;
    };

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
};

} // namespace orvix
