#pragma once

#include <QString>
#include <cstdint>

namespace orvix {

// The system-sound seam: create a playable sound from an audio file, mark it,
// start it without waiting, dispose of it. The program's implementation is
// AudioEngine (OpenAL Soft); another platform's service can stand in here.
// Status codes follow the platform audio services so logs read alike.
class SystemSoundService {
public:
    static constexpr int32_t kNoError = 0;
    static constexpr int32_t kParamErr = -50;
    static constexpr int32_t kFileNotFound = -43;               // fnfErr
    static constexpr int32_t kUnspecifiedError = -1500;         // no output device
    static constexpr int32_t kUnsupportedFileType = 0x7479703F; // 'typ?'
    static constexpr int32_t kInvalidFile = 0x6474613F;         // 'dta?'
    static constexpr int32_t kBadSoundID = -66680;

    virtual ~SystemSoundService() = default;
    virtual int32_t createSound(const QString& path, uint32_t* soundID) = 0;
    // isUISound 0: plays even where interface sound effects are switched off.
    virtual int32_t setUISound(uint32_t soundID, uint32_t isUISound) = 0;
    virtual void play(uint32_t soundID) = 0;
    virtual void dispose(uint32_t soundID) = 0;
    // Whether the output stays ready for a short grace after this sound ends,
    // as it does by default so typing never waits on it between keys. A
    // sound that only wakes the output (the keep-alive's) lets it sleep again
    // as soon as it ends. Services without an idle output ignore it.
    virtual void setKeepsOutputReady(uint32_t /*soundID*/, bool /*keeps*/) {}

    // The service in use: AudioEngine unless another was installed.
    static SystemSoundService& shared();
    // Installs `service` (nullptr: back to AudioEngine); returns the previous one.
    static SystemSoundService* install(SystemSoundService* service);
};

} // namespace orvix
