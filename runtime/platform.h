// The platform layer: the runtime's thin road to Windows (start, standard output with ANSI
// escapes on a console or UTF-8 on a pipe, virtual memory, directory, environment, clock).
#pragma once
#include <cstddef>
#include <cstdint>

void platform_init();
