// port!: make through system/schemes, the forwarding of actions to a recording test scheme's
// actor (arguments in spec order, refinements as logic! plus argument or none), read as open, copy
// and close, the access errors, and the text form.
#include <functional>
#include <string>
#include <vector>

#include "datatypes/objects.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/word.h"

namespace {

using tob::object_of;
using tv::code;

// Each actor call: the action, then its arguments ("port", true/false, none, numbers, texts).
std::vector<std::string> calls;

std::string text_of(const cell* v)
{
    switch (cell_type(v)) {
    case TYPE_PORT: return "port";
    case TYPE_LOGIC: return v->data1 ? "true" : "false";
    case TYPE_NONE: return "none";
    case TYPE_INTEGER: return std::to_string(int32_t(v->data2));
    default: return tv::mold(const_cast<cell*>(v));
    }
}

// The evaluator's function call, as the port module relies on it: the result lands in the cell at
// the top where the call began. copy answers "data", length? 7, every other action the port.
void recording_call(cell*, const cell* name, cell* args, uint32_t count, uint32_t)
{
    cell* result = stack::top();
    std::string text = tv::form(const_cast<cell*>(name));
    for (uint32_t i = 0; i < count; i++) text += " " + text_of(args + i);
    calls.push_back(text);
    cell answer = args[0];
    if (text.rfind("copy", 0) == 0) answer = *block::rs_head(tv::read("\"data\""));
    else if (text.rfind("length?", 0) == 0) answer = tv::integer(7);
    *result = answer;
    stack_s.top = result;
}

class Port : public tob::Objects {
protected:
    cell* system_word = nullptr;

    void SetUp() override
    {
        Objects::SetUp();
        calls.clear();
        object::call_handler_hook = recording_call;
        // system/standard/port, system/standard/url-parts and system/schemes/test, whose actor has
        // every action but clear.
        cell* sys = object_of("standard: none schemes: none");
        cell* standard = object_of("port: none url-parts: none");
        context::put_value(standard->data1, symbol::make("port"),
                           object_of("spec: none scheme: none actor: none awake: none state: none data: none extra: none"));
        context::put_value(standard->data1, symbol::make("url-parts"),
                           object_of("scheme: none user-info: none host: none port: none path: none target: none "
                                     "query: none fragment: none ref: none"));
        context::put_value(sys->data1, symbol::make("standard"), standard);
        cell* actor = object_of("");
        const char* actions[][2] = {
            {"open", "port /new /read /write /seek /allow access"},
            {"copy", "port /part length /deep /types kind"},
            {"close", "port"},
            {"append", "series value /part length /only /dup count"},
            {"pick", "series index"},
            {"length?", "series"},
            {"find", "series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match"},
            {"select", "series value /part length /only /case /same /any /with wild /skip size /last /reverse"},
            {"write", "port data /binary /lines /info /append /part length /seek index /allow access /as encoding"},
        };
        for (auto& a : actions) context::put_value(actor->data1, symbol::make(a[0]), tob::handler(a[1]));
        cell* scheme = object_of("name: test title: none info: none actor: none awake: none");
        context::put_value(scheme->data1, symbol::make("actor"), actor);
        cell* bad = object_of("name: bad actor: 5");
        cell* schemes = object_of("test: none bad: none");
        context::put_value(schemes->data1, symbol::make("test"), scheme);
        context::put_value(schemes->data1, symbol::make("bad"), bad);
        context::put_value(sys->data1, symbol::make("schemes"), schemes);
        system_word = word::load("system");
        word::set(system_word, sys);
    }
    void TearDown() override
    {
        word::set(system_word, &none_value);
        Objects::TearDown();
    }

