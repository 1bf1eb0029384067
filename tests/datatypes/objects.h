// Test support for objects and errors before the evaluator exists: objects built from text with
// construct's rules, a stand-in evaluator for make specs of set-words and literal values, and a
// stand-in for calling change handlers that records each call's arguments as molded text.
#pragma once
#include <string>
#include <vector>

#include "support/values.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/ownership.h"

namespace tob {

// An object made from the text by construct's rules (nothing evaluated), pushed on the stack.
inline cell* object_of(const char* text, const cell* proto = nullptr)
{
    cell* spec = tv::read(text);
    cell made = *object::make_from_spec(spec, proto, false);
    stack_s.top = spec;   // the object replaces its spec on the stack
    return stack::push(&made);
}

inline cell word(const char* name) { return tv::word_of(name); }

// A field's value, found by name.
inline cell field(const cell* object, const char* name)
{
    cell w = word(name);
    return *object::select_word(object, &w);
}

// Evaluates what make specs in these tests hold: runs of set-words followed by one literal value
// (a lit-word gives its word), each set through the word as an evaluator would.
inline void evaluate(cell* block)
{
    cell b = *block;
    uint32_t n = block::rs_length(&b);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t j = i;
        while (j < n && cell_type(block::rs_head(&b) + j) == TYPE_SET_WORD) j++;
        if (j == i) continue;
        cell v = j < n ? block::rs_head(&b)[j] : none_value;
        if (cell_type(&v) == TYPE_LIT_WORD) cell_set_type(&v, TYPE_WORD);
        cell* held = stack::push(&v);
        for (uint32_t k = i; k < j; k++) {
            cell* w = stack::push(block::rs_head(&b) + k);
            word::set(w, held);
            stack::pop(1);
        }
        stack::pop(1);
        i = j;
    }
}

// A function! of the spec read from the text and an empty body, pushed on the stack.
inline cell* handler(const char* spec)
{
    cell* s = tv::read(spec);
    cell* body = tv::read("");
    function::push(s, body, 0, 0);
    cell made = *(stack::top() - 1);
    stack_s.top = s;
    return stack::push(&made);
}

// Each handler call: its name, then every argument molded (an object as "object", a value of a type
// without mold by its type name or "?"), separated by " | ".
inline std::vector<std::string> calls;

inline cell record(const cell* handler, const cell* name, const cell* args, uint32_t count, bool)
{
    std::string text = tv::form(const_cast<cell*>(name));
    for (uint32_t i = 0; i < count; i++) {
        uint32_t t = cell_type(args + i);
        text += " | ";
        if (t == TYPE_OBJECT) text += "object";
        else if (t == TYPE_INTEGER && !actions_of(t).mold) text += std::to_string(int32_t(args[i].data2));
        else if (!actions_of(t).mold) text += datatype_s.types[t].name ? datatype_s.types[t].name : "?";
        else text += tv::mold(const_cast<cell*>(args + i));
    }
    calls.push_back(text);
    return unset_value;
}

// The count of locals the object's event record keeps for its on-change* handler.
inline uint32_t on_change_locals(const cell* object)
{
    return series_head_cell(series_of(object->data3))[0].data2 & 0xFFFF;
}

// An object of the fields in the text (construct's rules) with handler fields added: on-change* and
// on-deep-change* functions of the given specs (null: no such field); its events made as make does.
inline cell* with_handlers(const char* fields, const char* on_change, const char* on_deep)
{
    cell* o = object_of(fields);
    cell* mark = stack::top();
    const char* names[2] = {"on-change*", "on-deep-change*"};
    const char* specs[2] = {on_change, on_deep};
    for (int i = 0; i < 2; i++) {
        if (!specs[i]) continue;
        cell* f = handler(specs[i]);
        context::put_value(o->data1, symbol::make(names[i]), f);
        stack_s.top = mark;
    }
    object::init_events_from(o, o->data1);
    return o;
}

// Installs the stand-ins for a test and takes them away after it.
class Objects : public tv::Values {
protected:
    void SetUp() override
    {
        Values::SetUp();
        calls.clear();
        object::evaluate_hook = evaluate;
        saved_call = function::call_hook;
        function::call_hook = record;
    }
    void TearDown() override
    {
        object::evaluate_hook = nullptr;
        function::call_hook = saved_call;
        Values::TearDown();
    }
    decltype(function::call_hook) saved_call = nullptr;
    // make object! spec (proto: a datatype! or an object), the result left on the stack.
    static cell* make(const char* spec, const cell* proto = nullptr)
    {
        cell p = proto ? *proto : cell{TYPE_DATATYPE, TYPE_OBJECT, 0, 0};
        cell* s = tv::read(spec);
        cell* held_p = stack::push(&p);
        cell made = *object::make(held_p, s, TYPE_OBJECT);
        stack_s.top = s;
        return stack::push(&made);
    }
};

}  // namespace tob
