// The handle registry's slot table: indexes are handed out, never addresses, so slots stay valid
// when the table doubles. A slot number outside the table, or freeing a free slot, is an internal
// fault that ends the process: either would corrupt the lists silently.
#include "runtime/extern.h"

#include "runtime/rterror.h"

extern_state externs{{}, 0, nullptr, 0, -1, -1};

namespace {

void chain_free(uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; i++) {
        externs.slots[i].class_word = EXTERN_FREE;
        externs.slots[i].pointer = nullptr;
        externs.slots[i].link = i + 1 < to ? int32_t(i + 1) : -1;
    }
}

void unlink_live(int32_t index)
{
    if (externs.live_head == index) {
        externs.live_head = externs.slots[index].link;
        return;
    }
    for (int32_t i = externs.live_head; i >= 0; i = externs.slots[i].link) {
        if (externs.slots[i].link == index) {
            externs.slots[i].link = externs.slots[index].link;
            return;
        }
    }
}

// The slot a caller or a handle! value names. A number outside the table is an internal fault
// (runtime error 98), never a read or write past it.
extern_slot& slot_at(int32_t index)
{
    if (index < 0 || uint32_t(index) >= externs.capacity) runtime_error(RT_ASSERTION, rt_error_address());
    return externs.slots[index];
}

// A live slot: freeing or setting a free one would chain it twice into the free list, or leave a
// resource where the next handle's owner takes over the slot.
extern_slot& live_slot_at(int32_t index)
{
    extern_slot& s = slot_at(index);
    if (s.class_word & EXTERN_FREE) runtime_error(RT_ASSERTION, rt_error_address());
    return s;
}

void push_free(int32_t index)
{
    extern_slot& s = externs.slots[index];
    s.class_word = EXTERN_FREE;
    s.pointer = nullptr;
    s.link = externs.free_head;
    externs.free_head = index;
}

}  // namespace

void extern_init()
{
    externs.class_count = 0;
    externs.capacity = 1000;
    externs.slots = static_cast<extern_slot*>(rt_alloc(externs.capacity * sizeof(extern_slot)));
    chain_free(0, externs.capacity);
    externs.free_head = 0;
    externs.live_head = -1;
}

uint32_t extern_class_register(const char* name, extern_release release)
{
    if (externs.class_count >= 20) runtime_error(RT_ASSERTION, rt_error_address());
    externs.classes[externs.class_count] = {name, release};
    return ++externs.class_count;
}

int32_t extern_handle_alloc(void* pointer, uint32_t klass)
{
    int32_t head = externs.free_head;
    if (externs.slots[head].link == -1) {
        // The head is the last free slot: double first, and chain the new half after it.
        uint32_t old = externs.capacity;
        externs.capacity *= 2;
        externs.slots = static_cast<extern_slot*>(rt_realloc(externs.slots, externs.capacity * sizeof(extern_slot)));
        chain_free(old, externs.capacity);
        externs.slots[head].link = int32_t(old);
    }
    extern_slot& s = externs.slots[head];
    externs.free_head = s.link;
    s.class_word = klass;
    s.pointer = pointer;
    s.link = externs.live_head;
    externs.live_head = head;
    return head;
}

void extern_class_call(uint32_t class_word, void* pointer)
{
    uint32_t id = class_word & 0xFF;
    if (id >= 1 && id <= externs.class_count && externs.classes[id - 1].release)
        externs.classes[id - 1].release(pointer);
}

void extern_handle_call(int32_t slot)
{
    extern_slot& s = slot_at(slot);
    extern_class_call(s.class_word, s.pointer);
}

void extern_handle_set(int32_t index, void* pointer)
{
    extern_slot& s = live_slot_at(index);
    void* old = s.pointer;
    s.pointer = pointer;
    if (old != pointer) extern_class_call(s.class_word, old);
}

int32_t extern_handle_free(int32_t index, bool release)
{
    live_slot_at(index);
    if (release) extern_handle_call(index);
    unlink_live(index);
    push_free(index);
    return -1;
}

uint32_t extern_handle_mark(int32_t index, void* pointer)
{
    extern_slot& s = slot_at(index);
    if (s.class_word & EXTERN_FREE) return 0;   // a handle! value outlived its slot: nothing to keep
    uint32_t fresh = (s.class_word & EXTERN_MARK) ? 0 : 1;
    s.class_word |= EXTERN_MARK;
    if (pointer) s.pointer = pointer;
    return fresh;
}

void extern_handles_each(uint32_t klass, void (*routine)(void* pointer))
{
    for (int32_t i = externs.live_head; i >= 0; i = externs.slots[i].link)
        if ((externs.slots[i].class_word & 0xFF) == klass) routine(externs.slots[i].pointer);
}

void extern_handles_sweep()
{
    int32_t prev = -1;
    int32_t i = externs.live_head;
    while (i >= 0) {
        extern_slot& s = externs.slots[i];
        int32_t next = s.link;
        if (s.class_word & EXTERN_MARK) {
            s.class_word &= ~EXTERN_MARK;
            prev = i;
        } else {
            extern_class_call(s.class_word, s.pointer);
            if (prev < 0) externs.live_head = next;
            else externs.slots[prev].link = next;
            push_free(i);
        }
        i = next;
    }
}
