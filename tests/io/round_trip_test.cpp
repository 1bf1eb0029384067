// Molded text loads back: random values of every loadable datatype from a fixed seed, the awkward
// ones favoured (extreme and tiny numbers, negative zero, fractions of seconds, names holding
// delimiters, quotes and escapes, every kind of word, nested containers). mold/all must load as a
// strictly equal value that molds to the same text again; plain mold must load without a syntax
// error.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/stack.h"
#include "runtime/io/lexer.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

constexpr uint32_t SEED = 29;
constexpr uint32_t VALUES = 5000;

// Characters that the text forms must quote, escape or encode, and some that they need not.
const uint32_t awkward_chars[] = {
    '"', '^', '{', '}', '(', ')', '[', ']', '<', '>', '%', ';', ':', '@', '#', '$', '\'', ',', '/', '\\',
    ' ', '\t', '\n', '\r', 0, 1, 27, 30, 31, 127, 0x80, 0x85, 0x9F, 0xA0, 0xE9, 0x2028, 0x2603, 0xFEFF,
    0x1F600, 'a', 'Z', '0', '9', '.', '-', '_', '~', '=', '?', '!', '&', '*', '+', '|',
};
// Names of every kind of word; the operators' names are read as words only.
const char* const word_names[] = {
    "a", "abc", "x1", "long-name", "what?", "done!", "*", "**", "?", "!", "&", "|", "~", "_", "a.b", "a'b",
    "a-1", "\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "CamelCase", "a+b", "x=y", "+", "-",
};
const char* const operator_names[] = {"=", "==", "<", ">", "<=", ">=", "<>", "//", "+", "-"};
const char* const currencies[] = {"", "", "USD", "EUR", "JPY", "CHF"};

class generator {
public:
    explicit generator(uint32_t seed) : rng_(seed) {}

    // A random value of any loadable kind, pushed on the argument stack; below depth 3 no more
    // containers.
    cell* value(uint32_t depth)
    {
        switch (below(depth < 3 ? 30 : 25)) {
        case 0: {
            cell n = test::integer(an_integer());
            return stack::push(&n);
        }
        case 1: case 2: return float_::push(a_float());
        case 3: case 4: return percent::push(a_percent());
        case 5: case 6: return time_::push(a_time());
        case 7: return a_point();
        case 8: return pair::push(an_integer(), an_integer());
        case 9: return a_tuple();
        case 10: return a_date();
        case 11: return a_money();
        case 12: return char_::push(a_char());
        case 13: return text(TYPE_STRING, below(4) ? below(12) : below(70));
        case 14: case 15: return text(TYPE_FILE, below(12));
        case 16: return a_url();
        case 17: return a_tag();
        case 18: return an_email();
        case 19: return a_ref();
        case 20: return a_binary();
        case 21: case 22: return a_word();
        case 23: return a_path(TYPE_PATH + below(4));
        case 24: return a_construct();
        case 25: return a_map(depth);
        case 26: case 27: return a_block(TYPE_BLOCK, depth);
        case 28: return a_block(TYPE_PAREN, depth);
        default: return a_path(TYPE_PATH + below(4));
        }
    }

private:
    std::mt19937 rng_;

    uint32_t below(uint32_t n) { return rng_() % n; }
    double unit() { return double(rng_()) / 4294967296.0; }
    uint64_t bits64() { return uint64_t(rng_()) << 32 | rng_(); }

