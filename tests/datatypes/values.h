// Test values for the block and series tests: two stand-in datatypes on ids no real type uses
// (55: whole numbers, 56: names and quoted texts), a small reader that builds blocks from text,
// and form/mold to std::string. Words, integers and strings proper come with their own modules.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/scalars.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/interpreter/stack.h"

namespace tv {

constexpr uint32_t TYPE_NUM = 55;    // payload in word 2, as integer! keeps it
constexpr uint32_t TYPE_NAME = 56;   // up to 11 characters in words 1-3; header bit 8: a quoted text
constexpr uint32_t QUOTED = 0x100;

inline std::string name_of(const cell* c)
{
    char text[13] = {};
    std::memcpy(text, &c->data1, 12);
    return text;
}

inline int32_t put(cell* buffer, const std::string& text, int32_t part)
{
    string::concatenate_literal(buffer, text.c_str());
    return part - int32_t(text.size());
}

inline int32_t num_form(cell* v, cell* buffer, cell*, int32_t part)
{
    return put(buffer, std::to_string(int32_t(v->data2)), part);
}
inline int32_t num_mold(cell* v, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return num_form(v, buffer, arg, part);
}
inline int32_t num_compare(cell* a, cell* b, int32_t op)
{
    if (cell_type(b) != TYPE_NUM) return op == COMP_EQUAL || op == COMP_FIND ? 1 : -2;
    int32_t x = int32_t(a->data2), y = int32_t(b->data2);
    return x < y ? -1 : x > y ? 1 : 0;
}

// A name whose text is "boom" raises script/invalid-arg when formed or molded.
inline int32_t name_form(cell* v, cell* buffer, cell*, int32_t part)
{
    if (name_of(v) == "boom") fire(ERR_SCRIPT, err::INVALID_ARG, v);
    return put(buffer, name_of(v), part);
}
inline int32_t name_mold(cell* v, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    if (!(v->header & QUOTED)) return name_form(v, buffer, arg, part);
    return put(buffer, "\"" + name_of(v) + "\"", part);
}
inline int32_t name_compare(cell* a, cell* b, int32_t op)
{
    if (cell_type(b) != TYPE_NAME) return op == COMP_EQUAL || op == COMP_FIND ? 1 : -2;
    int r = name_of(a).compare(name_of(b));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

inline void register_stand_ins()
{
    datatype::register_type(TYPE_NUM, 0, "num!",
        nullptr, nullptr, nullptr, nullptr, num_form, num_mold, nullptr, nullptr, num_compare, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr);
    datatype::register_type(TYPE_NAME, 0, "name!",
        nullptr, nullptr, nullptr, nullptr, name_form, name_mold, nullptr, nullptr, name_compare, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr);
}

inline cell num(int32_t n) { return cell{TYPE_NUM, 0, uint32_t(n), 0}; }
inline cell integer(int32_t n) { return cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }
inline cell name(const std::string& text, bool quoted = false)
{
    cell c{TYPE_NAME | (quoted ? QUOTED : 0), 0, 0, 0};
    std::memcpy(&c.data1, text.data(), std::min<size_t>(text.size(), 11));
    return c;
}

// Reads values separated by spaces: [ ] nest, "x" is a quoted text, numbers are num!, none, true
// and false their own values, anything else a name; a line feed marks the next value's new line.
inline void read_into(cell* blk, const char*& p)
{
    bool new_line = false;
    while (*p && *p != ']') {
        if (*p == ' ') { p++; continue; }
        if (*p == '\n') { new_line = true; p++; continue; }
        cell v;
        if (*p == '[') {
            p++;
            cell* inner = block::push_only_star(4);
            read_into(inner, p);
            if (*p == ']') p++;
            v = *inner;
            stack::pop(1);
        } else {
            const char* start = p;
            bool quoted = *p == '"';
            if (quoted) { start = ++p; while (*p && *p != '"') p++; }
            else while (*p && *p != ' ' && *p != ']' && *p != '\n') p++;
            std::string text(start, p);
            if (quoted && *p) p++;
            bool number = !quoted && !text.empty() &&
                          text.find_first_not_of("-0123456789") == std::string::npos && text != "-";
            if (number) v = num(std::stoi(text));
            else if (!quoted && text == "none") v = none_value;
            else if (!quoted && (text == "true" || text == "false")) v = cell{TYPE_LOGIC, text == "true", 0, 0};
            else v = name(text, quoted);
        }
        if (new_line) v.header |= HEADER_NEW_LINE;
        new_line = false;
        block::rs_append(blk, &v);
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
    cell* buffer = new_buffer();
    action_as<mold_fn>(cell_type(v), ACT_MOLD)(v, buffer, only, all, flat, nullptr, 0x7FFFFFFF, 0);
    std::string text = string::to_utf8(buffer);
    stack::pop(1);
    return text;
}

inline std::string form(cell* v)
{
    cell* buffer = new_buffer();
    action_as<form_fn>(cell_type(v), ACT_FORM)(v, buffer, nullptr, 0x7FFFFFFF);
    std::string text = string::to_utf8(buffer);
    stack::pop(1);
    return text;
}

// Each test runs in its own arguments window and must leave the cycle stack empty.
class Values : public testing::Test {
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) register_stand_ins();
        registered = true;
        saved_base_ = stack_s.arguments;
        saved_top_ = stack_s.top;
        stack_s.arguments = stack_s.top;
    }
    void TearDown() override
    {
        EXPECT_EQ(cycle_depth(), 0u) << "a walk left an entry on the cycle stack";
        cycle_reset();
        stack_s.arguments = saved_base_;
        stack_s.top = saved_top_;
    }
    // A refinement argument: a cell above the arguments base.
    static cell* arg(const cell& value) { return stack::push(&value); }
    template <class F>
    static uint32_t error_of(F&& f)
    {
        try {
            f();
        } catch (const script_error_unwind&) {
            return raised_error_get().code();
        }
        return 0;
    }

private:
    cell* saved_base_ = nullptr;
    cell* saved_top_ = nullptr;
};

constexpr uint32_t code(uint32_t category, uint32_t id) { return category * 100 + id; }

}  // namespace tv
