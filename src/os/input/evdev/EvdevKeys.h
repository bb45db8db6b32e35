#pragma once

#include <cstdint>
#include <vector>

namespace orvix::input::evdev {

// The modifier flag a real key holds down (Caps Lock's is a lock and Right
// Control holds Control), or 0.
uint64_t heldFlagForCode(int evdevCode);
// The virtual key code of a real key, Function included; -1 for none.
int virtualCodeForEvdev(int evdevCode);
// The evdev code of a virtual key code; 0 for none (Function has none).
int evdevCodeForVirtual(int virtualCode);
// The keys to hold down for the modifier flags (Caps Lock aside).
std::vector<int> modifierKeysForFlags(uint64_t flags);

} // namespace orvix::input::evdev
