#pragma once

namespace orvix::test {

// Linking this points OpenAL Soft at its wave writer: a pausable real-time device, every
// mixed frame (48 kHz float stereo) in a file.

// Waits for the first frames: the mixer thread starts with the device.
bool waitForFirstOutput(int timeoutMs = 10000);

// Whether the file changed within `windowMs`, i.e. the mixer is running.
bool outputAdvances(int windowMs);

// NaN after byte 8, so only what is mixed later shows (1.19 rewrites from the top).
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