    cell* make_port(const char* spec)
    {
        cell proto = datatype::value_of(TYPE_PORT);
        return port::make(&proto, object_of(spec), TYPE_PORT);
    }
};

TEST_F(Port, MakeTakesTheSchemesActor)
{
    cell* p = make_port("scheme: test host: \"here\"");
    EXPECT_EQ(cell_type(p), uint32_t(TYPE_PORT));
    EXPECT_EQ(p->data2, port::PORT_CLASS);
    cell scheme = tob::field(p, "scheme");
    EXPECT_EQ(text_of(&scheme), "test");
    cell actor = port::get_actor(p);
    EXPECT_EQ(cell_type(&actor), uint32_t(TYPE_OBJECT));
    std::string molded = tv::mold(p);
    EXPECT_EQ(molded.rfind("make port! [", 0), 0u) << molded;
    EXPECT_EQ(tv::form(p), molded) << "form is mold";
}

TEST_F(Port, ReadIsOpenCopyClose)
{
    cell* p = make_port("scheme: test");
    cell* r = port::read(stack::push(p), nullptr, nullptr, false, false, false, nullptr);
    EXPECT_EQ(tv::mold(r), "\"data\"");
    std::vector<std::string> want = {"open port false false false false false none", "copy port false none false false none",
                                     "close port"};
    EXPECT_EQ(calls, want);
    calls.clear();
    cell five = tv::integer(5), ten = tv::integer(10);
    cell* part = stack::push(&five);
    cell* seek = stack::push(&ten);
    port::read(stack::push(p), part, seek, false, false, false, nullptr);
    want = {"open port false false false true false none", "copy port true 5 false false none", "close port"};
    EXPECT_EQ(calls, want) << "/seek reaches open as its flag, /part reaches copy";
}

TEST_F(Port, ActionsForwardTheirArgumentsInSpecOrder)
{
    cell* p = make_port("scheme: test");
    cell two = tv::integer(2), three = tv::integer(3);
    cell x = *tv::read("\"x\"");
    x = *block::rs_head(&x);
    struct row { const char* name; std::function<void()> act; const char* call; };
    const row rows[] = {
        {"append/part/dup", [&] { actions_of(TYPE_PORT).append(stack::push(p), &x, stack::push(&two), false, stack::push(&three)); },
         "append port \"x\" true 2 false true 3"},
        {"append/only", [&] { actions_of(TYPE_PORT).append(stack::push(p), &x, nullptr, true, nullptr); },
         "append port \"x\" false none true false none"},
        {"pick", [&] { actions_of(TYPE_PORT).pick(stack::push(p), 2, &two); }, "pick port 2"},
        {"find/skip/tail", [&] {
             actions_of(TYPE_PORT).find(stack::push(p), &x, nullptr, false, false, false, false, nullptr, stack::push(&two),
                                        false, false, true, false);
         }, "find port \"x\" false none false false false false false none true 2 false false true false"},
        {"select has no /tail or /match", [&] {
             actions_of(TYPE_PORT).select(stack::push(p), &x, nullptr, false, true, false, false, nullptr, nullptr,
                                          false, false, false, false);
         }, "select port \"x\" false none false true false false false none false none false false"},
        {"write/append/as", [&] {
             actions_of(TYPE_PORT).write(stack::push(p), &x, false, false, false, true, nullptr, nullptr, nullptr,
                                         stack::push(&three));
         }, "write port \"x\" false false false true false none false none false none true 3"},
    };
    for (const row& r : rows) {
        calls.clear();
        r.act();
        ASSERT_EQ(calls.size(), 1u) << r.name;
        EXPECT_EQ(calls[0], r.call) << r.name;
    }
    EXPECT_EQ(actions_of(TYPE_PORT).length_q(stack::push(p)), 7) << "length? answers the integer the actor gave";
}

TEST_F(Port, Errors)
{
    cell* p = make_port("scheme: test");
    EXPECT_EQ(raised([&] { actions_of(TYPE_PORT).clear(stack::push(p)); }), code(ERR_ACCESS, err::NO_PORT_ACTION));
    cell named = raised_error_get().args[0];
    EXPECT_EQ(tv::form(&named), "clear") << "the error names the action";
    cell two = tv::integer(2);
    struct row { const char* name; std::function<void()> act; uint32_t error; };
    const row rows[] = {
        {"unregistered scheme", [&] { make_port("scheme: nowhere"); }, code(ERR_ACCESS, err::UNKNOWN_SCHEME)},
        {"no scheme word", [&] { make_port("scheme: none"); }, code(ERR_ACCESS, err::NO_SCHEME)},
        {"not an object: a url-parts copy without a scheme", [&] {
             cell proto = datatype::value_of(TYPE_PORT);
             port::make(&proto, stack::push(&two), TYPE_PORT);
         }, code(ERR_ACCESS, err::NO_SCHEME)},
        {"scheme without a usable actor", [&] { make_port("scheme: bad"); }, code(ERR_ACCESS, err::INVALID_ACTOR)},
        {"port whose actor is no object", [&] {
             cell q = *p;
             cell* held = stack::push(&q);
             cell copy = *object::clone(held, stack::push_slot(), false, nullptr, false);
             cell_set_type(&copy, TYPE_PORT);
             cell* c = stack::push(&copy);
             context::put_value(c->data1, symbol::make("actor"), &none_value);
             port::read(c, nullptr, nullptr, false, false, false, nullptr);
         }, code(ERR_ACCESS, err::INVALID_PORT)},
    };
    for (const row& r : rows) EXPECT_EQ(raised(r.act), r.error) << r.name;
}

}  // namespace
