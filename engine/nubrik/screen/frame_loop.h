#pragma once

#include "nubrik/base/thread_notifier.h"
#include "nubrik/image/image.h"

namespace nubrik {

class Screen;

// The frame thread's body: starts the workers, then composes every
// invalidated frame, runs the frame callbacks and pauses 1 millisecond, until
// interrupted; it stops and joins every worker before it returns.
void frameLoop(Screen& screen, ThreadNotifier& notifier);

// Takes band indices from the Screen's shared counter until none is left,
// composing each band with a region into `bandImage` and presenting it.
void composeBands(Screen& screen, Image& bandImage);

}  // namespace nubrik
