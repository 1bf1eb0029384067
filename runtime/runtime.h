// The runtime's start: every module's init, once, in a fixed order.
#pragma once
#include <cstdint>

struct system_record {
    uint32_t booting;    // 1 while start-up makes words (they get root-block copies)
    uint32_t thrown;     // code of the throw in flight
};
extern system_record system_rec;

namespace runtime {
void init();
}
