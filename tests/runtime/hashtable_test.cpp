// Hash tables: the hash functions, sizing, probing under load, and the behaviour of each table kind
// over its backing block (map! tombstones, hash! duplicate chains, integer-keyed entries).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

cell integer(int32_t n) { return cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }

// Tables and blocks made by a test stay on the argument stack until it ends.
class HashTable : public test::StackTest {
protected:
    cell* new_block(uint32_t capacity) { return block::make_at(stack::push_slot(), capacity); }
    void keep(node_ref table, node_ref block)
    {
        cell c{TYPE_HASH, 0, block, table};
        stack::push(&c);
    }
    cell* block_cell(node_ref table, uint32_t i) { return at<cell>(series_of(hashtable_record(table)->block)->head) + i; }
    uint32_t in_use(node_ref table)
    {
        uint32_t n = 0;
        for (uint32_t b = 0; b < hashtable_record(table)->buckets; b++)
            n += hashtable_bucket_state(table, b) == BUCKET_IN_USE;
        return n;
    }
};

TEST(Murmur3, PublishedVectors)
{
    struct row { const char* text; uint32_t seed, hash; };
    const row rows[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7u},
        {"", 0xFFFFFFFFu, 0x81F16F39u},
        {"\xFF\xFF\xFF\xFF", 0, 0x76293B50u},
        {"!Ce\x87", 0, 0xF55B516Bu},
        {"Hello, world!", 0x9747B28Cu, 0x24884CBAu},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28Cu, 0x2FA826CDu},
        {"!Ce", 0, 0x7E4A8634u},
        {"!C", 0, 0xA0F7B07Au},
        {"!", 0, 0x72661CF4u},
        {"aaaa", 0x9747B28Cu, 0x5A97808Au},
    };
    for (const row& r : rows)
        EXPECT_EQ(murmur3_x86_32(r.text, uint32_t(std::strlen(r.text)), r.seed), r.hash) << '"' << r.text << '"';
}

TEST(Murmur3, PowerOfTwoRounding)
{
    const uint32_t in[] = {0, 1, 2, 3, 5, 8, 9, 0x40000001u};
    const uint32_t out[] = {1, 1, 2, 4, 8, 8, 16, 0x80000000u};
    for (int i = 0; i < 8; i++) EXPECT_EQ(pow2_round_up(in[i]), out[i]) << in[i];
}

TEST_F(HashTable, SizeZeroHasEightBucketsAndEveryKindIsAPowerOfTwo)
{
    for (uint32_t kind = HASH_BLOCK; kind <= HASH_INT_OWNED; kind++) {
        node_ref t = hashtable_new(0, nullptr, kind, 1);
        keep(t, hashtable_record(t)->block);
        EXPECT_EQ(hashtable_record(t)->buckets, 8u) << kind;
        EXPECT_EQ(hashtable_record(t)->upper, 6u) << kind;
        for (uint32_t b = 0; b < 8; b++) EXPECT_EQ(hashtable_bucket_state(t, b), BUCKET_EMPTY);
        // Two flag bits per bucket: eight buckets in two bytes, all 0xAA.
        EXPECT_EQ(*at<uint16_t>(series_of(hashtable_record(t)->flags)->head), 0xAAAAu);
    }
    node_ref big = hashtable_new(1000, nullptr, HASH_INT, 1);
    keep(big, hashtable_record(big)->block);
    EXPECT_EQ(hashtable_record(big)->buckets, 2048u);   // 1000 / 0.77 = 1299 -> 2048
}

TEST_F(HashTable, HundredThousandIntegerKeysStayUnderTheLoadFactor)
{
    node_ref t = hashtable_new(0, nullptr, HASH_INT, 1);
    keep(t, hashtable_record(t)->block);
    const uint32_t n = 100000;
    for (uint32_t k = 1; k <= n; k++) {
        hashtable_put(t, k * 7919u)->data2 = k;
        hashtable* h = hashtable_record(t);
        ASSERT_LT(double(h->occupied), HASH_LOAD * h->buckets) << k;
    }
    EXPECT_EQ(uint32_t(hashtable_record(t)->live), n);
    for (uint32_t k = 1; k <= n; k++) {
        cell* v = hashtable_get(t, k * 7919u);
        ASSERT_NE(v, nullptr) << k;
        ASSERT_EQ(v->data2, k);
    }
    EXPECT_EQ(hashtable_get(t, 3), nullptr);
}

