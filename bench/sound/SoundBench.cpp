// Loading a full theme, the cost of a play request, and the output latency
// the program asks for. Run with ALSOFT_DRIVERS=null for a running mixer
// without a sound card, or ALSOFT_DRIVERS=pulse for the desktop's sound
// server; without any device the in-memory loopback is used. Key press to
// sound through a real server, and the idle cost, are bench_sound_server's.
#include "sound/AudioEngine.h"
#include "sound/KeyedArchive.h"
#include "sound/SoundTheme.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <sndfile.h>
#include <thread>

using namespace orvix;

namespace {

constexpr int kDistinctSounds = 60;

// A 3 by 255 theme with every slot filled from 60 distinct embedded sounds of
// 100 ms each, a third of the slots holding lists of three.
struct FullTheme {
    QTemporaryDir dir;
    QString path;
    // Keeps the output open: it closes when the last sound goes.
    std::shared_ptr<Sound> keeper;

    FullTheme() {
        std::vector<std::shared_ptr<Sound>> sounds;
        for (int i = 0; i < kDistinctSounds; ++i) {
            const QString wav = dir.filePath(QStringLiteral("s%1.wav").arg(i));
            SF_INFO info{};
            info.samplerate = 44100;
            info.channels = 1;
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            SNDFILE* f = sf_open(QFile::encodeName(wav).constData(), SFM_WRITE, &info);
            std::vector<float> samples(4410);
            for (size_t n = 0; n < samples.size(); ++n)
                samples[n] =
                    0.5f * std::exp(-static_cast<float>(n) / 600.0f) *
                    std::sin(static_cast<float>(n) * (0.05f + 0.01f * static_cast<float>(i)));
            sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
            sf_close(f);
            auto s = Sound::initWithContentsOfURL(QUrl::fromLocalFile(wav));
            s->setTransient(true);
            sounds.push_back(s);
        }
        std::vector<SoundTheme::Row> table(3, SoundTheme::Row(255));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 255; ++c) {
                const size_t k = static_cast<size_t>(r * 255 + c);
                table[r][c] = c % 3 == 0
                                  ? SoundTheme::Slot::ofList({sounds[k % 60], sounds[(k + 7) % 60],
                                                              sounds[(k + 13) % 60]})
                                  : SoundTheme::Slot::of(sounds[k % 60]);
            }
        path = dir.filePath(QStringLiteral("full.snth"));
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(SoundTheme(QStringLiteral("Full"), table).archivedData());
    }
};

FullTheme& fullTheme() {
    static FullTheme* theme = [] {
        // The first sound opens the real (or ALSOFT_DRIVERS-chosen) device;
        // without one, render into memory.
        auto* made = new FullTheme;
        made->keeper = Sound::initWithContentsOfURL(
            QUrl::fromLocalFile(made->dir.filePath(QStringLiteral("s0.wav"))));
        if (!AudioEngine::sharedInstance().outputOpen())
            AudioEngine::sharedInstance().openLoopback();
        return made;
    }();
    return *theme;
}

void BM_LoadFullTheme(benchmark::State& state) {
    const QString path = fullTheme().path;
    for (auto _ : state) {
        QString error;
        auto theme = SoundTheme::unarchiveObjectWithFile(path, error);
        if (!theme || theme->failedSounds() != 0)
            state.SkipWithError("theme did not load");
        benchmark::DoNotOptimize(theme);
        state.PauseTiming();
        theme.reset(); // releasing disposes of 60 sounds and their files
        state.ResumeTiming();
    }
    state.counters["bytes"] = static_cast<double>(QFileInfo(path).size());
}
BENCHMARK(BM_LoadFullTheme)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_DecodeArchiveOnly(benchmark::State& state) {
    QFile f(fullTheme().path);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    for (auto _ : state) {
        QString error;
        benchmark::DoNotOptimize(archive::decodeArchive(bytes, error));
    }
}
BENCHMARK(BM_DecodeArchiveOnly)->Unit(benchmark::kMicrosecond);

void BM_PlayKeyPress(benchmark::State& state) {
    QString error;
    auto theme = SoundTheme::unarchiveObjectWithFile(fullTheme().path, error);
    int code = 0;
    for (auto _ : state) {
        theme->playSoundForKeyCode(static_cast<uint64_t>(code), 1);
        code = (code + 1) % 128;
    }
}
BENCHMARK(BM_PlayKeyPress)->Unit(benchmark::kMicrosecond);

void BM_OutputLatency(benchmark::State& state) {
    fullTheme();
    AudioEngine::OutputInfo info;
    for (auto _ : state)
        info = AudioEngine::sharedInstance().outputInfo();
    state.counters["sample_rate"] = info.sampleRate;
    state.counters["period_frames"] = info.periodFrames;
    state.counters["periods"] = info.periods;
    state.counters["buffer_ms"] =
        info.sampleRate > 0
            ? 1000.0 * info.periodFrames * std::max(info.periods, 1) / info.sampleRate
            : 0;
    state.counters["device_latency_ms"] = info.deviceLatencyMs;
    state.SetLabel((info.loopback ? "loopback " : "device ") + info.deviceName.toStdString());
}
BENCHMARK(BM_OutputLatency)->Iterations(1);

// One 100 ms sound of the full theme, by identifier.
uint32_t benchSound() {
    const auto& sound = fullTheme().keeper;
    return sound ? sound->soundID() : 0;
}

void waitUntilSilent(AudioEngine& engine) {
    while (engine.playingVoices() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// From play() until the device clock moves: the first frames are mixed.
double msUntilMixed(AudioEngine& engine, int64_t clockBefore,
                    std::chrono::steady_clock::time_point since) {
    while (engine.deviceClockNs() == clockBefore)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// Plays `sound` as the iteration's timed work, keeps the call's time in
// `calls`, and answers when the call began.
std::chrono::steady_clock::time_point timedPlay(benchmark::State& state, AudioEngine& engine,
                                                uint32_t sound, std::vector<double>& calls) {
    const auto start = std::chrono::steady_clock::now();
    engine.play(sound);
    const auto returned = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(returned - start).count());
    calls.push_back(std::chrono::duration<double, std::milli>(returned - start).count());
    return start;
}

void reportMs(benchmark::State& state, const char* name, std::vector<double> values) {
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    state.counters[std::string(name) + "_median"] = values[values.size() / 2];
    state.counters[std::string(name) + "_max"] = values.back();
}

// A key press on the running device: the play call, and until its first frames are mixed.
void BM_PlayWhileRunning(benchmark::State& state) {
    AudioEngine& engine = AudioEngine::sharedInstance();
    const uint32_t sound = benchSound();
    if (!sound || !engine.outputInfo().open) {
        state.SkipWithError("no output device");
        return;
    }
    std::vector<double> calls, mixed;
    for (auto _ : state) {
        waitUntilSilent(engine);
        engine.waitForOutput(std::chrono::seconds(2));
        const int64_t clock = engine.deviceClockNs();
        const auto start = timedPlay(state, engine, sound, calls);
        if (clock >= 0 && !engine.outputInfo().loopback)
            mixed.push_back(msUntilMixed(engine, clock, start));
    }
    reportMs(state, "play_call_ms", calls);
    reportMs(state, "first_mix_ms", mixed);
}
BENCHMARK(BM_PlayWhileRunning)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(40);

} // namespace

BENCHMARK_MAIN();
