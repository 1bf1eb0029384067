// function! and routine!: the spec checker's rules, making (the body copied deep and bound), the
// locals of the function native, reflection, form, mold and compare.
#include "datatypes/callables.h"

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"

namespace {

using namespace tv;
using Function = Callables;

constexpr uint32_t BAD_FUNC_DEF = code(ERR_SCRIPT, err::BAD_FUNC_DEF);
constexpr uint32_t BAD_FUNC_EXTERN = code(ERR_SCRIPT, err::BAD_FUNC_EXTERN);
constexpr uint32_t BAD_MAKE_ARG = code(ERR_SCRIPT, err::BAD_MAKE_ARG);
constexpr uint32_t DUP_VARS = code(ERR_SCRIPT, err::DUP_VARS);
constexpr uint32_t INVALID_TYPE_SPEC = code(ERR_SCRIPT, err::INVALID_TYPE_SPEC);
constexpr uint32_t NO_VALUE = code(ERR_SCRIPT, err::NO_VALUE);

TEST_F(Function, ValidateSpec)
{
    cell any_typeset{TYPE_TYPESET, 0, 0, 0};
    cell typeset_word = word_of("fn-test-typeset");
    word::set(&typeset_word, &any_typeset);
    struct row {
        const char* spec;
        uint32_t error;   // 0: accepted
        uint32_t flags;
    };
    const row rows[] = {
        {"a [integer!] \"doc\" b", 0, 0},
        {"a \"doc\" [integer!]", BAD_FUNC_DEF, 0},   // the doc string stands before the types
        {"\"doc\" 'a [fn-test-typeset] :b", 0, 0},
        {"a /local b", 0, 0},
        {"a /local b :c", BAD_FUNC_DEF, 0},
        {"a /local b 'c", BAD_FUNC_DEF, 0},
        {"/local a /b", BAD_FUNC_DEF, 0},
        {"a return: [integer!] b", BAD_FUNC_DEF, 0},
        {"a return: [integer!] /local b", 0, 0},
        {"a return: [integer!] \"doc\"", 0, 0},
        {"a return: [integer!] /ref", BAD_FUNC_DEF, 0},
        {"a return: [integer!] b:", BAD_FUNC_DEF, 0},
        {"return: [integer!] return: [integer!]", BAD_FUNC_DEF, 0},
        {"result: [integer!]", BAD_FUNC_DEF, 0},
        {"a return: integer!", BAD_FUNC_DEF, 0},
        {"/ref [integer!]", BAD_FUNC_DEF, 0},
        {"/ref \"doc\" b", 0, 0},
        {"a 1", BAD_FUNC_DEF, 0},
        {"[trace] a", 0, function::TRACE},
        {"[no-trace] a", 0, function::NO_TRACE},
        {"[catch] a", 0, 0},
        {"[trace 1] a", BAD_FUNC_DEF, 0},
        {"a [fn-test-unset]", NO_VALUE, 0},
        {"a [1]", INVALID_TYPE_SPEC, 0},
        {"a b a", DUP_VARS, 0},
        {"a /A", DUP_VARS, 0},
        {"a /local /local", DUP_VARS, 0},
        {"", 0, 0},
    };
    for (const row& r : rows) {
        uint32_t flags = 0;
        EXPECT_EQ(error_of([&] { flags = function::validate_spec(read(r.spec)); }), r.error) << r.spec;
        EXPECT_EQ(flags, r.flags) << r.spec;
    }
    // The duplicate reported is the later one, as written.
    error_of([&] { function::validate_spec(read("a b /A")); });
    EXPECT_EQ(mold(&raised_error_slot().args[0]), "/A");
}

TEST_F(Function, MakeTakesTwoLeadingBlocks)
{
    cell* fn = make_func("a", "a + 1");
    EXPECT_EQ(mold(fn), "func [a][a + 1]");

    cell proto{TYPE_DATATYPE, TYPE_FUNCTION, 0, 0};
    cell* extra = read("[a] [a] extra");
    EXPECT_EQ(mold(function::make(&proto, extra, TYPE_FUNCTION)), "func [a][a]");
    for (const char* text : {"[a]", "a [a]", "[a] a", ""})
        EXPECT_EQ(error_of([&] { function::make(&proto, read(text), TYPE_FUNCTION); }), BAD_FUNC_DEF) << text;
    cell one = integer(1);
    EXPECT_EQ(error_of([&] { function::make(&proto, &one, TYPE_FUNCTION); }), BAD_FUNC_DEF);
    EXPECT_EQ(error_of([&] { make_func("a a", ""); }), DUP_VARS);
}

// The body is copied deep (parens and paths included) and bound to the function's context; the
// source body keeps its words as they were.
TEST_F(Function, PushCopiesTheBodyDeepAndBindsTheCopy)
{
    cell* body = read("a [b (a)] c");
    cell path = *read("a b");
    cell_set_type(&path, TYPE_PATH);
    block::rs_append(body, &path);
    cell* spec = read("x a /local b");
    spec->data1 = 1;   // the spec is read from its head: x is not part of it
    cell body_value = *body;
    node_ref ctx = function::push(spec, body, 0, function::TRACE);
    cell* fn = stack::top() - 1;
    EXPECT_EQ(fn->header, uint32_t(TYPE_FUNCTION | function::TRACE));
    EXPECT_EQ(fn->data1, ctx);
    EXPECT_NE(fn->data2, spec->data2);
    EXPECT_EQ(test::mold(cell{TYPE_BLOCK, 0, fn->data2, 0}), "[a /local b]");
    EXPECT_EQ(context::owner_of(ctx)->data3, fn->data3) << "the context's owner is the function";

    cell copy = *reflected(fn, "body");
    EXPECT_EQ(mold(&copy), "[a [b (a)] c a/b]");
    cell inner = block::rs_head(&copy)[1];
    cell paren = block::rs_head(&inner)[1];
    cell path_copy = block::rs_head(&copy)[3];
    EXPECT_NE(copy.data2, body_value.data2);
    EXPECT_NE(inner.data2, block::rs_head(&body_value)[1].data2);
    EXPECT_NE(path_copy.data2, path.data2);
    struct bound {
        cell word;
        int32_t position;   // -1: left as it was (global)
    };
    const bound words[] = {
        {block::rs_head(&copy)[0], 0}, {block::rs_head(&inner)[0], 2}, {block::rs_head(&paren)[0], 0},
        {block::rs_head(&copy)[2], -1}, {block::rs_head(&path_copy)[1], 2}, {block::rs_head(&body_value)[0], -1},
    };
    for (const bound& w : words) {
        std::string name = test::mold(w.word);
        if (w.position < 0) {
            EXPECT_EQ(w.word.data1, context_s.global) << name;
        } else {
            EXPECT_EQ(w.word.data1, ctx) << name;
            EXPECT_EQ(int32_t(w.word.data3), w.position) << name;
        }
    }
    cell more{TYPE_BLOCK, 0, fn->data3, 0};
    ASSERT_EQ(block::rs_length(&more), uint32_t(function::MORE_CELLS));
    for (uint32_t i = function::MORE_CACHE; i < function::MORE_CELLS; i++)
        EXPECT_EQ(cell_type(&block::rs_head(&more)[i]), uint32_t(TYPE_UNSET)) << "more cell " << i;

    // A given context is taken as it is, and the copy stays unbound.
    cell* other_body = read("a");
    function::push(read("a"), other_body, ctx, 0);
    cell* with_given = stack::top() - 1;
    EXPECT_EQ(with_given->data1, ctx);
    cell unbound = *reflected(with_given, "body");
    EXPECT_EQ(block::rs_head(&unbound)->data1, context_s.global);
}

TEST_F(Function, ReflectGivesTheStoredSeries)
{
    cell* fn = make_func("a /b c", "a");
    EXPECT_EQ(reflected(fn, "spec")->data2, fn->data2);
    cell body = *reflected(fn, "body");
    cell extra = word_of("d");
    block::rs_append(&body, &extra);
    EXPECT_EQ(mold(fn), "func [a /b c][a d]") << "changing body-of changes the function";

    cell words = *reflected(fn, "words");
    EXPECT_EQ(mold(&words), "[a b c]");
    for (uint32_t i = 0; i < 3; i++) EXPECT_EQ(block::rs_head(&words)[i].data1, fn->data1);
    EXPECT_EQ(error_of([&] { reflected(fn, "class"); }), code(ERR_INTERNAL, err::NOT_DONE));
}

TEST_F(Function, CompareIsIdentity)
{
    cell f = *make_func("a", "a");
    cell same_text = *make_func("a", "a");
    cell r = *routine::push(read("a"), nullptr, FILLED_ROUTINE, -1, false);
    EXPECT_EQ(test::compare(f, f, COMP_EQUAL), 0);
    EXPECT_NE(test::compare(f, same_text, COMP_EQUAL), 0);
    EXPECT_EQ(test::compare(f, f, COMP_LESSER), -2);
    EXPECT_EQ(test::compare(f, r, COMP_EQUAL), -2);
    EXPECT_EQ(test::compare(r, r, COMP_SAME), 0);
}

TEST_F(Function, CountAndInitLocals)
{
    struct row {
        const char* spec;
        uint32_t head;
        int32_t count, strict;
    };
    const row rows[] = {
        {"a /local b c", 0, 3, 3}, {"a", 0, 0, -1}, {"/local", 0, 1, 1},
        {"a /local b \"doc\" c", 0, 3, 3}, {"/local b a", 1, 0, -1},
    };
    for (const row& r : rows) {
        cell* s = read(r.spec);
        EXPECT_EQ(function::count_locals(s->data2, r.head, false), r.count) << r.spec;
        EXPECT_EQ(function::count_locals(s->data2, r.head, true), r.strict) << r.spec;
    }
    cell* before = stack::top();
    function::init_locals(3);
    ASSERT_EQ(stack::top() - before, 3);
    EXPECT_EQ(before[0].header, uint32_t(TYPE_LOGIC));
    EXPECT_EQ(before[0].data1, 0u);
    EXPECT_EQ(before[1].header, uint32_t(TYPE_NONE));
    EXPECT_EQ(before[2].header, uint32_t(TYPE_NONE));
    function::init_locals(0);
    EXPECT_EQ(stack::top() - before, 3);
}

TEST_F(Function, CollectBodyWords)
{
    struct row {
        const char* spec;
        const char* body;
        const char* spec_after;
        const char* collected;
    };
    const row rows[] = {
        {"a", "b: 1 foreach c [1] []", "[a /local b c]", "[b c]"},
        {"a", "x: 1 (y: 2) [z: [w: 3]] x: 4", "[a /local x y z w]", "[x y z w]"},
        {"a /local b", "b: 1 c: 2", "[a /local b c]", "[c]"},
        {"a", "a: 1 A: 2", "[a]", "[]"},
        {"a", "foreach [k :v] m [] remove-each r s [] repeat i: 3 []", "[a /local k v r i]", "[k v r i]"},
        {"a", "map-each m [] []", "[a]", "[]"},
        {"a", "local: 1 b: 2", "[a /local b]", "[b]"},
        {"a /extern x", "x: 1 y: 2", "[a /local y]", "[y]"},
        {"a /extern x /local z", "y: 1", "[a /local z y]", "[z y]"},
        {"a \"doc\" [integer!] 1", "b: 1", "[a \"doc\" [integer!] 1 /local b]", "[b]"},
    };
    for (const row& r : rows) {
        cell* spec = read(r.spec);
        cell* collected = function::collect_body_words(spec, read(r.body));
        EXPECT_EQ(mold(spec), r.spec_after) << r.body;
        EXPECT_EQ(mold(collected), r.collected) << r.body;
    }
    // With /extern, the spec may hold only words, blocks and strings.
    EXPECT_EQ(error_of([&] { function::collect_body_words(read("a 1 /extern x"), read("b: 1")); }), BAD_FUNC_EXTERN);

    cell* itself = read("q: 1");
    cell self = *itself;
    block::rs_append(itself, &self);
    EXPECT_EQ(mold(function::collect_body_words(read("a"), itself)), "[q]") << "a body inside itself";
}

// The function native's path: collect, check, make.
TEST_F(Function, SpecOfAFunctionWithCollectedLocals)
{
    cell* spec = read("a");
    cell* body = read("b: 1 foreach c [1] []");
    function::collect_body_words(spec, body);
    function::push(spec, body, 0, function::validate_spec(spec));
    EXPECT_EQ(test::mold(*reflected(stack::top() - 1, "spec")), "[a /local b c]");
}

TEST_F(Function, Routine)
{
    cell* r = routine::push(read("a [integer!] b \"doc\" /ref"), read("x y"), FILLED_ROUTINE, TYPE_INTEGER, true);
    EXPECT_EQ(r->header, uint32_t(TYPE_ROUTINE | routine::CALL_MODE | 2 << routine::ARITY_SHIFT));
    EXPECT_EQ(form(r), "?routine?");
    EXPECT_EQ(mold(r), "routine [a [integer!] b \"doc\" /ref][x y]");
    EXPECT_EQ(test::mold(*reflected(r, "body")), "[x y]");
    EXPECT_EQ(test::mold(*reflected(r, "words")), "[a b ref]");
    cell more{TYPE_BLOCK, 0, r->data3, 0};
    EXPECT_EQ(block::rs_head(&more)[function::MORE_ENTRY].data2, FILLED_ROUTINE);
    EXPECT_EQ(int32_t(block::rs_head(&more)[function::MORE_ENTRY2].data2), int32_t(TYPE_INTEGER));

    cell* bodiless = routine::push(read("a"), nullptr, FILLED_ROUTINE, -1, false);
    EXPECT_EQ(bodiless->header, uint32_t(TYPE_ROUTINE | 1 << routine::ARITY_SHIFT));
    EXPECT_EQ(mold(bodiless), "routine [a] none");

    EXPECT_EQ(error_of([&] { routine::push(read("a"), nullptr, FILLED_ROUTINE + 1, -1, false); }), BAD_MAKE_ARG);
    std::string many;
    for (int i = 0; i < 32; i++) many += "w" + std::to_string(i) + " ";
    EXPECT_EQ(error_of([&] { routine::push(read(many.c_str()), nullptr, FILLED_ROUTINE, -1, false); }), BAD_FUNC_DEF)
        << "32 arguments do not fit the arity bits";
}

}  // namespace
