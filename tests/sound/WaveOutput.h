#pragma once

namespace orvix::test {

// Linking this points OpenAL Soft at its wave-file writer: a real-time, pausable
// device like a sound card's, whose file holds every mixed frame (48 kHz float stereo).

// Waits until the writer has put its first frames in the file (its mixer
// thread starts with the device, so the file is empty for a moment).
bool waitForFirstOutput(int timeoutMs = 10000);

// Whether the file changed within `windowMs`, i.e. the mixer is running.
bool outputAdvances(int windowMs);

// Overwrites the file after its first 8 bytes with NaN, so a later look sees only
// what was mixed since, wherever the writer puts it (1.19 restarts at the top).
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
