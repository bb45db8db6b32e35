#pragma once

#include "os/input/InputStateFile.h"

typedef struct _XDisplay Display;

namespace orvix::input {

// Lets go of what a poster that ended without cleaning up left in the X
// session, as its state record tells: the modifier keys it held and any key
// still down on the XTest device, its Caps Lock change and its modifier locks.
// Releasing a key that is not down on the XTest device does nothing, so the
// real keyboard's keys are untouched. Flushes, but does not wait.
void releaseLeftovers(Display* display, const InputStateFile::Record& record);

} // namespace orvix::input
