// Fuzz test of the lexer: random bytes and mutations of valid source, a fixed seed and count, in
// every scan mode. Each input ends where an inaccessible page begins, so a read past its end
// faults; every input must load or raise a syntax error (or name a datatype not connected yet).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/io/lexer.h"
#include "support/fixtures.h"
#include "support/guarded.h"

namespace {

constexpr uint32_t ITERATIONS = 20000;
constexpr uint32_t SEED = 20240614;

const char* const corpus[] = {
    "Kiv [title: \"t\"] print [a b: :c 'd /e #f]",
    "f: func [x [integer!] /only y] [either x > 0 [x + 1] [y]]",
    "{braced {nested} ^} text} \"q^(41)^/^-\" %{raw}% %%{r}%b}%%",
    "a/b/c: 1 'x/y :z/w a/(b c)/\"s\" a/1/2",
    "1'000 -2147483648 12345678901 FFh 1.5e3 .5 1.#INF -1.#NaN 12% 1.2.3 1x2 (1, 2) (1, 2, 3)",
    "1-Jan-2024 2024-01-15T10:30:00Z 2024-W05-3 2024-032 10:30:15.5 -1:30 $1.50 USD$2",
    "#\"a\" #\"^(line)\" #{00FF} 2#{00001111} 64#{QQ==} #[a 1 b 2] #(true) #(none) #(int)",
    "%file.txt %\"a b\" http://x.y/z?q=1 a@b.c @ref <tag attr=\"v\"> ; comment\n[x]",
    "\xE6\x97\xA5\xE6\x9C\xAC \"\xC3\xA9t\xC3\xA9\" a\xC2\xA0" "b [\n\t(x)\r\n]",
};

class LexerFuzz : public test::StackTest {
protected:
    std::vector<uint8_t> random_bytes()
    {
        std::vector<uint8_t> out(rng_() % 60);
        // Mostly the bytes that matter to the automaton, sometimes any byte.
        static const char alphabet[] = "[](){}\"#':/%;,.$@<>^+-=xXTEeh0123456789aZ \n\r\t";
        for (uint8_t& b : out) b = rng_() % 4 ? uint8_t(alphabet[rng_() % (sizeof alphabet - 1)]) : uint8_t(rng_());
        return out;
    }
    // A piece of the corpus with one to four bytes changed, dropped, inserted or copied over.
    std::vector<uint8_t> mutated()
    {
        std::string source = corpus[rng_() % std::size(corpus)];
        size_t from = rng_() % source.size();
        std::vector<uint8_t> out(source.begin() + ptrdiff_t(from), source.end());
        if (out.size() > 80) out.resize(8 + rng_() % 72);
        for (uint32_t n = 1 + rng_() % 4; n && !out.empty(); n--) {
            size_t at = rng_() % out.size();
            switch (rng_() % 4) {
            case 0: out[at] = uint8_t(rng_()); break;
            case 1: out.erase(out.begin() + ptrdiff_t(at)); break;
            case 2: out.insert(out.begin() + ptrdiff_t(at), uint8_t(source[rng_() % source.size()])); break;
            default: out[at] = uint8_t(source[rng_() % source.size()]);
            }
        }
        return out;
    }

    std::mt19937 rng_{SEED};
    test::guarded_region page_{4096};
};

bool acceptable(uint32_t code)
{
    return code / 100 == ERR_SYNTAX || code == ERR_INTERNAL * 100 + err::NOT_DONE;
}

TEST_F(LexerFuzz, EveryInputLoadsOrRaisesASyntaxError)
{
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        std::vector<uint8_t> input = i % 3 ? mutated() : random_bytes();
        const uint8_t* text = page_.place(input);
        uint32_t length = uint32_t(input.size());
        lexer::scan_request how;
        how.one = i % 4 == 1;
        how.load = i % 4 != 2;
        how.prescan = i % 4 == 3;
        cell* out = stack::push_slot();
        uint32_t consumed = 0;
        uint32_t code = raised([&] { lexer::scan(out, text, length, how, &consumed); });
        ASSERT_TRUE(code == 0 || acceptable(code))
            << "error " << code << " for input " << i << ": " << std::string(input.begin(), input.end());
        if (!code) {
            ASSERT_LE(consumed, length);
        }
        // The name check reads only what it is given and raises nothing.
        ASSERT_EQ(raised([&] { lexer::scan_type(text, length); }), 0u) << i;
        stack::pop(1);
    }
}

}  // namespace
