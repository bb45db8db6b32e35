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
    static constexpr int32_t kUnspecifiedError = -1500;         // the output cannot take it
    static constexpr int32_t kUnsupportedFileType = 0x7479703F; // 'typ?'
    static constexpr int32_t kInvalidFile = 0x6474613F;         // 'dta?'
    static constexpr int32_t kBadSoundID = -66680;

    virtual ~SystemSoundService() = default;
    virtual int32_t createSound(const QString& path, uint32_t* soundID) = 0;
    // isUISound 0: plays even where interface sound effects are switched off.
    virtual int32_t setUISound(uint32_t soundID, uint32_t isUISound) = 0;
    virtual void play(uint32_t soundID) = 0;
    virtual void dispose(uint32_t soundID) = 0;
    // While held - the keep-alive runs - the output keeps running; released,
    // it may pause until the next hold or play. Services without an output
    // of their own to keep ignore it.
    virtual void holdOutput(bool /*held*/) {}

    // The service in use: AudioEngine unless another was installed.
    static SystemSoundService& shared();
    // Installs `service` (nullptr: back to AudioEngine); returns the previous one.
    static SystemSoundService* install(SystemSoundService* service);
};

} // namespace orvix
