// The symbol table: interning, ASCII-case aliases, lazily made name strings, the compare action.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "support/values.h"

namespace {

TEST(Symbol, CaseVariantsAliasTheOldestSpelling)
{
    uint32_t foo = symbol::make("zq-foo");
    uint32_t Foo = symbol::make("Zq-Foo");
    uint32_t FOO = symbol::make("ZQ-FOO");
    EXPECT_NE(Foo, foo);
    EXPECT_NE(FOO, Foo);
    EXPECT_EQ(symbol::get_alias(foo), -1);
    EXPECT_EQ(symbol::get_alias(Foo), int32_t(foo));
    EXPECT_EQ(symbol::get_alias(FOO), int32_t(foo));   // never an alias of an alias
    EXPECT_EQ(symbol::resolve(FOO), foo);
    EXPECT_EQ(symbol::resolve(foo), foo);
    uint32_t count = symbol::count();
    EXPECT_EQ(symbol::make("zq-foo"), foo);
    EXPECT_EQ(symbol::make("Zq-Foo"), Foo);
    EXPECT_EQ(symbol::make_canonical("zQ-fOO"), foo);
    EXPECT_EQ(symbol::count(), count);
}

TEST(Symbol, NamesThatMustStayUnrelated)
{
    struct row { const char* a; const char* b; };
    const row rows[] = {
        {"zq-ab", "zq-ab "},                  // different byte length
        {"zq-stra\xC3\x9F" "e", "ZQ-STRASSE"},   // folds to the same text only beyond ASCII
        {"zq-\xC3\xA9", "zq-\xC3\x89"},          // non-ASCII letters do not fold
        {"zq-[", "zq-{"},                     // bytes that differ by 32 but are no letters
    };
    for (const row& r : rows) {
        uint32_t a = symbol::make(r.a), b = symbol::make(r.b);
        EXPECT_NE(symbol::resolve(a), symbol::resolve(b)) << r.a << " / " << r.b;
    }
}

TEST(Symbol, NameFromAMovingBuffer)
{
    cell* top = stack::top();
    const std::string name = "zq-name-read-from-a-binary-that-moves";
    uint32_t id = symbol::search_part(test::moving_bytes(name), uint32_t(name.size()));
    stack_s.top = top;
    uint32_t length;
    const uint8_t* stored = symbol::name(id, &length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored), length), name);
    EXPECT_EQ(symbol::make(name.c_str()), id);
}

TEST(Symbol, EmbeddedBytesAndExactLength)
{
    const uint8_t name[] = {'z', 'q', 0, 'x'};
    uint32_t with_nul = symbol::search_part(name, 4);
    uint32_t shorter = symbol::search_part(name, 2);
    EXPECT_NE(with_nul, shorter);
    uint32_t length;
    symbol::name(with_nul, &length);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(symbol::search_part(name, 4), with_nul);
}

TEST(Symbol, NameStringIsMadeOnceOnDemand)
{
    uint32_t id = symbol::make("zq-\xE6\x97\xA5");   // a code point that needs 2-byte units
    EXPECT_EQ(symbol::cell_of(id)->data2, 0u);
    node_ref first = symbol::get(id)->data2;
    ASSERT_NE(first, 0u);
    EXPECT_EQ(symbol::get_string(id), first);
    series_buffer* s = series_of(first);
    EXPECT_EQ(series_unit(s), 2u);
    EXPECT_EQ(series_used_bytes(s), 8u);
    EXPECT_EQ(at<uint16_t>(s->head)[3], 0x65E5u);
}

TEST(Symbol, ManyNamesKeepTheirIdsAcrossIndexGrowth)
{
    const uint32_t n = 20000;
    std::vector<uint32_t> ids;
    char name[32];
    for (uint32_t i = 0; i < n; i++) {
        std::snprintf(name, sizeof name, "zq-many-%u", i);
        ids.push_back(symbol::make(name));
    }
    hashtable* h = hashtable_record(symbol_s.table);
    EXPECT_LT(double(h->occupied), HASH_LOAD * h->buckets);
    for (uint32_t i = 0; i < n; i += 13) {
        std::snprintf(name, sizeof name, "ZQ-MANY-%u", i);
        uint32_t upper = symbol::make(name);
        EXPECT_EQ(symbol::get_alias(upper), int32_t(ids[i]));
        std::snprintf(name, sizeof name, "zq-many-%u", i);
        ASSERT_EQ(symbol::make(name), ids[i]);
    }
}

TEST(Symbol, CompareFoldsCaseExceptStrictAndCaseSort)
{
    cell a = *symbol::cell_of(symbol::make("zq-abc"));
    cell b = *symbol::cell_of(symbol::make("ZQ-ABC"));
    cell c = *symbol::cell_of(symbol::make("zq-abd"));
    EXPECT_EQ(symbol::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_NE(symbol::compare(&a, &b, COMP_STRICT_EQUAL), 0);
    EXPECT_LT(symbol::compare(&a, &c, COMP_LESSER), 0);
    EXPECT_GT(symbol::compare(&c, &b, COMP_SORT), 0);
    EXPECT_GT(symbol::compare(&a, &b, COMP_CASE_SORT), 0);
    EXPECT_EQ(symbol::compare(&a, &a, COMP_SAME), 0);
    EXPECT_EQ(symbol::compare(&a, &b, COMP_SAME), -1);
    cell other{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(symbol::compare(&a, &other, COMP_EQUAL), -2);
}

}  // namespace
