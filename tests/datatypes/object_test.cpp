// object!: class ids, making from blocks and prototypes, copying, reflection, form and mold with
// cycles, path steps, comparison, and the errors of select, put, copy and make.
#include "datatypes/objects.h"

namespace {

using tob::field;
using tob::object_of;
using tob::word;
using tv::code;

class Object : public tob::Objects {
protected:
    // Stores a value into an object's field through a path step, as `o/name: value` does.
    static cell* push_word(const char* name)
    {
        cell w = word(name);
        return stack::push(&w);
    }
    static void set_path(cell* o, const char* name, const cell& value)
    {
        cell* w = push_word(name);
        cell* v = stack::push(&value);
        object::eval_path(o, w, v, &none_value, nullptr, nullptr, 0, false, false, false, true);
        stack_s.top = w;
    }
};
class ObjectClass : public Object {};

TEST_F(ObjectClass, FirstRunTimeObjectTakesTheIdAfterTheBootRange)
{
    if (object_s.class_counter != FIRST_RUNTIME_CLASS) GTEST_SKIP() << "objects were made earlier in this process";
    EXPECT_EQ(make("a: 1")->data2, FIRST_RUNTIME_CLASS + 1);
}

TEST_F(Object, ClassIdsFollowTheFieldsAPrototypeGains)
{
    cell* proto = make("a: 1");
    uint32_t id = proto->data2;
    EXPECT_GT(id, FIRST_RUNTIME_CLASS);
    EXPECT_EQ(make("a: 2", proto)->data2, id) << "same fields: the prototype's class";
    EXPECT_GT(make("b: 2", proto)->data2, id) << "a new field: a new class";
    EXPECT_EQ(tob::Objects::make("", proto)->data2, id);
    cell* same = object_of("a: 5");
    cell made = *object::make(proto, same, TYPE_OBJECT);
    EXPECT_EQ(made.data2, id) << "an object spec adding nothing";
    cell* wider = object_of("c: 5");
    made = *object::make(proto, wider, TYPE_OBJECT);
    EXPECT_GT(made.data2, id);
    // Mended: with no object as prototype, even a spec that adds nothing gets a class of its own.
    cell datatype{TYPE_DATATYPE, TYPE_OBJECT, 0, 0};
    cell* empty = object_of("");
    uint32_t first = object::make(&datatype, empty, TYPE_OBJECT)->data2;
    uint32_t second = object::make(&datatype, empty, TYPE_OBJECT)->data2;
    EXPECT_GT(first, FIRST_RUNTIME_CLASS);
    EXPECT_NE(first, second);
    // construct: a copy keeps the prototype's class even when it gains fields.
    EXPECT_EQ(object_of("z: 1", proto)->data2, id);
}

TEST_F(Object, MakeBindsTheSpecAndCopiesThePrototypesSeriesIntoTheNewObject)
{
    cell* proto = make("a: 1 list: none");
    cell* list = tv::read("a");
    context::bind_word(proto->data1, block::rs_head(list));
    cell blk = *list;
    cell key = word("list");
    object::put(proto, &key, &blk, false);
    cell* made = make("a: 2", proto);
    cell copied = field(made, "list");
    EXPECT_NE(copied.data2, blk.data2) << "the series is the object's own";
    EXPECT_EQ(block::rs_head(&copied)->data1, made->data1) << "its words are bound to the new object";
    EXPECT_EQ(block::rs_head(&blk)->data1, proto->data1) << "the prototype's stay bound to it";
    EXPECT_EQ(field(made, "a").data2, 2u);
    EXPECT_EQ(field(proto, "a").data2, 1u);
}

TEST_F(Object, MakeRefusesOtherSpecsAndNeedsTheEvaluatorForABlock)
{
    cell datatype{TYPE_DATATYPE, TYPE_OBJECT, 0, 0};
    cell number = tv::integer(5);
    EXPECT_EQ(error_of([&] { object::make(&datatype, &number, TYPE_OBJECT); }), code(ERR_SYNTAX, err::MALCONSTRUCT));
    object::evaluate_hook = nullptr;
    cell* spec = tv::read("a: 1");
    EXPECT_EQ(error_of([&] { object::make(&datatype, spec, TYPE_OBJECT); }), code(ERR_INTERNAL, err::NOT_DONE));
}

TEST_F(Object, ConstructTakesLiteralValuesAndTheLogicWords)
{
    cell* o = object_of("a: b: 1 c: yes d: off e: none f: x g:");
    EXPECT_EQ(tv::mold(o, false, false, true), "make object! [a: 1 b: 1 c: true d: false e: none f: 'x g: none]");
    cell* spec = tv::read("c: on");
    cell* only = object::make_from_spec(spec, nullptr, true);
    cell c = field(only, "c");
    EXPECT_EQ(cell_type(&c), uint32_t(TYPE_WORD)) << "/only keeps the word";
}

TEST_F(Object, MoldAndForm)
{
    cell* inner = object_of("c: 2");
    cell* o = object_of("a: 1 b: x n: none");
    cell empty = *object_of("");
    struct row {
        bool only, all, flat;
        const char* expected;
    };
    const row rows[] = {
        {false, false, false, "make object! [\n    a: 1\n    b: 'x\n    n: none\n]"},
        {false, false, true, "make object! [a: 1 b: 'x n: none]"},
        {true, false, false, "a: 1\nb: 'x\nn: none"},
    };
    for (const row& r : rows) EXPECT_EQ(tv::mold(o, r.only, r.all, r.flat), r.expected) << r.expected;
    EXPECT_EQ(tv::form(o), "a: 1\nb: 'x\nn: none");
    EXPECT_EQ(test::mold(empty), "make object! []");
    set_path(o, "n", *inner);
    EXPECT_EQ(tv::mold(o), "make object! [\n    a: 1\n    b: 'x\n    n: make object! [\n        c: 2\n    ]\n]");
    EXPECT_EQ(tv::mold(o, false, false, true), "make object! [a: 1 b: 'x n: make object! [c: 2]]");
    // An object inside itself writes the marker instead of recursing.
    set_path(o, "n", *o);
    EXPECT_EQ(tv::mold(o, false, false, true), "make object! [a: 1 b: 'x n: make object! [...]]");
    EXPECT_EQ(tv::form(o), "a: 1\nb: 'x\nn: make object! [...]") << "form molds the values";
}

TEST_F(Object, ReflectChangedListsTheFieldsStoredIntoSinceMake)
{
    cell* o = make("a: 1 b: 2");
    cell field_changed = word("changed");
    cell r = *object::reflect(stack::push(o), &field_changed);
    EXPECT_EQ(tv::mold(&r), "[]");
    set_path(o, "a", tv::integer(2));
    r = *object::reflect(stack::push(o), &field_changed);
    EXPECT_EQ(tv::mold(&r), "[a]");
    cell none = none_value;
    object::modify(o, &field_changed, &none, false);
    r = *object::reflect(stack::push(o), &field_changed);
    EXPECT_EQ(tv::mold(&r), "[]");
    cell one = tv::integer(1);
    EXPECT_EQ(error_of([&] { object::modify(o, &field_changed, &one, false); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(Object, ReflectFields)
{
    cell* o = object_of("a: 1 b: x");
    struct row {
        const char* field;
        const char* expected;
    };
    const row rows[] = {
        {"words", "[a b]"}, {"values", "[1 x]"}, {"body", "[\n    a: 1\n    b: 'x\n]"}, {"events?", "false"},
        {"owner", "false"},
    };
    for (const row& r : rows) {
        cell f = word(r.field);
        cell result = *object::reflect(stack::push(o), &f);
        EXPECT_EQ(tv::mold(&result), r.expected) << r.field;
    }
    cell f = word("words");
    cell words = *object::reflect(stack::push(o), &f);
    EXPECT_EQ(block::rs_head(&words)[1].data1, o->data1) << "words are bound to the object";
    f = word("class");
    EXPECT_EQ(object::reflect(stack::push(o), &f)->data2, o->data2);
    f = word("spec");
    EXPECT_EQ(error_of([&] { object::reflect(stack::push(o), &f); }), code(ERR_INTERNAL, err::NOT_DONE));
}

TEST_F(Object, ToAndMakeBlockGiveTheBody)
{
    cell* o = object_of("a: 1 b: x");
    cell datatype{TYPE_DATATYPE, TYPE_BLOCK, 0, 0};
    cell to = *block::to(&datatype, o, TYPE_BLOCK);
    EXPECT_EQ(tv::mold(&to, false, false, true), "[a: 1 b: 'x]");
    EXPECT_EQ(block::rs_head(&to)->data1, o->data1) << "the set-words are bound to the object";
    cell made = *block::make(&datatype, o, TYPE_PAREN);
    EXPECT_EQ(tv::mold(&made, false, false, true), "(a: 1 b: 'x)");
}

TEST_F(Object, SelectAndPutTakeWordsOnly)
{
    cell* o = object_of("a: 1");
    cell key = word("a");
    EXPECT_EQ(object::select(stack::push(o), &key, nullptr, false, false, false, false, nullptr, nullptr, false,
                             false, false, false)->data2, 1u);
    cell absent = word("zz");
    EXPECT_EQ(cell_type(object::select(stack::push(o), &absent, nullptr, false, false, false, false, nullptr,
                                       nullptr, false, false, false, false)), uint32_t(TYPE_NONE));
    cell one = tv::integer(1);
    EXPECT_EQ(error_of([&] { object::select(stack::push(o), &one, nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false, false, false); }),
              code(ERR_SCRIPT, err::INVALID_TYPE));
    cell* text = tv::read("\"a\"");
    EXPECT_EQ(error_of([&] { object::put(o, block::rs_head(text), &one, false); }),
              code(ERR_SCRIPT, err::INVALID_KEY_TYPE));
    cell two = tv::integer(2);
    object::put(o, &key, &two, false);
    EXPECT_EQ(field(o, "a").data2, 2u);
}

TEST_F(Object, PathStepsAndTheirNotFoundRules)
{
    cell* o = make("a: 1 u: 2");
    cell u = word("u");
    *object::select_word(o, &u) = unset_value;
    cell* path = tv::read("o a");
    struct row {
        const char* element;
        bool get, tail;
        uint32_t error;   // 0: the result is read
    };
    const row rows[] = {
        {"a", false, false, 0},
        {"zz", false, false, code(ERR_SCRIPT, err::UNSET_PATH)},
        {"u", false, false, code(ERR_SCRIPT, err::UNSET_PATH)},
        {"zz", false, true, code(ERR_SCRIPT, err::INVALID_PATH)},
        {"zz", true, true, 0},
    };
    for (const row& r : rows) {
        cell* e = push_word(r.element);
        uint32_t error = error_of([&] { object::eval_path(o, e, nullptr, path, nullptr, nullptr, 1, false, r.get, r.tail, false); });
        EXPECT_EQ(error, r.error) << r.element << " get " << r.get << " tail " << r.tail;
    }
    cell* a = push_word("A");
    EXPECT_EQ(object::eval_path(o, a, nullptr, path, nullptr, nullptr, 1, false, false, false, false)->data2, 1u);
    EXPECT_EQ(a->data1, o->data1) << "the element is bound to the object";
    cell* missing = push_word("zz");
    cell* unset = object::eval_path(o, missing, nullptr, path, nullptr, nullptr, 1, false, true, true, false);
    EXPECT_EQ(cell_type(unset), uint32_t(TYPE_UNSET));
    cell one = tv::integer(1);
    EXPECT_EQ(error_of([&] { object::eval_path(o, &one, nullptr, path, nullptr, nullptr, 1, false, false, false, false); }),
              code(ERR_SCRIPT, err::INVALID_PATH));
}

TEST_F(Object, CompareByFieldsInOrder)
{
    cell* a = object_of("x: 1 y: 2");
    struct row {
        const char* other;
        int32_t expected;
    };
    const row rows[] = {
        {"x: 1 y: 2", 0}, {"x: 1 y: 3", -1}, {"x: 1", 1}, {"x: 1 y: 2 z: 3", -1}, {"x: 1 y: x", -1},
    };
    for (const row& r : rows) {
        cell* b = object_of(r.other);
        EXPECT_EQ(object::compare(a, b, COMP_EQUAL) == 0, r.expected == 0) << r.other;
        if (r.expected) {
            EXPECT_EQ(object::compare(a, b, COMP_LESSER) < 0, r.expected < 0) << r.other;
        }
    }
    // Fields in a different order: the first differing field name decides, by symbol id.
    cell* swapped = object_of("y: 2 x: 1");
    int32_t r = object::compare(a, swapped, COMP_EQUAL);
    EXPECT_NE(r, 0);
    EXPECT_EQ(r, -object::compare(swapped, a, COMP_EQUAL));
    EXPECT_EQ(object::compare(a, a, COMP_SAME), 0);
    EXPECT_EQ(object::compare(a, object_of("x: 1 y: 2"), COMP_SAME), -1);
    cell num = tv::integer(1);
    EXPECT_EQ(object::compare(a, &num, COMP_EQUAL), -2);
    // Two objects that each contain themselves compare without endless recursion.
    cell* c1 = object_of("me: none");
    cell* c2 = object_of("me: none");
    set_path(c1, "me", *c1);
    set_path(c2, "me", *c2);
    EXPECT_EQ(object::compare(c1, c2, COMP_EQUAL), 0);
}

TEST_F(Object, CopyDeepGivesIndependentSeries)
{
    cell* o = object_of("s: \"abc\" n: 1");
    cell* shallow = object::copy(stack::push(o), stack::push_slot(), nullptr, false, nullptr);
    EXPECT_EQ(field(shallow, "s").data2, field(o, "s").data2);
    EXPECT_EQ(shallow->data2, o->data2) << "a copy keeps the class";
    EXPECT_NE(shallow->data1, o->data1);
    cell* deep = object::copy(stack::push(o), stack::push_slot(), nullptr, true, nullptr);
    EXPECT_NE(field(deep, "s").data2, field(o, "s").data2);
    EXPECT_EQ(tv::mold(deep, false, false, true), "make object! [s: \"abc\" n: 1]");
    cell* part = arg(tv::integer(1));
    EXPECT_EQ(error_of([&] { object::copy(stack::push(o), stack::push_slot(), part, false, nullptr); }),
              code(ERR_SCRIPT, err::INVALID_REFINE_ARG));
}

// Copies hold only their values: the word table is the source's until a copy gains a word, and
// then only that copy has it.
TEST_F(Object, CopiesShareTheWordTableUntilOneGainsAWord)
{
    cell* o = object_of("a: 1 b: 2");
    cell* same = object::copy(stack::push(o), stack::push_slot(), nullptr, false, nullptr);
    cell* wider = object::copy(stack::push(o), stack::push_slot(), nullptr, false, nullptr);
    node_ref shared = context::table_of(o->data1);
    EXPECT_EQ(context::table_of(same->data1), shared);
    EXPECT_EQ(context::table_of(wider->data1), shared);
    context::add_word(wider->data1, symbol::make("ob-gained"));
    EXPECT_NE(context::table_of(wider->data1), shared);
    EXPECT_EQ(context::table_of(same->data1), shared);
    EXPECT_EQ(context::word_count(o->data1), 2u);
    EXPECT_EQ(context::word_count(same->data1), 2u);
    EXPECT_EQ(context::word_count(wider->data1), 3u);
    EXPECT_EQ(context::word_at(same->data1, 1).data1, same->data1) << "an entry is bound to the object read";
    // Adding a word already there keeps the table shared.
    context::add_word(same->data1, symbol::make("A"));
    EXPECT_EQ(context::table_of(same->data1), shared);
}

// Where a path step found a field is kept by word table; a table that a collection freed may give
// its node to another table, whose fields lie elsewhere.
TEST_F(Object, PathFieldForgetsTablesThatACollectionMayHaveFreed)
{
    cell y = word("pf-y");
    cell* mark = stack::top();
    collector::do_cycle();   // the nodes freed below are among the first handed out again
    cell* first = object_of("pf-x: 1 pf-y: 2");
    node_ref table = context::table_of(first->data1);
    EXPECT_EQ(object::path_field(first, &y, nullptr)->data2, 2u);
    stack_s.top = mark;
    // Each try takes one more node first, so some try's table takes the freed table's node.
    for (int i = 0; i < 64; i++) {
        collector::do_cycle();
        for (int k = 0; k < i; k++) bytes_alloc(16);
        cell* other = object_of("pf-y: 3 pf-x: 4");
        if (context::table_of(other->data1) == table) {
            EXPECT_EQ(object::path_field(other, &y, nullptr)->data2, 3u);
            return;
        }
        stack_s.top = mark;
    }
    GTEST_SKIP() << "no new table took the freed one's node";
}

TEST_F(Object, ExtendFromAnObjectSpec)
{
    cell* proto = object_of("a: 1 s: \"x\"");
    cell* spec = object_of("a: 2 b: 3");
    cell made = *object::make(proto, spec, TYPE_OBJECT);
    cell* m = stack::push(&made);
    EXPECT_EQ(tv::mold(m, false, false, true), "make object! [a: 2 s: \"x\" b: 3]");
    EXPECT_NE(field(m, "s").data2, field(proto, "s").data2) << "series are copied for the new object";
}

TEST_F(Object, CopyRemakesFunctionsForTheCopy)
{
    cell* o = object_of("a: 1 f: none");
    cell* fn = tob::handler("");
    cell more{TYPE_BLOCK, 0, fn->data3, 0};
    cell body = block::rs_head(&more)[function::MORE_BODY];
    cell a = word("a");
    block::rs_append(&body, &a);
    context::bind(&body, o->data1, true);   // as make binds a function's body to its object
    cell key = word("f");
    object::put(o, &key, fn, false);
    cell* copied = object::copy(stack::push(o), stack::push_slot(), nullptr, false, nullptr);
    cell f2 = field(copied, "f");
    EXPECT_NE(f2.data3, fn->data3) << "the copy has a function of its own";
    EXPECT_NE(f2.data1, fn->data1) << "with arguments of its own";
    cell more2{TYPE_BLOCK, 0, f2.data3, 0};
    cell body2 = block::rs_head(&more2)[function::MORE_BODY];
    EXPECT_EQ(block::rs_head(&body2)->data1, copied->data1) << "its body reads the copy's fields";
    EXPECT_EQ(block::rs_head(&body)->data1, o->data1);
    // A function without a body cannot be made again.
    block::rs_head(&more)[function::MORE_BODY] = none_value;
    EXPECT_EQ(error_of([&] { object::copy(stack::push(o), stack::push_slot(), nullptr, false, nullptr); }),
              code(ERR_SCRIPT, err::BAD_FUNC_DEF));
}

}  // namespace
