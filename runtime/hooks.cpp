// The two print-handler lists. Handlers run synchronously, in the order they were added.
#include "runtime/hooks.h"

#include <cstring>

#include "runtime/rterror.h"

namespace {

template <class F>
struct hook_list {
    F* handlers;
    uint32_t count;
    uint32_t capacity;

    void init()
    {
        rt_free(handlers);
        count = 0;
        capacity = 5;
        handlers = static_cast<F*>(rt_alloc(capacity * sizeof(F)));
    }
    void add(F handler)
    {
        if (!handler) return;
        if (count == capacity) {
            capacity += 5;
            F* grown = static_cast<F*>(rt_alloc(capacity * sizeof(F)));
            std::memcpy(grown, handlers, count * sizeof(F));
            rt_free(handlers);
            handlers = grown;
        }
        handlers[count++] = handler;
    }
};

struct hooks_state {
    hook_list<value_hook> values;
    hook_list<text_hook> texts;
};
hooks_state hooks_s;

}  // namespace

void hooks_init()
{
    hooks_s.values.init();
    hooks_s.texts.init();
}

void dyn_print::add(value_hook value_handler, text_hook text_handler)
{
    hooks_s.values.add(value_handler);
    hooks_s.texts.add(text_handler);
}

void hooks_call_2(const cell* value, uint32_t new_line)
{
    for (uint32_t i = 0; i < hooks_s.values.count; i++) hooks_s.values.handlers[i](value, new_line);
}

void hooks_call_3(const char* text, uint32_t length, uint32_t new_line)
{
    for (uint32_t i = 0; i < hooks_s.texts.count; i++) hooks_s.texts.handlers[i](text, length, new_line);
}

uint32_t hooks_count(hook_list_id list) { return list == HOOKS_VALUES ? hooks_s.values.count : hooks_s.texts.count; }
uint32_t hooks_capacity(hook_list_id list)
{
    return list == HOOKS_VALUES ? hooks_s.values.capacity : hooks_s.texts.capacity;
}