    int32_t an_integer()
    {
        const int32_t edges[] = {0, 1, -1, INT32_MAX, INT32_MIN, 10, -999};
        return below(4) ? int32_t(rng_()) >> below(31) : edges[below(std::size(edges))];
    }
    // A decimal fraction, any finite bit pattern, a subnormal, a power of ten, or an edge.
    double a_float()
    {
        switch (below(6)) {
        case 0: return double(int32_t(rng_())) / std::pow(10.0, below(12));
        case 1: {
            double d = std::bit_cast<double>(bits64());
            return std::isfinite(d) ? d : 0.1;
        }
        case 2: return std::bit_cast<double>(bits64() & 0x800FFFFFFFFFFFFF);   // subnormal or zero
        case 3: return std::pow(10.0, int32_t(below(640)) - 320) * (below(2) ? 1 : -1);
        default: {
            const double edges[] = {-0.0, 0.0, 0.1, 0.3, 1e16, 1e17, 1e-7, 1e-8, 2.5, -1e300,
                                    float_::largest, -float_::largest, float_::infinity, float_::minus_infinity};
            return edges[below(std::size(edges))];
        }
        }
    }
    // A percent whose text stays within the 312 characters a number literal may have.
    double a_percent()
    {
        switch (below(5)) {
        case 0: return double(int32_t(rng_())) / std::pow(10.0, below(14));
        case 1: return std::ldexp(unit() + 0.5, int32_t(below(1600)) - 900) * (below(2) ? 1 : -1);
        case 2: return std::pow(10.0, int32_t(below(560)) - 290);
        default: {
            const double edges[] = {0.0, -0.0, 0.5, 0.125, 1e-10, 1e-20, 0.07, 1.0 / 3, 1e20, 12.5e-2, 1e307,
                                    float_::largest, -float_::largest};
            return edges[below(std::size(edges))];
        }
        }
    }
    double a_time()
    {
        double whole = double(int32_t(rng_()) >> below(31));
        switch (below(6)) {
        case 0: return whole;
        case 1: return whole + double(below(1000)) / 1000;
        case 2: return whole + unit();
        case 3: return (below(2) ? 1 : -1) * std::pow(10.0, int32_t(below(20)) - 12);
        case 4: return std::ldexp(unit(), 42 + int32_t(below(12)));   // more hours than an integer! holds
        default: return std::ldexp(unit(), int32_t(below(40))) * (below(2) ? 1 : -1);
        }
    }
    float a_single()
    {
        switch (below(4)) {
        case 0: {
            float f = std::bit_cast<float>(rng_());
            return std::isfinite(f) ? f : 1.5f;
        }
        case 1: return float(int32_t(rng_()) >> below(31)) / float(std::pow(10.0, below(8)));
        case 2: return std::bit_cast<float>(rng_() & 0x807FFFFF);   // subnormal or zero
        default: {
            const float edges[] = {0.0f, -0.0f, 0.1f, 1.0f / 3, 3.4028235e38f, 1e-45f, 16777217.0f,
                                   std::numeric_limits<float>::infinity()};
            return edges[below(std::size(edges))];
        }
        }
    }
    cell* a_point()
    {
        if (below(2)) return point2D::push(a_single(), a_single());
        return point3D::push(a_single(), a_single(), a_single());
    }
    cell* a_tuple()
    {
        uint8_t bytes[12];
        uint32_t n = 3 + below(10);
        for (uint32_t i = 0; i < n; i++) bytes[i] = uint8_t(below(3) ? rng_() : 0);
        return tuple::make_at(stack::push_slot(), bytes, n);
    }
    cell* a_date()
    {
        int32_t year = below(4) ? 1900 + int32_t(below(200)) : int32_t(below(19999)) - 9999;
        int32_t month = 1 + int32_t(below(12)), day = 1 + int32_t(below(28));
        bool timed = below(3);
        double seconds = timed ? double(below(86400)) + (below(2) ? double(below(1000)) / 1000 : 0) : 0;
        int32_t zone = below(2) ? 0 : (int32_t(below(121)) - 60) * 15;
        return date::set_all(stack::push_slot(), year, month, day, seconds, zone, timed);
    }
    cell* a_money()
    {
        std::string digits, fraction;
        for (uint32_t n = below(18); n; n--) digits += char('0' + below(10));
        for (uint32_t n = below(6); n; n--) fraction += char('0' + below(10));
        cell* slot = stack::push_slot();
        bool made = money::make_in(slot, below(2), currencies[below(std::size(currencies))], digits.data(),
                                   uint32_t(digits.size()), fraction.data(), uint32_t(fraction.size()));
        EXPECT_TRUE(made);
        return slot;
    }
    uint32_t a_char()
    {
        switch (below(4)) {
        case 0: return below(128);
        case 1: return awkward_chars[below(std::size(awkward_chars))];
        case 2: return 0x80 + below(0xD800 - 0x80);
        default: return 0xE000 + below(0x110000 - 0xE000);
        }
    }
    // A text value of the type: characters from the awkward set, now and then any character.
    cell* text(uint32_t type, uint32_t length, const char* prefix = "")
    {
        cell* s = string::make_at(stack::push_slot(), 16, 1);
        for (const char* p = prefix; *p; p++) string::append_char(s->data2, uint8_t(*p));
        for (uint32_t i = 0; i < length; i++)
            string::append_char(s->data2, below(3) ? awkward_chars[below(std::size(awkward_chars))] : a_char());
        cell_set_type(s, type);
        return s;
    }
    cell* ascii(uint32_t type, const std::string& t)
    {
        cell* s = string::make_at(stack::push_slot(), uint32_t(t.size()) + 1, 1);
        for (char c : t) string::append_char(s->data2, uint8_t(c));
        cell_set_type(s, type);
        return s;
    }
    std::string name_of(const char* alphabet, uint32_t most)
    {
        std::string out(1, char('a' + below(26)));
        size_t n = std::strlen(alphabet);
        for (uint32_t k = below(most); k; k--) out += alphabet[below(uint32_t(n))];
        return out;
    }
    cell* a_url()
    {
        const char* schemes[] = {"http", "ftp", "mailto", "x"};
        std::string scheme = schemes[below(std::size(schemes))];
        scheme += below(2) ? "://" : ":";
        return text(TYPE_URL, 1 + below(12), scheme.c_str());
    }
    cell* a_tag()
    {
        std::string t = name_of("abcxyz019-_:/.", 6);
        if (below(2)) t += " " + name_of("abc", 3) + "=\"" + name_of("a b>/<'", 5) + "\"";
        if (below(3) == 0) t += " /";
        return ascii(TYPE_TAG, t);
    }
    cell* an_email() { return ascii(TYPE_EMAIL, name_of("abc09._-+", 8) + "@" + name_of("abc09.-", 8)); }
    cell* a_ref() { return ascii(TYPE_REF, below(4) ? name_of("abc09-_./", 8) : "123"); }
    cell* a_binary()
    {
        std::vector<uint8_t> bytes(below(40));
        for (uint8_t& b : bytes) b = uint8_t(rng_());
        return binary::load(bytes.data(), uint32_t(bytes.size()));
    }
    cell* a_word()
    {
        const uint32_t kinds[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_LIT_WORD, TYPE_REFINEMENT, TYPE_ISSUE};
        if (below(5) == 0) return stack::push(word::load(operator_names[below(std::size(operator_names))]));
        cell w = *word::load(word_names[below(std::size(word_names))]);
        cell_set_type(&w, kinds[below(std::size(kinds))]);
        return stack::push(&w);
    }
    cell* a_path(uint32_t type)
    {
        uint32_t n = 2 + below(3);
        cell* path = block::make_at(stack::push_slot(), n);
        for (uint32_t i = 0; i < n; i++) {
            cell item = *word::load(name_of("abc-?", 5).c_str());
            if (i && below(3) == 0) item = test::integer(int32_t(below(100)));
            else if (i && below(5) == 0) cell_set_type(&item, TYPE_GET_WORD);
            block::rs_append(path, &item);
        }
        cell_set_type(path, type);
        return path;
    }
    cell* a_construct()
    {
        const cell values[] = {none_value, cell{TYPE_LOGIC, 1, 0, 0}, cell{TYPE_LOGIC, 0, 0, 0}};
        return stack::push(&values[below(std::size(values))]);
    }
    cell* a_block(uint32_t type, uint32_t depth)
    {
        uint32_t n = below(6);
        cell* blk = block::make_at(stack::push_slot(), n);
        for (uint32_t i = 0; i < n; i++) {
            cell* item = value(depth + 1);
            block::rs_append(blk, item);
            stack::pop(1);
        }
        cell_set_type(blk, type);
        return blk;
    }
    cell* a_map(uint32_t depth)
    {
        cell* pairs = block::make_at(stack::push_slot(), 8);
        for (uint32_t i = below(4); i; i--) {
            cell key = below(2) ? *word::load(name_of("abc", 4).c_str()) : test::integer(int32_t(below(1000)));
            block::rs_append(pairs, &key);
            cell* item = value(depth + 1);
            block::rs_append(pairs, item);
            stack::pop(1);
        }
        cell made = *map::from_block(pairs);
        stack::pop(2);
        return stack::push(&made);
    }
};

