// object!: a context of kind 2 seen as a value, with a class id and the event record that locates
// its on-change* and on-deep-change* handlers; the object actions, copying and extending, and the
// change events. Must not break: a field's value cell moves with its values block, so no value
// address is held across anything that allocates, evaluates or runs a handler.
#pragma once
#include <cstdint>
#include <initializer_list>
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

// Object cell: header 32 (34 for error!); data1 the context node (kind 2, object flag), whose owner
// cell holds a copy of the object cell; data2 the class id; data3 the event record node or 0.
// Event record: two pair! cells, 0 for on-change* and 1 for on-deep-change*: data2 the handler's
// field position << 16 | its count of locals (position 0xFFFF: no such handler), data3 the node
// of the handler's spec when the count was taken (0: never counted).
constexpr uint32_t FIRST_RUNTIME_CLASS = 1000000;   // run-time class ids count up from the next one
constexpr uint32_t ERROR_CLASS = 1;
constexpr uint32_t NO_HANDLER = 0xFFFF;

// Where a field was last found, by word table and symbol: objects of a class share their table,
// so a path step met again finds the field without hashing its symbol. Tables only ever gain
// words, and never hold two spellings of one word, so a position found stays right for the table;
// a table node is freed and made again only by a collection, so an entry holds while no collection
// has run since it was made.
struct field_entry {
    node_ref table;
    uint32_t symbol;
    uint32_t position;
    uint32_t cycles;
};
constexpr uint32_t FIELD_ENTRIES = 512;

struct object_state {
    uint32_t class_counter;
    field_entry found_fields[FIELD_ENTRIES];
};
extern object_state object_s;

