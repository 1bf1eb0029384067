// The external handle registry: operating-system resources behind values, each in a slot with a
// class whose release routine the collector calls once no value refers to the slot.
#pragma once
#include <cstdint>

using extern_release = void (*)(void* pointer);

constexpr uint32_t EXTERN_FREE = 0x40000000u;
constexpr uint32_t EXTERN_MARK = 0x80000000u;

struct extern_slot {
    uint32_t class_word;
    void* pointer;     // an OS pointer: lives here, never in a cell
    int32_t link;
};

struct extern_state {
    struct klass { const char* name; extern_release release; } classes[20];
    uint32_t class_count;
    extern_slot* slots;
    uint32_t capacity;
    int32_t live_head;
    int32_t free_head;
};
extern extern_state externs;

void extern_init();
uint32_t extern_class_register(const char* name, extern_release release);
int32_t extern_handle_alloc(void* pointer, uint32_t klass);
void extern_class_call(uint32_t class_word, void* pointer);
void extern_handle_call(int32_t slot);
void extern_handle_set(int32_t index, void* pointer);
int32_t extern_handle_free(int32_t index, bool release);
uint32_t extern_handle_mark(int32_t index, void* pointer);
void extern_handles_each(uint32_t klass, void (*routine)(void* pointer));
void extern_handles_sweep();
