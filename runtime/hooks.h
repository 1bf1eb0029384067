// Output hook lists: print handlers for values and for the runtime's own text. The runtime never
// decides where printed text goes; whoever installs a handler does.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

using value_hook = void (*)(const cell* value, uint32_t new_line);
using text_hook = void (*)(const char* text, uint32_t length, uint32_t new_line);

// Empties both lists (capacity 5 each); lists made before are given back to the tracked heap.
void hooks_init();
namespace dyn_print {
void add(value_hook value_handler, text_hook text_handler);
}
void hooks_call_2(const cell* value, uint32_t new_line);
void hooks_call_3(const char* text, uint32_t length, uint32_t new_line);
// Count and capacity of each list, for tests.
enum hook_list_id { HOOKS_VALUES, HOOKS_TEXTS };
uint32_t hooks_count(hook_list_id list);
uint32_t hooks_capacity(hook_list_id list);
