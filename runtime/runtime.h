// The runtime's start: every module's init, once, in a fixed order.
#pragma once
#include <cstdint>
#include "runtime/system.h"

namespace runtime {
void init();
// Start-up is over: allocations may collect, and words are no longer copied into the root block.
void finish_start();
// init and finish_start inside the outermost catch: an error raised while starting ends the
// process as runtime error 94, a throw of the runtime's own code that nothing caught as 95.
void start();
}