TEST_F(HashTable, HundredThousandBlockValuesAreAllFound)
{
    cell* blk = new_block(16);
    node_ref t = hashtable_new(0, blk, HASH_BLOCK, 1);
    keep(t, blk->data2);
    const int32_t n = 100000;
    for (int32_t k = 0; k < n; k++) {
        cell v = integer(k);
        cell* slot = block::rs_append(blk, &v);
        hashtable_put_value(t, slot);
        hashtable* h = hashtable_record(t);
        ASSERT_LT(double(h->occupied), HASH_LOAD * h->buckets);
    }
    for (int32_t k = 0; k < n; k += 997) {
        cell v = integer(k);
        cell* found = hashtable_find_value(t, &v, COMP_EQUAL);
        ASSERT_NE(found, nullptr) << k;
        EXPECT_EQ(found, block_cell(t, uint32_t(k)));
    }
}

TEST_F(HashTable, IntegerEntriesDeleteAndRebuildDropsThem)
{
    node_ref t = hashtable_new(4, nullptr, HASH_INT, 2);
    keep(t, hashtable_record(t)->block);
    EXPECT_EQ(hashtable_record(t)->aux, 48u);   // entry size: key cell plus two value cells
    for (uint32_t k = 10; k < 15; k++) hashtable_put(t, k)[1].data1 = k;
    // Putting an existing key resets its values and keeps one entry.
    cell* again = hashtable_put(t, 12);
    EXPECT_EQ(again[1].header, uint32_t(TYPE_UNSET));
    EXPECT_EQ(hashtable_record(t)->live, 5);
    ASSERT_NE(hashtable_delete(t, 11), nullptr);
    EXPECT_EQ(hashtable_delete(t, 11), nullptr);
    EXPECT_EQ(hashtable_get(t, 11), nullptr);
    EXPECT_EQ(hashtable_record(t)->live, 4);
    uint32_t before = series_used_bytes(series_of(hashtable_record(t)->block));
    hashtable_rebuild(t, 8);
    EXPECT_EQ(series_used_bytes(series_of(hashtable_record(t)->block)), before - 48);
    EXPECT_EQ(hashtable_record(t)->occupied, 4u);
    for (uint32_t k : {10u, 13u, 14u}) {
        ASSERT_NE(hashtable_get(t, k), nullptr);
        EXPECT_EQ(hashtable_get(t, k)[1].data1, k);
    }
}

TEST_F(HashTable, DeletedBucketsAreReusedAndCleanedAtTheSameSize)
{
    node_ref t = hashtable_new(0, nullptr, HASH_INT, 1);
    keep(t, hashtable_record(t)->block);
    for (uint32_t round = 0; round < 50; round++) {
        hashtable_put(t, round);
        hashtable_delete(t, round);
    }
    // Never more than one key live: the table rebuilds at its size instead of doubling.
    EXPECT_EQ(hashtable_record(t)->buckets, 8u);
    EXPECT_EQ(hashtable_record(t)->live, 0);
}

TEST_F(HashTable, IntegerKindsStayBoundedWhenKeysComeAndGo)
{
    // A million puts and deletes over 2,000 recurring keys: a put reusing a deleted bucket takes
    // over its dead entry, so the block never holds more entries than the table has buckets.
    for (uint32_t kind : {uint32_t(HASH_INT), uint32_t(HASH_INT_OWNED)}) {
        node_ref t = hashtable_new(1000, nullptr, kind, 3);
        keep(t, hashtable_record(t)->block);
        uint32_t seed = 12345;
        for (uint32_t op = 0; op < 1000000; op++) {
            seed = seed * 1103515245u + 12345u;
            uint32_t key = 1 + (seed >> 8) % 2000;
            if (op & 1) hashtable_delete(t, key);
            else hashtable_put(t, key)[0].data2 = key;
        }
        hashtable* h = hashtable_record(t);
        EXPECT_LE(h->buckets, 4096u) << kind;
        EXPECT_LE(series_used_bytes(series_of(h->block)) / h->aux, h->buckets) << kind;
        for (uint32_t key = 1; key <= 2000; key++) {
            cell* v = hashtable_get(t, key);
            ASSERT_TRUE(!v || v->data2 == key) << kind << " " << key;
        }
    }
}

TEST_F(HashTable, MapRemovalKeepsThePairAndItsBucket)
{
    cell* blk = new_block(8);
    node_ref t = hashtable_new(4, blk, HASH_MAP, 1);
    keep(t, blk->data2);
    for (int32_t k = 1; k <= 3; k++) {
        cell key = integer(k), value = integer(100 * k);
        cell* slot = block::rs_append(blk, &key);
        block::rs_append(blk, &value);
        hashtable_put_value_key(t, slot);
    }
    EXPECT_EQ(hashtable_record(t)->live, 3);
    cell two = integer(2);
    cell* key = hashtable_find_value(t, &two, COMP_EQUAL);
    ASSERT_EQ(key, block_cell(t, 2));
    uint32_t in_use_before = in_use(t);
    hashtable_delete_value(t, key);
    EXPECT_EQ(hashtable_record(t)->live, 2);
    EXPECT_EQ(in_use(t), in_use_before);
    EXPECT_EQ(block::rs_length(blk), 6u);
    EXPECT_EQ(block_cell(t, 3)->header, 0u);
    // The key is still found, so putting it again can revive the entry in place.
    EXPECT_EQ(hashtable_find_value(t, &two, COMP_EQUAL), block_cell(t, 2));
}

