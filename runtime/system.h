// The system record: process-wide flags that every layer may read, the ground floor included.
// It holds no value cells and no references into the value range.
#pragma once
#include <cstdint>

struct system_state {
    uint32_t booting;    // 1 while start-up makes words (they get root-block copies)
    uint32_t library;    // 1 while the boot evaluates the library's sources (their functions' bodies are marked)
    uint32_t thrown;     // code of the throw in flight
    uint32_t exit_code;  // the language's non-local exit in progress (break, return...), 0 when none
};
extern system_state system_s;
