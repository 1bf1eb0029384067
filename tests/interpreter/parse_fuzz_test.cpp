// Random rule blocks over random inputs: every parse returns a logic! or a block, or raises a
// script error, and leaves the argument stack, the frames and the rule stack as it found them.
// Rules that repeat without end by design (while over a rule that does not advance, insert or
// change in a repetition, which grow the input every round) are left out of the vocabulary: the
// fuzz looks for crashes, not for those loops.
#include <random>
#include <string>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/parse.h"
#include "runtime/io/lexer.h"
#include "support/fixtures.h"

namespace {

constexpr uint32_t ITERATIONS = 2000;

const char* const tokens[] = {
    "\"a\"", "\"ab\"", "#\"b\"", "skip", "any", "some", "opt", "to", "thru", "end", "none", "fail", "break",
    "reject", "not", "ahead", "|", "1", "2", "0", "copy x", "set x", "keep", "collect", "remove",
    "integer!", "word!", "string!", "quote", "(1)", "into", "'a", "a", "if", "pick", "only", "after",
    "#{61}", "#{6231}", "cs", "some cs", "to cs", "thru #\"b\"",
};
constexpr uint32_t TOKEN_COUNT = sizeof tokens / sizeof tokens[0];

std::string random_rules(std::mt19937& rng, uint32_t depth)
{
    std::string out;
    uint32_t n = rng() % 7;
    for (uint32_t k = 0; k < n; k++) {
        if (depth < 3 && rng() % 5 == 0) {
            out += "[" + random_rules(rng, depth + 1) + "] ";
        } else {
            out += tokens[rng() % TOKEN_COUNT];
            out += ' ';
        }
    }
    return out;
}

std::string random_input(std::mt19937& rng)
{
    static const char* const items[] = {"a", "1", "\"a\"", "[a 1]", "'a", "b"};
    uint32_t n = rng() % 6;
    if (rng() % 3 == 0) {
        static const char* const bytes[] = {"61", "62", "31", "20", "C3A9"};
        std::string s = "#{";
        for (uint32_t k = 0; k < n; k++) s += bytes[rng() % 5];
        return s + "}";
    }
    if (rng() % 2) {
        std::string s = "\"";
        for (uint32_t k = 0; k < n; k++) s += "ab"[rng() % 2];
        return s + "\"";
    }
    std::string s = "[";
    for (uint32_t k = 0; k < n; k++) s += std::string(items[rng() % 6]) + " ";
    return s + "]";
}

class ParseFuzz : public test::StackTest {
protected:
    static cell* load(const std::string& text)
    {
        cell* out = stack::push_slot();
        lexer::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), out);
        return out;
    }
};

TEST_F(ParseFuzz, RandomRulesReturnOrRaiseAScriptErrorAndLeaveTheStacksClean)
{
    std::mt19937 rng(20261210);
    // cs: a charset rule, as scripts make them.
    cell* letters = string::load_at(reinterpret_cast<const uint8_t*>("ab1"), 3, nullptr, 0);
    cell* charset = bitset::make_from_spec(letters, bitset::CALLER_MAKE);
    word::set(word::load("cs"), charset);
    stack::pop(2);
    for (uint32_t iteration = 0; iteration < ITERATIONS; iteration++) {
        std::string rules_text = random_rules(rng, 0);
        std::string input_text = random_input(rng);
        cell* top = stack::top();
        uint32_t depth = stack::depth();
        cell* rules = load(rules_text);
        cell* input = stack::push(block::rs_head(load(input_text)));
        cell* result = stack::push_slot();
        uint32_t code = 0;
        {
            interpreter::catch_point point;
            try {
                parse::process(result, input, rules, false, -1, nullptr);
            } catch (const script_error_unwind&) {
                code = raised_error_get().code();
                point.restore();
            }
        }
        SCOPED_TRACE("parse " + input_text + " [" + rules_text + "]");
        EXPECT_EQ(exit_code(), 0u);
        if (code) {
            EXPECT_EQ(code / 100, uint32_t(ERR_SCRIPT)) << code;
        } else {
            uint32_t t = cell_type(result);
            EXPECT_TRUE(t == TYPE_LOGIC || t == TYPE_BLOCK) << t;
        }
        EXPECT_EQ(stack::depth(), depth);
        stack_s.top = top;
    }
}

}  // namespace
