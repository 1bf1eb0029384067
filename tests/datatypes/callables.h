// Test support for the callable datatypes: the routine tables filled with a stand-in routine in a
// few slots (and given back as found), `integer!` holding its datatype as the boot script sets
// it, and makers for natives, actions and functions from reader text.
#pragma once
#include <cstring>

#include "support/values.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/routine.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"

namespace tv {

inline void stand_in_native(bool, const int32_t*) {}
inline void stand_in_routine() {}

// Slots the tests fill; every other slot is empty.
constexpr int32_t FILLED_NATIVES[] = {1, 2, 120};
constexpr int32_t FILLED_ACTIONS[] = {11, 18, 62};
constexpr uint32_t FILLED_ROUTINE = 7;

class Callables : public Values {
protected:
    void SetUp() override
    {
        Values::SetUp();
        std::memcpy(&saved_natives_, &natives_s, sizeof natives_s);
        std::memcpy(&saved_actions_, &actions_s, sizeof actions_s);
        std::memcpy(&saved_routines_, &routine_s, sizeof routine_s);
        std::memset(&natives_s.table, 0, sizeof natives_s.table);
        std::memset(&actions_s.table, 0, sizeof actions_s.table);
        std::memset(&routine_s.table, 0, sizeof routine_s.table);
        for (int32_t s : FILLED_NATIVES) natives_s.table[s - 1] = stand_in_native;
        for (int32_t s : FILLED_ACTIONS) actions_s.table[s - 1] = stand_in_native;
        routine_s.table[FILLED_ROUTINE - 1] = stand_in_routine;
        cell integer_type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
        cell integer_word = word_of("integer!");
        word::set(&integer_word, &integer_type);
    }
    void TearDown() override
    {
        std::memcpy(&natives_s, &saved_natives_, sizeof natives_s);
        std::memcpy(&actions_s, &saved_actions_, sizeof actions_s);
        std::memcpy(&routine_s, &saved_routines_, sizeof routine_s);
        Values::TearDown();
    }

    // make native! / make action! of a block of the spec read from text and the slot.
    static cell* make_builtin(uint32_t type, const char* spec, int32_t slot)
    {
        cell* blk = read("");
        block::make_in(blk, 4);
        cell* inner = stack::push(block::rs_head(blk));
        read_into_text(inner, spec);
        cell n = integer(slot);
        block::rs_append(blk, &n);
        stack::pop(1);
        return actions_of(type).make(datatype_cell(type), blk, type);
    }
    // func of a spec and a body read from text, checked as make function! checks it.
    static cell* make_func(const char* spec, const char* body)
    {
        cell* make_block = read("[] []");
        cell s = block::rs_head(make_block)[0], b = block::rs_head(make_block)[1];
        read_into_text(&s, spec);
        read_into_text(&b, body);
        return function::make(datatype_cell(TYPE_FUNCTION), make_block, TYPE_FUNCTION);
    }
    static cell* make_op(cell* callable)
    {
        return actions_of(TYPE_OP).make(datatype_cell(TYPE_OP), callable, TYPE_OP);
    }
    // reflect of a copy of the value, the field given by name; the result stays on the stack.
    static cell* reflected(const cell* value, const char* field)
    {
        cell* v = stack::push(value);
        cell f = word_of(field);
        return actions_of(cell_type(v)).reflect(v, &f);
    }

private:
    static cell* datatype_cell(uint32_t type)
    {
        cell t{TYPE_DATATYPE, type, 0, 0};
        return stack::push(&t);
    }
    static void read_into_text(cell* blk, const char* text) { read_into(blk, text); }

    natives_state saved_natives_;
    actions_state saved_actions_;
    routine_state saved_routines_;
};

}  // namespace tv