// The text with control characters shown as \xNN, for failure messages.
std::string visible(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 || c == '\t') {
            out += char(c);
        } else {
            const char hex[] = "0123456789ABCDEF";
            out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
        }
    }
    return out;
}

class RoundTrip : public test::StackTest {
protected:
    // The values of a text, pushed as a block; the code of a raised error (0 when none).
    static uint32_t load(const std::string& text, cell** out)
    {
        cell* slot = stack::push_slot();
        *out = slot;
        return test::raised([&] {
            lexer::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), slot);
        });
    }
};

TEST_F(RoundTrip, MoldedValuesLoadBack)
{
    generator g(SEED);
    uint32_t failures = 0, refused = 0;
    for (uint32_t i = 0; i < VALUES; i++) {
        cell* mark = stack::top();
        cell* v = g.value(0);
        std::string all = test::mold_at(v, false, true);
        cell* loaded;
        uint32_t code = load(all, &loaded);
        // The loaded value is copied out of its block, whose buffer the next allocation may move.
        cell* back = code || block::rs_length(loaded) != 1 ? nullptr : stack::push(block::rs_head(loaded));
        const char* fault = code ? "raises" : !back ? "is not one value"
                            : !actions::compare(v, back, COMP_STRICT_EQUAL) ? "loads another value"
                            : test::mold_at(back, false, true) != all ? "molds otherwise again"
                                                                      : nullptr;
        if (fault && ++failures <= 30) ADD_FAILURE() << "mold/all " << visible(all) << " " << fault << " " << code;
        std::string plain = test::mold_at(v);
        code = load(plain, &loaded);
        if (code / 100 == ERR_SYNTAX && ++refused <= 30) ADD_FAILURE() << "mold " << visible(plain) << " raises " << code;
        stack_s.top = mark;
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_EQ(refused, 0u);
}

}  // namespace