namespace object {
// Installed by the evaluator: evaluates a block (make object! and make error! specs); an exit out
// of it unwinds the caller as exit_unwind, as out of interpreter::call_value.
extern void (*evaluate_hook)(cell* block);

void init();
void mark(const cell* c);
uint32_t next_class_id();

// ---- making (slots must not lie in movable buffers) ---------------------------------------------
cell* push(node_ref ctx, node_ref events, uint32_t class_id);
cell* push_from_ctx(node_ref ctx, uint32_t class_id);
cell* make_at(cell* slot, uint32_t n);

// ---- reading ------------------------------------------------------------------------------------
inline node_ref context_of(const cell* object) { return object->data1; }
int32_t find_word(const cell* object, const cell* word);
cell* select_word(const cell* object, const cell* word);
// A named field's value, copied (none without such a field); a path below the global word
// system (system/standard/port), none where a step is no object.
cell field_of(const cell* object, const char* name);
cell system_field(std::initializer_list<const char*> path);   // the value cell, or &none_value
cell* get_word(node_ref ctx, uint32_t i);
cell* get_first_word(const cell* object);
cell* get_values(const cell* object);
uint32_t get_size(const cell* object);
bool word_of_class_q(const cell* word, uint32_t class_id);
bool slot_of_class_q(node_ref ctx, uint32_t i, uint32_t class_id);

// ---- copying and extending ----------------------------------------------------------------------
cell* clone(const cell* source, cell* slot, bool deep, const cell* types, bool recompute);
void copy_values(node_ref source, node_ref target, bool copy_scalars);
bool extend_from_object(node_ref target, node_ref source, const cell* object);
void remake_function(cell* slot, node_ref ctx);
bool construct_fields(node_ref ctx, const cell* spec, bool only);
cell* make_from_spec(const cell* spec, const cell* proto, bool only);

// ---- form and mold ------------------------------------------------------------------------------
int32_t serialize(const cell* object, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                  bool indented, int32_t indent, bool leading_line);
// The fields as a body block [a: 1 b: 'x], pushed on the argument stack.
cell* body_of(const cell* object);
// The comparison of two objects' fields (types are not looked at: error! uses it too).
int32_t compare_fields(const cell* value1, const cell* value2, int32_t op);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* reflect(cell* object, cell* field);
int32_t form(cell* object, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* object, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
inline field_entry& field_entry_of(node_ref table, uint32_t symbol)
{
    return object_s.found_fields[((table >> 2) ^ (symbol * 0x9E3779B1u) >> 16) & (FIELD_ENTRIES - 1)];
}
// The field's position found in the word table and kept in the cache; -1 when it has none.
// Allocates nothing.
[[gnu::noinline]] int32_t learn_field(node_ref ctx, uint32_t symbol);
// A path step into a field by word, for the evaluator: the field's value cell (read it before
// anything allocates), after storing the value when one is given; null when the step needs the
// general eval_path (no such field, an unset value, events to fire, a field's first store).
// Inline: o/a and o/a: v cost the cache check and the slot's read or write.
inline cell* path_field(const cell* object, const cell* element, const cell* value)
{
    // The context cell is read once: its table for the look-up, its values, its flags and owner.
    node_ref ctx = object->data1;
    const cell* cc = context::cell_of(ctx);
    const field_entry& e = field_entry_of(cc->data1, element->data2);
    uint32_t i = e.position;
    if (e.table != cc->data1 || e.symbol != element->data2 || e.cycles != collector_s.cycles) [[unlikely]] {
        int32_t found = learn_field(ctx, element->data2);
        if (found < 0) return nullptr;
        i = uint32_t(found);
    }
    const series_buffer* s = series_of(cc->data2);
    if (i >= series_used_bytes(s) / CELL_BYTES) return nullptr;
    cell* slot = at<cell>(s->head) + i;
    if (!value) return cell_type(slot) == TYPE_UNSET ? nullptr : slot;
    // A store that needs more than the slot: an object with events (its current ones, in the owner
    // cell), or a field's first store, which flags it.
    if (cc[1].data3 || !(cc->header & CONTEXT_SET_FLAGS)) return nullptr;
    const series_buffer* flags = series_of(cc->data3);
    if (i / 8 >= series_used_bytes(flags) || !(at<uint8_t>(flags->head)[i / 8] >> (i % 8) & 1)) return nullptr;
    *slot = *value;
    return slot;
}
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* copy(cell* object, cell* slot, cell* part, bool deep, cell* types);
cell* select(cell* object, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse, bool tail, bool match);
cell* put(cell* object, cell* key, cell* value, bool case_);
cell* modify(cell* object, cell* field, cell* value, bool case_);

// ---- change events ------------------------------------------------------------------------------
node_ref make_event_info(node_ref on_change_spec, node_ref on_deep_spec, int32_t on_change_slot,
                         uint32_t on_change_count, int32_t on_deep_slot, uint32_t on_deep_count);
node_ref make_event_info_from_ctx(node_ref ctx);
void init_events_from(cell* object, node_ref ctx);
node_ref init_events(node_ref ctx, int32_t on_change_slot, uint32_t on_change_locals, int32_t on_deep_slot,
                     uint32_t on_deep_locals);
bool has_on_deep_change_q(const cell* object);
void clear_changed(node_ref ctx);
// The handler position of event 0 (on-change*) or 1 (on-deep-change*), or -1.
int32_t handler_position(const cell* object, uint32_t which);
void fire_on_set(cell* object, cell* word, cell* old_value, cell* new_value);
void fire_on_set_star(cell* object, cell* word);
// A set-path changed field `index` of a value held in its grandparent (an object's field, or a
// series cell): the object's on-change* handler hears of the value's old and new states (stack
// copies), or the series' owner of the set-path.
void report_field_set(cell* grandparent, cell* previous, cell* old_value, cell* new_value, cell* value,
                      int32_t index);
void fire_word_on_set(cell* object_word, cell* field_word);
void fire_on_deep(cell* owner, cell* word, cell* target, cell* action, cell* value, int32_t index, int32_t part);
// The ownership table's way in: fire_on_deep with the event's word.
void fire_owner_event(cell* owner, cell* word, cell* target, owner_event action, cell* value, int32_t index,
                      int32_t part);
void set_many(cell* object, cell* value, bool any, bool only, bool some);
}  // namespace object
