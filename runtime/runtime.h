// The runtime's start: every module's init, once, in a fixed order.
#pragma once
#include <cstdint>
#include "runtime/system.h"

namespace runtime {
void init();
// Start-up is over: allocations may collect, and words are no longer copied into the root block.
// The product's entry, the test entry and the benchmarks' entry call it once runtime::init and
// their own start are done.
void finish_start();
}
