// Test values: form and mold through the action table, small cell makers, bytes that move at the
// next collection, and the reader that builds blocks of real words, strings, numbers, none and
// logic values from text, with a stand-in datatype on an id no real type uses (namespace tv).
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "support/fixtures.h"

namespace test {

// Form and mold of a value whose cell does not move (argument stack, root block, a local).
inline std::string form_at(cell* v)
{
    cell* out = string::make_at(stack::push_slot(), 16, 1);
    actions_of(cell_type(v)).form(v, out, nullptr, 0x7FFFFFFF);
    std::string text = string::utf8_copy(out);
    stack::pop(1);
    return text;
}

inline std::string mold_at(cell* v, bool only = false, bool all = false, bool flat = false)
{
    cell* out = string::make_at(stack::push_slot(), 16, 1);
    actions_of(cell_type(v)).mold(v, out, only, all, flat, nullptr, 0x7FFFFFFF, 0);
    std::string text = string::utf8_copy(out);
    stack::pop(1);
    return text;
}

// The same for a value given by copy: it is kept on the argument stack meanwhile.
inline std::string form(cell value)
{
    std::string text = form_at(stack::push(&value));
    stack::pop(1);
    return text;
}

inline std::string mold(cell value, bool all = false)
{
    std::string text = mold_at(stack::push(&value), false, all);
    stack::pop(1);
    return text;
}

inline int32_t compare(cell a, cell b, int32_t op)
{
    cell* x = stack::push(&a);
    cell* y = stack::push(&b);
    int32_t r = actions_of(cell_type(x)).compare(x, y, op);
    stack::pop(2);
    return r;
}

inline cell integer(int32_t v) { return cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline cell float_(double d)
{
    cell c{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&c, d);
    return c;
}

// The text as the data of a binary! pushed on the stack above a buffer that is garbage: the next
// collection slides the binary down, so the address returned goes stale at the next allocation
// (under KIV_GC_STRESS). Pushes two cells.
inline const uint8_t* moving_bytes(const std::string& text)
{
    cell* doomed = block::make_at(stack::push_slot(), 64);
    node_ref node = bytes_alloc(uint32_t(text.size()));
    cell binary{TYPE_BINARY, 0, node, 0};
    stack::push(&binary);
    series_buffer* s = series_of(node);
    std::memcpy(at(s->head), text.data(), text.size());
    s->tail = s->head + uint32_t(text.size());
    *doomed = none_value;
    return at(s->head);
}

// Holds the collector off in tests of the allocator itself, whose fresh buffers nothing refers to.
using no_collect = collector_hold;

// The stress modes for a scope, given back as they were at its end.
struct stress_scope {
    uint32_t every = collector_s.stress_every, move = collector_s.stress_move;
    stress_scope(uint32_t every_n, uint32_t moving)
    {
        collector_s.stress_every = every_n;
        collector_s.stress_move = moving;
    }
    ~stress_scope()
    {
        collector_s.stress_every = every;
        collector_s.stress_move = move;
    }
    stress_scope(const stress_scope&) = delete;
    stress_scope& operator=(const stress_scope&) = delete;
};
// Collections only when the allocator itself asks for one: for tests that measure the trigger,
// which the stress modes would hide.
struct natural_collections : stress_scope {
    natural_collections() : stress_scope(0, 0) {}
};
// A collection at every allocation, moving every live buffer: an address kept across an
// allocation reads poison at once, in the normal run as in the stress run.
struct stress_collections : stress_scope {
    stress_collections() : stress_scope(1, 1) {}
};
}  // namespace test

namespace tv {

// A value whose form and mold raise script/invalid-arg: what an error inside a walk leaves behind.
constexpr uint32_t TYPE_FAULT = 56;

inline int32_t fault_form(cell* v, cell*, cell*, int32_t) { fire(ERR_SCRIPT, err::INVALID_ARG, v); }
inline int32_t fault_mold(cell* v, cell*, bool, bool, bool, cell*, int32_t, int32_t)
{
    fire(ERR_SCRIPT, err::INVALID_ARG, v);
}

inline void register_stand_ins()
{
    datatype::register_type(TYPE_FAULT, 0, "fault!", {.form = fault_form, .mold = fault_mold});
}

using test::integer;
inline cell fault() { return cell{TYPE_FAULT, 0, 0, 0}; }
// A global word of the given kind (word!, lit-word!, refinement!...).
inline cell word_of(const char* name, uint32_t type = TYPE_WORD)
{
    cell w = *word::load(name);
    w.header = type;
    return w;
}

// Reads values separated by spaces: [ ] and ( ) nest, "x" is a string!, 12 an integer!, 1.5 a
// float!, none,
// true and false their own values, 'x a lit-word!, :x a get-word!, /x a refinement!, x: a
// set-word!, anything else a word!; a line feed marks the next value's new line.
inline void read_into(cell* blk, const char*& p)
{
    bool new_line = false;
    while (*p && *p != ']' && *p != ')') {
        if (*p == ' ') { p++; continue; }
        if (*p == '\n') { new_line = true; p++; continue; }
        cell v;
        uint32_t held = 0;   // a new series stays on the stack until the block holds it
        if (*p == '[' || *p == '(') {
            uint32_t kind = *p++ == '[' ? TYPE_BLOCK : TYPE_PAREN;
            cell* inner = block::push_only_star(4);
            held = 1;
            read_into(inner, p);
            if (*p == ']' || *p == ')') p++;
            cell_set_type(inner, kind);
            v = *inner;
        } else if (*p == '"') {
            const char* start = ++p;
            while (*p && *p != '"') p++;
            std::string text(start, p);
            if (*p) p++;
            cell* str = string::make_at(stack::push_slot(), uint32_t(text.size()), 1);
            held = 1;
            string::concatenate_literal(str, text.c_str());
            v = *str;
        } else {
            const char* start = p;
            while (*p && *p != ' ' && *p != ']' && *p != ')' && *p != '\n') p++;
            std::string text(start, p);
            bool number = text.find_first_not_of("-0123456789.") == std::string::npos &&
                          text.find_first_of("0123456789") != std::string::npos;
            if (number && text.find('.') != std::string::npos) v = test::float_(std::stod(text));
            else if (number) v = integer(std::stoi(text));
            else if (text == "none") v = none_value;
            else if (text == "true" || text == "false") v = cell{TYPE_LOGIC, text == "true", 0, 0};
            else if (text[0] == '\'') v = word_of(text.c_str() + 1, TYPE_LIT_WORD);
            else if (text[0] == ':' && text.size() > 1) v = word_of(text.c_str() + 1, TYPE_GET_WORD);
            else if (text[0] == '/') v = word_of(text.c_str() + 1, TYPE_REFINEMENT);
            else if (text.size() > 1 && text.back() == ':')
                v = word_of(text.substr(0, text.size() - 1).c_str(), TYPE_SET_WORD);
            else v = word_of(text.c_str());
        }
        if (new_line) v.header |= HEADER_NEW_LINE;
        new_line = false;
        block::rs_append(blk, &v);
        stack::pop(held);
    }
}

// A block read from the text, pushed on the argument stack.
inline cell* read(const char* text)
{
    cell* blk = block::push_only_star(4);
    read_into(blk, text);
    return blk;
}

inline cell* new_buffer() { return string::make_at(stack::push_slot(), 64, 1); }

inline std::string mold(cell* v, bool only = false, bool all = false, bool flat = false)
{
    return test::mold_at(v, only, all, flat);
}
inline std::string form(cell* v) { return test::form_at(v); }

// Each test must leave the cycle stack empty.
class Values : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        register_stand_ins();   // every time: another test may have used the spare ids for its own types
    }
    void TearDown() override
    {
        EXPECT_EQ(cycle_depth(), 0u) << "a walk left an entry on the cycle stack";
        cycle_reset();
        StackTest::TearDown();
    }
    // A refinement argument: a cell above the arguments base.
    static cell* arg(const cell& value) { return stack::push(&value); }
    template <class F>
    static uint32_t error_of(F&& f)
    {
        return raised(f);
    }
};

constexpr uint32_t code(uint32_t category, uint32_t id) { return category * 100 + id; }

// The word the raised error names first (its first argument), formed; for the errors of words.
inline std::string named_word()
{
    cell w = raised_error_get().args[0];
    return any_word_q(cell_type(&w)) ? form(&w) : "(not a word)";
}

}  // namespace tv
