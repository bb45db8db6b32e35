#pragma once

#include "ToolRun.h" // writeFile, readFile
#include "sound/AudioEngine.h"

#include <QString>
#include <vector>

namespace orvix::test {

// The resource folder and user data folder of sound tests: private temporary
// folders set up before main (the bundle fixes its folder on first use).
QString resourceDir();
QString userDataDir();
QString scratchDir();

// Writes a mono file of `frames` samples: a square wave of `level` (0..1) with
// the given period, so each test sound has its own loudness. Format is a
// libsndfile major format (SF_FORMAT_WAV, SF_FORMAT_AIFF, SF_FORMAT_CAF).
bool writeTone(const QString& path, float level, int frames = 2400, int period = 48,
               int format = 0x010000 /* SF_FORMAT_WAV */, int rate = 48000);

// Opens the in-memory output once for the whole test program.
void useLoopback();
// Renders `frames` stereo frames of the mix.
std::vector<float> render(int frames);
// Largest absolute sample.
float peak(const std::vector<float>& samples);
// Renders until nothing plays (at most a second).
void drain();

} // namespace orvix::test