TEST_F(HashTable, KeysAreEqualByTheirCompareNotByTheirBytes)
{
    cell* blk = new_block(8);
    cell one = integer(1), two = test::float_(2.0), value = integer(0);
    one.header |= HEADER_NEW_LINE;
    two.header |= HEADER_NEW_LINE;
    two.data1 = 0xDEAD;   // an unused payload word
    node_ref t = hashtable_new(4, blk, HASH_MAP, 1);
    keep(t, blk->data2);
    for (cell* key : {&one, &two}) {
        hashtable_put_value_key(t, block::rs_append(blk, key));
        block::rs_append(blk, &value);
    }
    cell plain_one = integer(1), plain_two = test::float_(2.0);
    EXPECT_EQ(hashtable_find_value(t, &plain_one, COMP_EQUAL), block_cell(t, 0)) << "the new-line bit is not the value";
    EXPECT_EQ(hashtable_find_value(t, &plain_two, COMP_EQUAL), block_cell(t, 2));
    node_ref h = hashtable_new(4, blk, HASH_BLOCK, 1);
    keep(h, blk->data2);
    EXPECT_EQ(hashtable_find_value(h, &plain_one, COMP_EQUAL), block_cell(h, 0));
}

TEST_F(HashTable, MapIndexingMergesALaterDuplicateKey)
{
    cell* blk = new_block(8);
    const int32_t pairs[][2] = {{1, 10}, {2, 20}, {1, 30}};
    for (auto& p : pairs) {
        cell k = integer(p[0]), v = integer(p[1]);
        block::rs_append(blk, &k);
        block::rs_append(blk, &v);
    }
    node_ref t = hashtable_new(3, blk, HASH_MAP, 1);
    keep(t, blk->data2);
    EXPECT_EQ(block::rs_length(blk), 4u);
    EXPECT_EQ(block_cell(t, 1)->data2, 30u);
    EXPECT_EQ(hashtable_record(t)->live, 2);
}

TEST_F(HashTable, MapFindsEveryPlainWordKindButNotRefinementsOrIssues)
{
    cell* blk = new_block(4);
    node_ref t = hashtable_new(2, blk, HASH_MAP, 1);
    keep(t, blk->data2);
    uint32_t sym = symbol::make("map-key");
    cell key{TYPE_SET_WORD, 0, sym, uint32_t(-1)}, value = integer(1);
    hashtable_put_value_key(t, block::rs_append(blk, &key));
    block::rs_append(blk, &value);
    for (uint32_t type : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) {
        cell probe{type, 0, sym, uint32_t(-1)};
        EXPECT_NE(hashtable_find_value(t, &probe, COMP_EQUAL), nullptr) << type;
    }
    for (uint32_t type : {TYPE_REFINEMENT, TYPE_ISSUE}) {
        cell probe{type, 0, sym, uint32_t(-1)};
        EXPECT_EQ(hashtable_find_value(t, &probe, COMP_EQUAL), nullptr) << type;
    }
}

TEST_F(HashTable, HashChainsEqualKeysAndSearchesThemInOrder)
{
    cell* blk = new_block(8);
    const int32_t values[] = {7, 1, 7, 2, 7};
    for (int32_t v : values) {
        cell c = integer(v);
        block::rs_append(blk, &c);
    }
    node_ref t = hashtable_new(5, blk, HASH_BLOCK, 1);
    keep(t, blk->data2);
    EXPECT_EQ(hashtable_record(t)->live, 3);   // one bucket per distinct key
    cell seven = integer(7);
    uint32_t found[4] = {};
    uint32_t n = 0;
    for (cell* c = hashtable_find_value(t, &seven, COMP_EQUAL, 0); c; ) {
        uint32_t index = uint32_t(c - block_cell(t, 0));
        found[n++] = index;
        c = hashtable_find_value(t, &seven, COMP_EQUAL, index + 1);
    }
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(found[0], 0u);
    EXPECT_EQ(found[1], 2u);
    EXPECT_EQ(found[2], 4u);
    // Backwards from 4: the last one before it. With skip 2 from 1: none lies on the path.
    EXPECT_EQ(hashtable_find_value(t, &seven, COMP_EQUAL, 4, 1, true), block_cell(t, 2));
    EXPECT_EQ(hashtable_find_value(t, &seven, COMP_EQUAL, 1, 2), nullptr);

    // Removing the cells of the chain one by one frees the bucket only with the last.
    hashtable_delete_value(t, block_cell(t, 2));
    EXPECT_EQ(hashtable_find_value(t, &seven, COMP_EQUAL, 1), block_cell(t, 4));
    hashtable_delete_value(t, block_cell(t, 0));
    EXPECT_EQ(hashtable_record(t)->live, 3);
    hashtable_delete_value(t, block_cell(t, 4));
    EXPECT_EQ(hashtable_record(t)->live, 2);
    EXPECT_EQ(hashtable_find_value(t, &seven, COMP_EQUAL), nullptr);
    cell two = integer(2);
    EXPECT_EQ(hashtable_find_value(t, &two, COMP_EQUAL), block_cell(t, 3));
}

