// The runtime's start: every module's init, once, in a fixed order.
#pragma once
#include <cstdint>
#include "runtime/system.h"

namespace runtime {
void init();
}
