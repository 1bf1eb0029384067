// error!: the catalogue loaded at start-up and its check, making errors from codes, blocks and
// texts, the formed text with its budgets and optional lines, mold, paths and comparison.
#include <cstring>

#include "datatypes/objects.h"
#include "runtime/datatypes/error.h"
#include "runtime/embedded.h"
#include "runtime/io/lexer.h"

namespace {

using tob::word;
using tv::code;

class Error : public tob::Objects {
protected:
    void TearDown() override
    {
        error_s.state = none_value;
        Objects::TearDown();
    }
    static cell* make_error(const cell& spec)
    {
        cell datatype{TYPE_DATATYPE, TYPE_ERROR, 0, 0};
        cell* s = stack::push(&spec);
        return error::make(&datatype, s, TYPE_ERROR);
    }
    static cell field(const cell* e, error_field f) { return *context::get_value_at(e->data1, f); }
    static std::string kind(const cell* e)
    {
        cell t = field(e, EF_TYPE), i = field(e, EF_ID);
        return tv::form(&t) + "/" + tv::form(&i) + " " + std::to_string(field(e, EF_CODE).data2);
    }
    static std::string text(cell* e) { return tv::form(e); }
    // A state object as the system's: its stack-trace level.
    static void trace_level(int32_t level)
    {
        cell* state = tob::object_of("stack-trace: 0");
        cell* v = object::get_values(state);
        *v = test::integer(level);
        error_s.state = *state;
    }
};

TEST_F(Error, TheStartUpCatalogueMatchesTheRuntimesList)
{
    char problem[200] = "";
    EXPECT_TRUE(error::check_catalog(problem, sizeof problem)) << problem;
    EXPECT_EQ(kind(error::create(ERR_SCRIPT, err::KB_INVALID_RECORD)), "script/kb-invalid-record 393");
    EXPECT_EQ(kind(error::create(ERR_INTERNAL, err::DEPRECATED)), "internal/deprecated 913");
}

// A catalogue that differs from the runtime's list in order, names or counts fails the check with
// the first difference.
TEST_F(Error, AReorderedCatalogueFailsTheCheck)
{
    const embedded_source* source = embedded::find("library/errors.kiv");
    ASSERT_NE(source, nullptr);
    std::string original(reinterpret_cast<const char*>(source->bytes), source->length);
    struct row {
        const char* from;
        const char* to;
        const char* problem;
    };
    const row rows[] = {
        {"    need-value:", "    need-valu:", "script/need-valu stands where the runtime has script/need-value"},
        {"    no-memory: \"not enough memory\"\n", "", "internal/wrong-mem stands where the runtime has internal/no-memory"},
        {"    positive: \"positive number required\"\n", "", "category math has 2 ids, the runtime 3"},
        {"reserved2: [", "reserved3: [", "category 7 is reserved3, the runtime's reserved2"},
        {"    code: 400", "    code: 401", "category math does not start with its code"},
    };
    cell* saved = stack::push(&error_s.catalog);   // the start-up catalogue stays alive meanwhile
    stack::push(&error_s.prototype);
    for (const row& r : rows) {
        std::string changed = original;
        size_t at = changed.find(r.from);
        ASSERT_NE(at, std::string::npos) << r.from;
        changed.replace(at, std::strlen(r.from), r.to);
        cell* out = stack::push_slot();
        lexer::load(reinterpret_cast<const uint8_t*>(changed.data()), uint32_t(changed.size()), out);
        error::load_catalog(out);
        char problem[200] = "";
        EXPECT_FALSE(error::check_catalog(problem, sizeof problem)) << r.from;
        EXPECT_STREQ(problem, r.problem);
    }
    error_s.catalog = saved[0];
    error_s.prototype = saved[1];
}

TEST_F(Error, MakeFromACode)
{
    struct row {
        int32_t code;
        const char* kind;   // null: script/out-of-range
    };
    const row rows[] = {
        // The ids' order decides: 3 is continue, the fourth id of throw.
        {0, "throw/break 0"}, {3, "throw/continue 3"}, {302, "script/not-defined 302"}, {300, "script/no-value 300"},
        {800, "user/message 800"}, {99, nullptr}, {5, nullptr}, {1000, nullptr}, {-1, nullptr}, {600, nullptr},
    };
    for (const row& r : rows) {
        if (!r.kind) {
            EXPECT_EQ(error_of([&] { make_error(test::integer(r.code)); }), code(ERR_SCRIPT, err::OUT_OF_RANGE)) << r.code;
            continue;
        }
        cell* e = make_error(test::integer(r.code));
        EXPECT_EQ(kind(e), r.kind) << r.code;
        EXPECT_EQ(cell_type(e), uint32_t(TYPE_ERROR));
        EXPECT_EQ(e->data2, ERROR_CLASS);
    }
}

TEST_F(Error, MakeFromABlockOfWords)
{
    struct row {
        const char* spec;
        const char* kind;   // null: the error below
        uint32_t error;
        const char* arg1;
    };
    const row rows[] = {
        {"script no-value", "script/no-value 300", 0, nullptr},
        {"Math Zero-Divide", "math/zero-divide 400", 0, nullptr},
        {"script", nullptr, code(ERR_SCRIPT, err::INVALID_SPEC_FIELD), "id"},
        {"nothing no-value", nullptr, code(ERR_SCRIPT, err::INVALID_SPEC_FIELD), "type"},
        {"script nothing", nullptr, code(ERR_SCRIPT, err::INVALID_SPEC_FIELD), "id"},
        {"script code", nullptr, code(ERR_SCRIPT, err::INVALID_SPEC_FIELD), "id"},   // mended
        {"script 5", nullptr, code(ERR_SCRIPT, err::INVALID_ARG), "5"},
        {"5 script", nullptr, code(ERR_INTERNAL, err::INVALID_ERROR), nullptr},
        {"", nullptr, code(ERR_INTERNAL, err::INVALID_ERROR), nullptr},
    };
    for (const row& r : rows) {
        cell spec = *tv::read(r.spec);
        if (r.kind) {
            EXPECT_EQ(kind(make_error(spec)), r.kind) << r.spec;
            continue;
        }
        EXPECT_EQ(error_of([&] { make_error(spec); }), r.error) << r.spec;
        if (r.arg1) {
            cell a = raised_error_get().args[0];
            EXPECT_EQ(tv::form(&a), r.arg1) << r.spec;
        }
    }
    cell none = none_value;
    EXPECT_EQ(error_of([&] { make_error(none); }), code(ERR_SCRIPT, err::BAD_MAKE_ARG));
}

TEST_F(Error, MakeFromFieldsEvaluatesThemInTheError)
{
    cell* e = make_error(*tv::read("type: 'script id: 'need-value arg1: 'x"));
    EXPECT_EQ(kind(e), "script/need-value 301");
    EXPECT_EQ(text(e).substr(0, 36), "*** Script Error: x needs a value\n**");
    EXPECT_EQ(error_of([&] { make_error(*tv::read("type: 'script")); }), code(ERR_SCRIPT, err::INVALID_SPEC_FIELD));
    EXPECT_EQ(error_of([&] { make_error(*tv::read("id: 'no-value")); }), code(ERR_SCRIPT, err::INVALID_SPEC_FIELD));
}

TEST_F(Error, FormedText)
{
    cell x = word("x");
    cell* e = error::create(ERR_SCRIPT, err::NO_VALUE, &x);
    cell f = word("f");
    error::set_where(e, &f);
    cell g = word("g");
    error::set_where(e, &g);   // only while where is none
    *context::get_value_at(e->data1, EF_NEAR) = *tv::read("x + 1");
    EXPECT_EQ(text(e), "*** Script Error: x has no value\n*** Where: f\n*** Near : x + 1");
    // A user error's message is its first argument; where is ???.
    cell* oops = make_error(*block::rs_head(tv::read("\"oops\"")));
    EXPECT_EQ(kind(oops), "user/message 800");
    EXPECT_EQ(text(oops), "*** User Error: oops\n*** Where: ???\n*** Near : none");
    // Syntax errors form their arguments, the others mold them.
    cell text_arg = *tv::read("\"(line 1)\"");
    cell* s = error::create(ERR_SYNTAX, err::BAD_CHAR, block::rs_head(&text_arg), block::rs_head(&text_arg));
    EXPECT_EQ(text(s).substr(0, 57), "*** Syntax Error: (line 1) invalid character at (line 1)\n");
    cell* m = error::create(ERR_SCRIPT, err::INVALID_ARG, block::rs_head(&text_arg));
    EXPECT_EQ(text(m).substr(0, 47), "*** Script Error: invalid argument: \"(line 1)\"\n");
}

TEST_F(Error, PartsOfAnyLengthAreCutToTheirBudgets)
{
    const std::string words = "aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee ffffffffff gggggggggg "
                              "hhhhhhhhhh iiiiiiiiii jjjjjjjjjj";
    cell* long_block = tv::read(words.c_str());
    cell* e = error::create(ERR_SCRIPT, err::INVALID_ARG, long_block);
    *context::get_value_at(e->data1, EF_NEAR) = *long_block;
    std::string t = text(e);
    std::string near = t.substr(t.find("*** Near : ") + 11);
    EXPECT_EQ(near, words.substr(0, 40));
    std::string message = t.substr(0, t.find('\n'));
    EXPECT_EQ(message.size(), std::string("*** Script Error: invalid argument: ").size() + 80);
    *context::get_value_at(e->data1, EF_FILES) = *long_block;
    t = text(e);
    EXPECT_EQ(t.substr(t.find("*** Files: ") + 11), near);
}

TEST_F(Error, AStackLineOnlyWhenATraceLevelIsSet)
{
    cell x = word("x");
    cell* e = error::create(ERR_SCRIPT, err::NO_VALUE, &x);
    *context::get_value_at(e->data1, EF_STACK) = *tv::read("f g");
    EXPECT_EQ(text(e).find("*** Stack:"), std::string::npos) << "no state object";
    trace_level(0);
    EXPECT_EQ(text(e).find("*** Stack:"), std::string::npos);
    trace_level(2);
    EXPECT_NE(text(e).find("\n*** Stack: f g"), std::string::npos);
}

TEST_F(Error, AKindTheCatalogueLacksFormsAsInvalidError)
{
    cell x = word("x");
    cell* e = error::create(ERR_SCRIPT, err::NO_VALUE, &x);
    *context::get_value_at(e->data1, EF_ID) = word("no-such-id");
    std::string t = text(e);
    EXPECT_EQ(t.substr(0, t.find('\n')), "*** Internal Error: invalid error object field value: no-such-id");
    EXPECT_EQ(kind(e), "internal/invalid-error 910");
    *context::get_value_at(e->data1, EF_TYPE) = word("no-such-type");
    t = text(e);
    EXPECT_EQ(t.substr(0, t.find('\n')), "*** Internal Error: invalid error object field value: no-such-type");
}

TEST_F(Error, MoldWritesAllTenFields)
{
    cell x = word("x");
    cell* e = error::create(ERR_SCRIPT, err::NO_VALUE, &x);
    EXPECT_EQ(tv::mold(e, false, false, true),
              "make error! [code: 300 type: 'script id: 'no-value arg1: 'x arg2: none arg3: none near: none "
              "where: none stack: none files: none]");
    std::string indented = tv::mold(e);
    EXPECT_EQ(indented.substr(0, 32), "make error! [\n    code: 300\n    ");
    EXPECT_EQ(indented.substr(indented.size() - 17), "    files: none\n]");
}

TEST_F(Error, CompareAndPaths)
{
    cell x = word("x");
    cell* a = error::create(ERR_SCRIPT, err::NO_VALUE, &x);
    cell* b = error::create(ERR_SCRIPT, err::NO_VALUE, &x);
    cell* c = error::create(ERR_SCRIPT, err::NEED_VALUE, &x);
    EXPECT_EQ(error::compare(a, b, COMP_EQUAL), 0);
    EXPECT_NE(error::compare(a, c, COMP_EQUAL), 0);
    EXPECT_EQ(cell_type(b), uint32_t(TYPE_ERROR)) << "the other value keeps its type";
    cell* o = tob::object_of("a: 1");
    EXPECT_EQ(error::compare(a, o, COMP_EQUAL), -2);
    // The stack field can be read but not set through a path.
    cell stack_word = word("stack");
    cell* element = stack::push(&stack_word);
    cell* path = tv::read("e stack");
    EXPECT_EQ(cell_type(error::eval_path(a, element, nullptr, path, nullptr, nullptr, 1, false, false, false, false)),
              uint32_t(TYPE_NONE));
    cell one = test::integer(1);
    EXPECT_EQ(error_of([&] { error::eval_path(a, element, &one, path, nullptr, nullptr, 1, false, false, false, false); }),
              code(ERR_SCRIPT, err::INVALID_PATH_SET));
    // A copy of an error is an error.
    cell* copied = actions_of(TYPE_ERROR).copy(stack::push(a), stack::push_slot(), nullptr, false, nullptr);
    EXPECT_EQ(cell_type(copied), uint32_t(TYPE_ERROR));
    EXPECT_EQ(kind(copied), "script/no-value 300");
}

}  // namespace
