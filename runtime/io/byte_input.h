// The bytes a native reads: a binary! from its index to its tail, or the UTF-8 text of a string
// copied into a tracked buffer of its own. Must not break: a binary's address is fetched again
// after every allocation (data() is valid only until the next one); the text copy never moves
// and is freed on every exit, an unwinding error included.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Result binaries. The slot must not lie in a movable buffer (the call's result cell does not).
// binary_of_bytes copies bytes that do not lie in the value heap into a new binary!;
// binary_result makes the slot a binary! over the first `length` bytes of a buffer already filled.
cell* binary_of_bytes(cell* slot, const uint8_t* bytes, uint32_t length);
cell* binary_result(cell* slot, node_ref node, uint32_t length);

// Types a byte input takes: binary! and the text kinds.
bool byte_input_q(uint32_t type);

class byte_input {
public:
    // The value must be a binary! or a text kind, and stay referenced (a stack cell) while in use.
    explicit byte_input(const cell* value);
    ~byte_input();
    byte_input(const byte_input&) = delete;
    byte_input& operator=(const byte_input&) = delete;

    const uint8_t* data() const;
    uint32_t size() const { return size_; }

private:
    node_ref node_ = 0;      // the binary's buffer; 0 for text
    uint32_t offset_ = 0;    // byte offset of the index inside the binary's used part
    uint32_t size_ = 0;
    uint8_t* text_ = nullptr;
};