TEST_F(HashTable, CopyIsIndependentOfTheOriginal)
{
    cell* blk = new_block(4);
    for (int32_t v : {5, 5, 6}) {
        cell c = integer(v);
        block::rs_append(blk, &c);
    }
    node_ref t = hashtable_new(3, blk, HASH_BLOCK, 1);
    keep(t, blk->data2);
    node_ref copy = hashtable_copy(t, blk->data2);
    keep(copy, blk->data2);
    hashtable_delete_value(t, block_cell(t, 0));
    hashtable_delete_value(t, block_cell(t, 1));
    cell five = integer(5);
    EXPECT_EQ(hashtable_find_value(t, &five, COMP_EQUAL), nullptr);
    EXPECT_EQ(hashtable_find_value(copy, &five, COMP_EQUAL), block_cell(copy, 0));
    EXPECT_EQ(hashtable_find_value(copy, &five, COMP_EQUAL, 1), block_cell(copy, 1));
    hashtable_clear(copy);
    EXPECT_EQ(hashtable_find_value(copy, &five, COMP_EQUAL), nullptr);
    EXPECT_EQ(hashtable_record(copy)->occupied, 0u);
}

TEST(IntTable, PutFindResize)
{
    int_table* t = int_table_new(0);
    for (uint32_t k = 0; k < 5000; k++) int_table_put(t, k * 16, k);
    EXPECT_EQ(t->live, 5000u);
    EXPECT_LT(double(t->occupied), HASH_LOAD * t->buckets);
    for (uint32_t k = 0; k < 5000; k += 7) {
        uint32_t* v = hashtable_int_entry(t, k * 16);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(*v, k);
    }
    EXPECT_EQ(int_table_find(t, 17), -1);
    int_table_free(t);
}

// ---- the string hash ----------------------------------------------------------------------------

cell* text(uint32_t unit, const std::u32string& s)
{
    cell* c = stack::push_slot();
    *c = cell{TYPE_STRING, 0, series_alloc_unit(uint32_t(s.size()), unit), 0};
    series_buffer* b = series_of(c->data2);
    for (size_t i = 0; i < s.size(); i++) {
        uint32_t p = b->head + uint32_t(i) * unit;
        if (unit == 1) *at<uint8_t>(p) = uint8_t(s[i]);
        else if (unit == 2) *at<uint16_t>(p) = uint16_t(s[i]);
        else *at<uint32_t>(p) = s[i];
    }
    b->tail = b->head + uint32_t(s.size()) * unit;
    return c;
}

TEST_F(HashTable, StringHashIgnoresUnitWidthAndCase)
{
    uint32_t narrow = string_hash(text(1, U"Hello"), false);
    EXPECT_EQ(string_hash(text(2, U"Hello"), false), narrow);
    EXPECT_EQ(string_hash(text(4, U"Hello"), false), narrow);
    EXPECT_EQ(string_hash(text(1, U"HELLO"), false), narrow);
    EXPECT_EQ(string_hash(text(4, U"hello"), false), narrow);
    EXPECT_NE(string_hash(text(1, U"HELLO"), true), string_hash(text(2, U"hello"), true));
    EXPECT_EQ(string_hash(text(1, U"hello"), true), string_hash(text(4, U"hello"), true));
    EXPECT_NE(string_hash(text(1, U"hello"), false), string_hash(text(1, U"hellp"), false));
    // Equal to MurmurHash3 of the text as UTF-32 little-endian, upper-cased.
    const char32_t upper[] = U"HELLO";
    EXPECT_EQ(narrow, murmur3_hash(upper, 20));
    // The head index counts.
    cell* tail_part = text(2, U"xxHello");
    tail_part->data1 = 2;
    EXPECT_EQ(string_hash(tail_part, false), narrow);
}

}  // namespace
