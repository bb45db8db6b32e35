#pragma once

#include <QString>

namespace orvix::test {

// Points OpenAL Soft at its wave-file writer before main: a real playback
// device whose mixer runs on its own thread in real time, as a sound card's
// would, and writes every mixed frame (48 kHz float stereo) to a file. Unlike
// the loopback it can be paused, and the file shows what was mixed. Set up
// when this library is linked.

// Waits until the writer has put its first frames in the file (its mixer
// thread starts with the device, so the file is empty for a moment).
bool waitForFirstOutput(int timeoutMs = 10000);

// Whether the file changed within `windowMs`, i.e. the mixer is running.
bool outputAdvances(int windowMs);

// Overwrites everything in the file after its first 8 bytes with a pattern
// that is no sample value (NaN), so a later look sees only what was mixed
// since. Where the writer puts new frames - on after the old ones, or again
// from the top, as OpenAL Soft 1.19 does after a resume - does not matter.
bool wipeOutput();

struct Heard {
    int samples = 0; // finite samples louder than the threshold, both channels
    float first = 0; // the first of them
    float quietest = 0;
    float loudest = 0;
};
// What was mixed since the last wipe, read from the file.
Heard heardSinceWipe(float threshold = 0.05f);

} // namespace orvix::test
