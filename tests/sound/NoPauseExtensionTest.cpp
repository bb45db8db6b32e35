// Without the pause extension (hidden by wrapping its query) the device just keeps running.
#include "SoundTestSupport.h"
#include "WaveOutput.h"
#include "sound/AudioEngine.h"

#include <AL/alc.h>
#include <QTest>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <strings.h>

extern "C" ALCboolean alcIsExtensionPresent(ALCdevice* device, const ALCchar* name) {
    if (name && ::strcasecmp(name, "ALC_SOFT_pause_device") == 0)
        return ALC_FALSE;
    using Query = ALCboolean (*)(ALCdevice*, const ALCchar*);
    static const auto real = reinterpret_cast<Query>(dlsym(RTLD_NEXT, "alcIsExtensionPresent"));
    return real ? real(device, name) : ALC_FALSE;
}

using namespace orvix;

namespace {

constexpr int kToneFrames = 2400;

TEST(NoPauseExtensionTest, ReleasedHoldLeavesTheDeviceRunningAndSoundsPlay) {
    AudioEngine& engine = AudioEngine::sharedInstance();
    const QString path = test::scratchTone("tone.wav", 0.5f, kToneFrames);
    uint32_t tone = 0;
    ASSERT_EQ(engine.createSound(path, &tone), SystemSoundService::kNoError);
    engine.holdOutput(true);
    engine.holdOutput(false);
    EXPECT_TRUE(engine.waitForOutput(std::chrono::milliseconds(10)));
    EXPECT_FALSE(engine.outputPaused());

    // The mixer thread starts with the device: wait for its first frames.
    ASSERT_TRUE(test::waitForFirstOutput());
    ASSERT_TRUE(test::wipeOutput());
    for (int i = 0; i < 2; ++i) {
        engine.play(tone);
        EXPECT_TRUE(QTest::qWaitFor([&] { return engine.playingVoices() == 0; }, 3000));
        EXPECT_TRUE(test::outputAdvances(200)) << "the mixer runs on while idle";
    }
    EXPECT_EQ(test::heardSinceWipe().samples, 2 * 2 * kToneFrames);
}

} // namespace
