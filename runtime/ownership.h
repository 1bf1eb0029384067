// Series ownership: which object, through which field word, owns a series, so that a change made
// in place reaches the owner's on-deep-change* handler. The table is weak: an entry keeps neither
// its series nor its owner alive, and the collector drops the entries whose series or owner died.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// On an object's context buffer: the object owns the series of its fields itself, so binding and
// unbinding a containing value stop there.
constexpr uint32_t SERIES_TRACKING_OWNER = 0x00010000u;

// What a modifying action tells an owner: a pair of events around each change, in word order;
// change-case tells once, after the change, and so does a path that sets a field of a value the
// owner holds in a series (the hour of a time in an owned block).
enum owner_event : uint32_t {
    EV_APPEND, EV_APPENDED, EV_INSERT, EV_INSERTED, EV_CHANGE, EV_CHANGED, EV_CLEAR, EV_CLEARED, EV_POKE,
    EV_POKED, EV_PUT, EV_PUT_ED, EV_REMOVE, EV_REMOVED, EV_REVERSE, EV_REVERSED, EV_SORT, EV_SORTED, EV_SWAP,
    EV_SWAPED, EV_TAKE, EV_TAKEN, EV_TRIM, EV_TRIMMED, EV_MOVE, EV_MOVED, EV_RANDOM, EV_RANDOMIZED,
    EV_UPPERCASE, EV_LOWERCASE, EV_SET_PATH, EV_COUNT
};

struct ownership_state {
    node_ref table;   // kind 4, keyed by the owned series' node; values: the value, owner, field word
};
extern ownership_state ownership_s;
// Installed by object!'s init: runs the owner's on-deep-change* handler with the event's word.
// Every cell it is handed is on the argument stack; value is none when the action stores nothing.
extern void (*ownership_fire_on_deep_hook)(cell* owner, cell* word, cell* target, owner_event action, cell* value,
                                           int32_t index, int32_t part);

void ownership_init();
// Binds the value, deeply, to the owner (an object!) under the field word. A series already owned
// keeps its first owner; nested blocks and objects are walked (each once), but not a nested object
// that owns its own series.
void ownership_set(const cell* value, const cell* owner, const cell* word);
// The same, then marks the owner's context as a tracking owner.
void ownership_set_tracked(const cell* value, const cell* owner, const cell* word);
void ownership_unbind(const cell* value);
void ownership_unbind_range(const cell* blk, uint32_t index, uint32_t count);
// The entry's owner cell and field word of an owned series (or object context) node, or null.
cell* ownership_owner_of(node_ref node);
cell* ownership_word_of(node_ref node);
// Tells the owner of a changed value (series, or object) about the change when the owner has event
// handlers; true when one was told. new_value may be null.
bool ownership_check(const cell* value, owner_event action, const cell* new_value, int32_t index, int32_t count);
// The collector's sweep of the table (run after marking).
void ownership_sweep();
