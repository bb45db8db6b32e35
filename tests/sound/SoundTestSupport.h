#pragma once

#include "ToolRun.h" // writeFile, readFile
#include "sound/AudioEngine.h"
#include "sound/Sound.h"
#include "sound/SoundTheme.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace orvix::test {

// Private folders (XDG_DATA_HOME, TMPDIR too), made before main: the bundle fixes its early.
QString resourceDir();
QString scratchDir();

// A mono 48 kHz square wave of `level` (0..1), period 48 frames: each sound its own loudness.
constexpr int kWav = 0x010000, kAiff = 0x020000, kCaf = 0x180000;
bool writeTone(const QString& path, float level, int frames = 2400, int format = kWav);
// The same in the scratch folder under `name`: its path, empty on failure.
QString scratchTone(const QString& name, float level, int frames = 2400, int format = kWav);
// A sound made from a scratch tone.
std::shared_ptr<Sound> scratchSound(const QString& name, float level, int format = kWav);
// The keep-alive's "silent" sound, made an audible marker so its plays show.
bool audibleSilence(int frames = 4800);
// A theme table with every slot empty.
std::vector<SoundTheme::Row> emptyTable();

// Opens the in-memory output once for the whole test program.
void useLoopback();
// Renders `frames` stereo frames of the mix.
std::vector<float> render(int frames);
// Largest absolute sample.
float peak(const std::vector<float>& samples);
// Renders until nothing plays (at most a second).
void drain();
// Peak of what `play` renders, after the voices it started have ended.
float playedPeak(const std::function<void()>& play);

} // namespace orvix::test
