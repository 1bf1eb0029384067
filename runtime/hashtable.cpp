// Hash tables over backing blocks (kinds 0-4) and the plain integer table. Triangular probing over
// power-of-two bucket counts; at most 0.77 of the buckets in use. Every allocation here may move
// the record, flags, keys and block: each step fetches them again through the table's node, and a
// node that is not yet stored anywhere reachable is kept on the argument stack while others are made.
#include "runtime/hashtable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/arrays.h"
#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/rterror.h"

uint32_t hash_seed;

// ---- hashing ------------------------------------------------------------------------------------

namespace {

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

constexpr uint32_t MURMUR_C1 = 0xCC9E2D51u, MURMUR_C2 = 0x1B873593u;

inline uint32_t murmur_round(uint32_t h, uint32_t k)
{
    k *= MURMUR_C1;
    k = rotl(k, 15);
    k *= MURMUR_C2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64u;
}

inline uint32_t murmur_tail(uint32_t h, uint32_t k)
{
    k *= MURMUR_C1;
    k = rotl(k, 15);
    k *= MURMUR_C2;
    return h ^ k;
}

inline uint8_t ascii_lower(uint8_t b) { return (b >= 'A' && b <= 'Z') ? uint8_t(b + 32) : b; }

// MurmurHash3_x86_32, optionally lowering the ASCII capitals A-Z as the bytes are read.
uint32_t murmur_bytes(const uint8_t* p, uint32_t length, uint32_t seed, bool fold)
{
    auto byte = [&](uint32_t i) { return fold ? ascii_lower(p[i]) : p[i]; };
    uint32_t h = seed;
    uint32_t blocks = length / 4;
    for (uint32_t i = 0; i < blocks; i++) {
        uint32_t k = uint32_t(byte(4 * i)) | uint32_t(byte(4 * i + 1)) << 8 | uint32_t(byte(4 * i + 2)) << 16 |
                     uint32_t(byte(4 * i + 3)) << 24;
        h = murmur_round(h, k);
    }
    uint32_t k = 0;
    uint32_t rest = length & 3, base = blocks * 4;
    if (rest == 3) k ^= uint32_t(byte(base + 2)) << 16;
    if (rest >= 2) k ^= uint32_t(byte(base + 1)) << 8;
    if (rest >= 1) {
        k ^= byte(base);
        h = murmur_tail(h, k);
    }
    return hash_mix(h ^ length);
}

}  // namespace

uint32_t hash_mix(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

uint32_t murmur3_x86_32(const void* data, uint32_t length, uint32_t seed)
{
    return murmur_bytes(static_cast<const uint8_t*>(data), length, seed, false);
}

uint32_t murmur3_hash(const void* data, uint32_t length) { return murmur3_x86_32(data, length, hash_seed); }

uint32_t pow2_round_up(uint32_t x)
{
    if (x <= 1) return 1;
    x--;
    x |= x >> 1;
    x |= x >> 2;
    x |= x >> 4;
    x |= x >> 8;
    x |= x >> 16;
    return x + 1;
}

namespace {

// One murmur block per code point, read at the buffer's width; folding inline, so a text is hashed
// in one pass without being copied or widened.
template <class Unit, bool Fold>
uint32_t hash_code_points(const uint8_t* p, uint32_t count, uint32_t h)
{
    for (uint32_t i = 0; i < count; i++) {
        Unit unit;
        std::memcpy(&unit, p + i * sizeof(Unit), sizeof unit);
        uint32_t cp = unit;
        if (Fold) cp = char_change_case(cp, 1);
        h = murmur_round(h, cp);
    }
    return h;
}

template <class Unit>
uint32_t hash_units(const uint8_t* p, uint32_t count, bool fold)
{
    return fold ? hash_code_points<Unit, true>(p, count, hash_seed) : hash_code_points<Unit, false>(p, count, hash_seed);
}

}  // namespace

uint32_t string_hash(const cell* str, bool case_sensitive)
{
    series_buffer* s = series_of(str->data2);
    uint32_t unit = series_unit(s);
    uint64_t start = uint64_t(s->head) + uint64_t(str->data1) * unit;
    uint32_t bytes = start >= s->tail ? 0 : s->tail - uint32_t(start);
    uint32_t h = hash_seed, count = 0;
    if (bytes) {
        const uint8_t* p = at<uint8_t>(uint32_t(start));
        bool fold = !case_sensitive;
        if (unit == 1) count = bytes, h = hash_units<uint8_t>(p, count, fold);
        else if (unit == 2) count = bytes / 2, h = hash_units<uint16_t>(p, count, fold);
        else count = bytes / 4, h = hash_units<uint32_t>(p, count, fold);
    }
    return hash_mix(h ^ (count * 4));
}

namespace {

uint32_t words_hash(const cell* v, uint32_t first, uint32_t count)
{
    const uint32_t* w = &v->header;
    return murmur3_hash(w + first, count * 4);
}

}  // namespace

uint32_t value_hash(const cell* v)
{
    switch (cell_type(v)) {
    case TYPE_UNSET: return uint32_t(-2);
    case TYPE_NONE: return uint32_t(-1);
    case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
        return hash_mix(v->data1);
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
        return hash_mix(v->data2);
    case TYPE_NATIVE: case TYPE_ACTION:
        return hash_mix(v->data3);
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE:
        return hash_mix(symbol::resolve(v->data2));
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: case TYPE_POINT2D: case TYPE_IMAGE:
        return words_hash(v, 1, 2);
    case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME:
        return words_hash(v, 2, 2);
    case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_POINT3D:
        return words_hash(v, 1, 3);
    case TYPE_DATE: {
        // Dates are equal by their UTC moment, whatever their zones: hash the moment, to the
        // millisecond.
        int64_t ms = std::llround(date::to_seconds(date::packed_of(v), date::time_of(v)) * 1000.0);
        uint32_t words[2] = {uint32_t(uint64_t(ms)), uint32_t(uint64_t(ms) >> 32)};
        return murmur3_hash(words, sizeof words);
    }
    case TYPE_TUPLE: {
        uint32_t n = (v->header >> 19) & 0xF;
        return murmur3_hash(&v->data1, n > 12 ? 12 : n);
    }
    case TYPE_BINARY: {
        series_buffer* s = series_of(v->data2);
        uint64_t start = uint64_t(s->head) + v->data1;
        return start >= s->tail ? murmur3_hash(nullptr, 0) : murmur3_hash(at(uint32_t(start)), s->tail - uint32_t(start));
    }
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        return string_hash(v, false);
    case TYPE_SYMBOL: {
        uint32_t length = series_used_bytes(series_of(v->data3));
        return murmur_bytes(at(series_of(v->data3)->head), length, hash_seed, true);
    }
    default:
        // money! included until its own normalisation exists: equal amounts must hash alike.
        return 0;
    }
}

// ---- table storage ------------------------------------------------------------------------------

namespace {

constexpr uint32_t NO_BUCKET = 0xFFFFFFFFu;

hashtable* rec(node_ref t) { return hashtable_record(t); }
uint32_t* flag_words(const hashtable* h) { return at<uint32_t>(series_of(h->flags)->head); }
int32_t* key_words(const hashtable* h) { return at<int32_t>(series_of(h->keys)->head); }
// A map's bucket holds two words, its key's cell index and that key's hash; other kinds one.
uint32_t key_stride(const hashtable* h) { return h->kind == HASH_MAP ? 2 : 1; }
int32_t& key_word(const hashtable* h, uint32_t bucket) { return key_words(h)[bucket * key_stride(h)]; }
cell* block_head(const hashtable* h) { return at<cell>(series_of(h->block)->head); }
uint32_t block_cells(const hashtable* h) { return series_used_bytes(series_of(h->block)) / 16; }

inline uint32_t state_of(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_state(uint32_t* f, uint32_t i, uint32_t st)
{
    uint32_t shift = (i & 15) * 2;
    f[i >> 4] = (f[i >> 4] & ~(3u << shift)) | (st << shift);
}

uint32_t upper_of(uint32_t buckets) { return uint32_t(buckets * HASH_LOAD); }

// Keeps a table (and its block) reachable while its parts are being made.
struct keep_table {
    gc_cell_root held;
    keep_table(node_ref table, node_ref block) : held(cell{TYPE_HASH, 0, block, table}) {}
};

node_ref bytes_with_tail(uint32_t n, uint8_t fill)
{
    node_ref node = series_alloc_filled(n, fill);
    series_buffer* s = series_of(node);
    s->tail = s->head + n;
    return node;
}

// Fresh flags and keys for `buckets` buckets; the old ones become garbage.
void index_alloc(node_ref t, uint32_t buckets)
{
    uint32_t flag_bytes = buckets / 4 < 4 ? 4 : buckets / 4;
    node_ref f = bytes_with_tail(flag_bytes, 0xAA);
    rec(t)->flags = f;
    node_ref k = bytes_with_tail(buckets * 4 * key_stride(rec(t)), 0);
    hashtable* h = rec(t);
    h->keys = k;
    h->buckets = buckets;
    h->upper = upper_of(buckets);
    h->occupied = 0;
    h->live = 0;
    h->memo_node = 0;
}

uint32_t* reverse_slot(hashtable* h, uint32_t index)
{
    return at<uint32_t>(series_of(h->aux)->head) + index;
}

// Kind 0: the reverse index covers cell `index`.
void reverse_ensure(node_ref t, uint32_t index)
{
    series_buffer* s = series_of(rec(t)->aux);
    uint32_t need = (index + 1) * 4;
    if (series_used_bytes(s) >= need) return;
    if (s->head + need > series_end_ref(s)) s = series_expand_filled(s, need * 2, 0xFF);
    memory_fill(at(s->tail), at(s->head + need), 0xFF);
    s->tail = s->head + need;
}

// ---- kind 0 duplicate chains: arrays of 32-bit cell indexes, one per group of equal keys ---------

node_ref chain_node(const hashtable* h, int32_t key) { return array_pick(h->chains, uint32_t(-key)); }

uint32_t chain_length(node_ref a) { return array_length(a); }
uint32_t* chain_items(node_ref a) { return reinterpret_cast<uint32_t*>(array_head(a)); }

// Starts a chain for the bucket that held the single key `first`; returns the key word (-position).
int32_t chain_start(node_ref t, uint32_t first, uint32_t second)
{
    int_append(rec(t)->chains, 0);   // the slot first: the new array is stored in it at once
    uint32_t position = array_length(rec(t)->chains);
    node_ref a = array_new(4, 4);
    array_poke(rec(t)->chains, position, a);
    int_append(a, first);
    int_append(a, second);
    return -int32_t(position);
}

void chain_append(node_ref a, uint32_t index) { int_append(a, index); }

// Representative cell index of a bucket's key word (kinds 0-2).
uint32_t key_index(const hashtable* h, int32_t key)
{
    if (key >= 0) return uint32_t(key);
    return chain_items(chain_node(h, key))[0];
}

// ---- equality -----------------------------------------------------------------------------------

// Keys are equal only as their type's compare says: never by their bytes, which hold header
// flags (the new-line bit) and unused payload words. A type without a compare has no equal keys.
bool cells_equal(const cell* a, const cell* b, int32_t op)
{
    compare_fn cmp = actions_of(cell_type(a)).compare;
    if (!cmp) return false;
    cell x = *a, y = *b;   // compare routines take writable cells; the block may not be touched
    return cmp(&x, &y, op) == 0;
}

bool is_any_word(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }

// A map key: the type bytes must agree, except that all four plain word kinds find each other.
bool map_keys_equal(const cell* stored, const cell* key, int32_t op)
{
    uint32_t ts = cell_type(stored), tk = cell_type(key);
    // Texts, the usual keys, go straight to the text comparison their compare action makes.
    if (ts == tk && any_string_q(ts)) return string::equal_q(stored, key, op, false) == 0;
    cell k = *key;
    if (ts != tk) {
        if (!(is_any_word(ts) && is_any_word(tk) && ts != TYPE_REFINEMENT && tk != TYPE_REFINEMENT)) return false;
        cell_set_type(&k, ts);
    }
    return cells_equal(stored, &k, op);
}

uint32_t symbol_bytes_equal(uint32_t id, const uint8_t* name, uint32_t length, bool fold)
{
    uint32_t n;
    const uint8_t* p = symbol::name(id, &n);
    if (n != length) return false;
    if (!fold) return std::memcmp(p, name, length) == 0;
    for (uint32_t i = 0; i < length; i++)
        if (ascii_lower(p[i]) != ascii_lower(name[i])) return false;
    return true;
}

// ---- probing ------------------------------------------------------------------------------------

// Walks the probe path of hash. eq(key word) tells a match. found: the matching bucket or NO_BUCKET;
// free: where an insertion goes (the first deleted bucket passed, else the empty one reached). A map
// asks eq only of buckets whose key hashed alike: its keys are mostly texts, whose comparison
// costs far more than the hash word, and equal keys always hash alike.
struct probe_result {
    uint32_t found, free;
};

template <class Eq>
probe_result probe(const hashtable* h, uint32_t hash, Eq eq)
{
    const uint32_t* f = flag_words(h);
    const int32_t* keys = key_words(h);
    bool hashed = h->kind == HASH_MAP;
    uint32_t mask = h->buckets - 1;
    uint32_t index = hash & mask, deleted = NO_BUCKET;
    for (uint32_t step = 0; step < h->buckets; step++) {
        uint32_t st = state_of(f, index);
        if (st & BUCKET_EMPTY) return {NO_BUCKET, deleted != NO_BUCKET ? deleted : index};
        if (st == BUCKET_DELETED) {
            if (deleted == NO_BUCKET) deleted = index;
        } else if (!hashed ? eq(keys[index]) : uint32_t(keys[2 * index + 1]) == hash && eq(keys[2 * index])) {
            return {index, NO_BUCKET};
        }
        index = (index + step + 1) & mask;
    }
    return {NO_BUCKET, deleted};
}

void place(node_ref t, uint32_t bucket, int32_t key)
{
    hashtable* h = rec(t);
    uint32_t* f = flag_words(h);
    if (state_of(f, bucket) & BUCKET_EMPTY) h->occupied++;
    set_state(f, bucket, BUCKET_IN_USE);
    key_word(h, bucket) = key;
    h->live++;
    h->memo_node = 0;   // the new key may stand first on the remembered key's probe path
}

void reindex(node_ref t, uint32_t n, uint32_t limit);

// Grows (or cleans) the index before an insertion when it is full: the same size when it holds
// mostly deleted buckets, else double. Kinds 0-2 index again the cells before limit. Returns true
// when it rebuilt.
bool ensure_room(node_ref t, uint32_t limit = 0xFFFFFFFFu)
{
    hashtable* h = rec(t);
    if (h->occupied < h->upper) return false;
    uint32_t n = (2 * uint32_t(h->live) < h->buckets && h->kind != HASH_MAP) ? h->buckets - 1 : h->buckets + 1;
    reindex(t, n, limit);
    return true;
}

// ---- kinds 0-2: cells of the block --------------------------------------------------------------

uint32_t cell_hash(const hashtable* h, const cell* c)
{
    if (h->kind == HASH_SYMBOLS) {
        if (cell_type(c) == TYPE_SYMBOL) return value_hash(c);
        return hash_mix(symbol::resolve(c->data2));
    }
    return value_hash(c);
}

probe_result probe_cell(const hashtable* h, const cell* key, uint32_t hash)
{
    const cell* base = block_head(h);
    if (h->kind == HASH_MAP)
        return probe(h, hash, [&](int32_t k) { return map_keys_equal(base + k, key, COMP_STRICT_EQUAL); });
    return probe(h, hash, [&](int32_t k) { return cells_equal(base + key_index(h, k), key, COMP_EQUAL); });
}

// Indexes cell `index` of the block (kinds 0-2); no resize. Kind 1 reports the index of an earlier
// equal key (or -1); kind 0 chains equal keys.
int32_t index_cell(node_ref t, uint32_t index)
{
    hashtable* h = rec(t);
    const cell* c = block_head(h) + index;
    uint32_t hash = cell_hash(h, c);
    probe_result p = h->kind == HASH_SYMBOLS
        ? probe(h, hash, [](int32_t) { return false; })   // names and words are unique in their blocks
        : probe_cell(h, c, hash);
    if (p.found != NO_BUCKET) {
        int32_t key = key_word(h, p.found);
        if (h->kind == HASH_MAP) return key;
        if (key >= 0) {
            int32_t chained = chain_start(t, uint32_t(key), index);
            key_words(rec(t))[p.found] = chained;
        } else {
            chain_append(chain_node(h, key), index);
        }
        reverse_ensure(t, index);
        *reverse_slot(rec(t), index) = p.found + 1;
        return -1;
    }
    place(t, p.free, int32_t(index));
    if (h->kind == HASH_MAP) key_words(rec(t))[2 * p.free + 1] = int32_t(hash);
    if (h->kind == HASH_BLOCK) {
        reverse_ensure(t, index);
        *reverse_slot(rec(t), index) = p.free + 1;
    }
    return -1;
}

void remove_map_pair(node_ref t, uint32_t index)
{
    series_buffer* s = series_of(rec(t)->block);
    cell* pair = at<cell>(s->head) + index;
    std::memmove(pair, pair + 2, s->tail - ref_of(pair + 2));
    s->tail -= 32;
}

// ---- kinds 3/4: entries of the block ------------------------------------------------------------

cell* entry_at(const hashtable* h, int32_t offset) { return at<cell>(series_of(h->block)->head + uint32_t(offset)); }

probe_result probe_int(const hashtable* h, uint32_t key)
{
    return probe(h, hash_mix(key), [&](int32_t off) { return entry_at(h, off)->data1 == key; });
}

// Slides the live entries of a kind 3/4 block together, dropping deleted ones (first word 0).
void compact_entries(node_ref t)
{
    hashtable* h = rec(t);
    series_buffer* s = series_of(h->block);
    uint32_t size = h->aux, out = s->head;
    for (uint32_t p = s->head; p + size <= s->tail; p += size) {
        if (at<cell>(p)->header == 0) continue;
        if (out != p) std::memmove(at(out), at(p), size);
        out += size;
    }
    s->tail = out;
}

}  // namespace

uint32_t hashtable_bucket_state(node_ref table, uint32_t bucket) { return state_of(flag_words(rec(table)), bucket); }
int32_t hashtable_key_word(node_ref table, uint32_t bucket) { return key_word(rec(table), bucket); }

// ---- creation -----------------------------------------------------------------------------------

node_ref hashtable_new(uint32_t size, const cell* block, uint32_t kind, uint32_t width)
{
    if (kind == HASH_SYMBOLS && size >= 4000) size *= 2;
    if (size < 4) size = 4;
    uint32_t start = block ? block->data1 : 0;
    node_ref block_node = block ? block->data2 : 0;
    node_ref t = bytes_with_tail(sizeof(hashtable), 0);
    keep_table keep(t, block_node);
    hashtable* h = rec(t);
    h->kind = kind;
    h->block = block_node;
    uint64_t need = (uint64_t(size) * 100 + 76) / 77;
    if (need > 0x40000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    index_alloc(t, pow2_round_up(uint32_t(need)));
    if (kind == HASH_BLOCK) {
        node_ref r = bytes_with_tail(size * 4, 0xFF);
        rec(t)->aux = r;
        node_ref c = array_new(4, 4);
        rec(t)->chains = c;
    }
    if (kind >= HASH_INT) {
        rec(t)->aux = 16 * (width + 1);
        node_ref b = cells_alloc(size * (width + 1));
        rec(t)->block = b;
        return t;
    }
    if (!block_node) {
        node_ref b = cells_alloc(size);
        rec(t)->block = b;
        return t;
    }
    hashtable_rehash(t, start, kind == HASH_MAP ? 2 : 1);
    return t;
}

void hashtable_rehash(node_ref t, uint32_t start, uint32_t step)
{
    rec(t)->memo_node = 0;   // pairs merged here move the cells after them
    for (uint32_t i = start; i < block_cells(rec(t)); i += step) {
        ensure_room(t, i);   // cells from i on are not indexed yet
        int32_t earlier = index_cell(t, i);   // may allocate (kind 0 chains): the record moves
        if (earlier >= 0 && rec(t)->kind == HASH_MAP) {
            cell value = block_head(rec(t))[i + 1];
            block_head(rec(t))[earlier + 1] = value;
            remove_map_pair(t, i);
            i -= step;
        }
    }
}

void hashtable_rebuild(node_ref t, uint32_t n) { reindex(t, n, 0xFFFFFFFFu); }

void hashtable_reindex(node_ref t)
{
    uint64_t n = uint64_t(block_cells(rec(t))) * 100 / 77 + 1;
    reindex(t, uint32_t(n > 0x40000000u ? 0x40000001u : n), 0xFFFFFFFFu);
}

void hashtable_index_range(node_ref t, uint32_t start, uint32_t n)
{
    for (uint32_t i = start; i - start < n && i < block_cells(rec(t)); i++) {
        if (ensure_room(t)) return;   // the rebuild indexed every cell of the block, these included
        index_cell(t, i);
    }
}

void hashtable_move(node_ref t, uint32_t from, int32_t delta)
{
    if (rec(t)->kind != HASH_BLOCK || delta == 0) return;
    int64_t old_end = int64_t(block_cells(rec(t))) - delta;
    // Cells past the reverse index were never indexed: nothing of theirs is stored.
    int64_t end = std::min<int64_t>(old_end, series_used_bytes(series_of(rec(t)->aux)) / 4);
    if (end <= int64_t(from)) return;
    if (delta > 0) reverse_ensure(t, uint32_t(end + delta - 1));   // may allocate: addresses after
    hashtable* h = rec(t);
    uint32_t* reverse = reverse_slot(h, 0);
    int32_t* keys = key_words(h);
    // Each duplicate chain is shifted once, whichever of its cells reaches it first.
    std::vector<bool> chain_done(array_length(h->chains) + 1);
    for (int64_t i = from; i < end; i++) {
        uint32_t bucket = reverse[i];
        if (bucket == 0 || bucket == NO_BUCKET) continue;
        int32_t& key = keys[bucket - 1];
        if (key >= 0) {
            key += delta;
            continue;
        }
        if (chain_done[size_t(-key)]) continue;
        chain_done[size_t(-key)] = true;
        node_ref a = chain_node(h, key);
        uint32_t* items = chain_items(a);
        for (uint32_t j = 0; j < chain_length(a); j++)
            if (items[j] >= from) items[j] = uint32_t(int64_t(items[j]) + delta);
    }
    std::memmove(reverse + from + delta, reverse + from, size_t(end - from) * 4);
    if (delta > 0) std::memset(reverse + from, 0xFF, size_t(delta) * 4);
    else std::memset(reverse + end + delta, 0xFF, size_t(-delta) * 4);
}

namespace {
void reindex(node_ref t, uint32_t n, uint32_t limit)
{
    uint32_t buckets = pow2_round_up(n < 4 ? 4 : n);
    if (buckets > 0x40000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    index_alloc(t, buckets);
    hashtable* h = rec(t);
    if (h->kind >= HASH_INT) {
        compact_entries(t);
        h = rec(t);
        series_buffer* s = series_of(h->block);
        for (uint32_t off = 0; s->head + off + h->aux <= s->tail; off += h->aux) {
            probe_result p = probe_int(h, entry_at(h, int32_t(off))->data1);
            place(t, p.free, int32_t(off));
        }
        return;
    }
    if (h->kind == HASH_BLOCK) {
        series_buffer* r = series_of(h->aux);
        memory_fill(at(r->head), at(r->tail), 0xFF);
        array_clear(h->chains);
    }
    uint32_t step = h->kind == HASH_MAP ? 2 : 1;
    for (uint32_t i = 0; i < limit && i < block_cells(rec(t)); i += step) {
        index_cell(t, i);
        hashtable* r = rec(t);
        if (r->kind == HASH_MAP && block_head(r)[i + 1].header == 0) r->live--;   // a removed pair stays findable
    }
}
}  // namespace

// ---- kinds 3/4 ----------------------------------------------------------------------------------

cell* hashtable_put(node_ref t, uint32_t key)
{
    probe_result p = probe_int(rec(t), key);
    if (p.found == NO_BUCKET && ensure_room(t)) p = probe_int(rec(t), key);
    hashtable* h = rec(t);
    uint32_t size = h->aux;
    cell* entry;
    if (p.found != NO_BUCKET) {
        entry = entry_at(h, key_words(h)[p.found]);
    } else if (p.free != NO_BUCKET && state_of(flag_words(h), p.free) == BUCKET_DELETED) {
        // Mended: a deleted bucket still names its dead entry, and only that bucket does, so the
        // entry is taken over. Appending instead grew the block without bound when keys came and
        // went, since a reused bucket never raises the count that triggers the cleaning rebuild.
        int32_t offset = key_words(h)[p.free];
        entry = entry_at(h, offset);
        *entry = cell{TYPE_UNSET, key, 0, 0};
        place(t, p.free, offset);
    } else {
        node_ref block = h->block;
        uint32_t offset = series_used_bytes(series_of(block));
        series_alloc_tail_bytes(block, size);
        h = rec(t);
        entry = entry_at(h, int32_t(offset));
        *entry = cell{TYPE_UNSET, key, 0, 0};
        place(t, p.free, int32_t(offset));
    }
    cell* values = entry + 1;
    for (uint32_t i = 0; i + 1 < size / 16; i++) values[i] = cell{TYPE_UNSET, 0, 0, 0};
    return values;
}

cell* hashtable_get(node_ref t, uint32_t key)
{
    hashtable* h = rec(t);
    probe_result p = probe_int(h, key);
    return p.found == NO_BUCKET ? nullptr : entry_at(h, key_words(h)[p.found]) + 1;
}

cell* hashtable_delete(node_ref t, uint32_t key)
{
    hashtable* h = rec(t);
    probe_result p = probe_int(h, key);
    if (p.found == NO_BUCKET) return nullptr;
    cell* entry = entry_at(h, key_words(h)[p.found]);
    set_state(flag_words(h), p.found, BUCKET_DELETED);
    h->live--;
    entry->header = 0;
    return entry + 1;
}

// ---- kinds 0-2 ----------------------------------------------------------------------------------

uint32_t hashtable_put_value(node_ref t, const cell* key)
{
    uint32_t index = uint32_t((ref_of(key) - series_of(rec(t)->block)->head) / 16);
    if (ensure_room(t)) return 2;   // the rebuild walked the whole block, this cell included
    index_cell(t, index);
    return 0;
}

void hashtable_put_value_key(node_ref t, const cell* key) { hashtable_put_value(t, key); }

namespace {

// A map's look-up. A text just found is often asked for again at once (a select, then the put of
// the new value), and the remembered entry answers without the hash and probe once its key is
// compared equal: an equal key has the same probe path, and the same entries on it equal it, so
// the first of them is still the one remembered while no key has been added. A text changed since,
// or another text in the same node, fails the comparison and is looked up afresh.
cell* map_find(node_ref t, const cell* key, int32_t op)
{
    hashtable* h = rec(t);
    bool text = any_string_q(cell_type(key));
    if (text && h->memo_node == key->data2 && h->memo_head == key->data1 && h->memo_op == op) {
        cell* stored = block_head(h) + h->memo_index;
        if (map_keys_equal(stored, key, op)) return stored;
    }
    hash_cursor cursor{};
    cell* hit = hashtable_find_next_value(t, key, op, cursor);
    if (hit && text) {
        h = rec(t);
        h->memo_node = key->data2;
        h->memo_head = key->data1;
        h->memo_index = uint32_t(hit - block_head(h));
        h->memo_op = op;
    }
    return hit;
}

}  // namespace

cell* hashtable_find_value(node_ref t, const cell* key, int32_t op, uint32_t start, uint32_t skip, bool last)
{
    hashtable* h = rec(t);
    if (h->kind == HASH_MAP) return map_find(t, key, op);
    probe_result p = probe_cell(h, key, value_hash(key));
    if (p.found == NO_BUCKET) return nullptr;
    int32_t k = key_words(h)[p.found];
    const uint32_t single = uint32_t(k);
    const uint32_t* items = k >= 0 ? &single : chain_items(chain_node(h, k));
    uint32_t n = k >= 0 ? 1 : chain_length(chain_node(h, k));
    if (skip == 0) skip = 1;
    cell* base = block_head(h);
    int64_t best = -1;
    for (uint32_t j = 0; j < n; j++) {
        uint32_t i = items[j];
        bool in_step = last ? (i < start && (start - i - 1) % skip == 0) : (i >= start && (i - start) % skip == 0);
        if (!in_step || !cells_equal(base + i, key, op)) continue;
        if (best < 0 || (last ? i > best : i < best)) best = i;
    }
    return best < 0 ? nullptr : base + best;
}

cell* hashtable_find_next_value(node_ref t, const cell* key, int32_t op, hash_cursor& c)
{
    hashtable* h = rec(t);
    const uint32_t* f = flag_words(h);
    const int32_t* keys = key_words(h);
    uint32_t mask = h->buckets - 1;
    if (!c.started) {
        uint32_t hash = value_hash(key);
        c = hash_cursor{hash & mask, 0, 0, hash, true};
    } else {
        c.bucket = (c.bucket + ++c.step) & mask;
        c.visited++;
    }
    cell* base = block_head(h);
    for (; c.visited < h->buckets; c.visited++, c.bucket = (c.bucket + ++c.step) & mask) {
        uint32_t st = state_of(f, c.bucket);
        if (st & BUCKET_EMPTY) return nullptr;
        const int32_t* slot = keys + 2 * c.bucket;
        if (st == BUCKET_IN_USE && uint32_t(slot[1]) == c.hash && map_keys_equal(base + slot[0], key, op))
            return base + slot[0];
    }
    return nullptr;
}

void hashtable_delete_value(node_ref t, const cell* key)
{
    hashtable* h = rec(t);
    uint32_t index = uint32_t((ref_of(key) - series_of(h->block)->head) / 16);
    if (h->kind == HASH_MAP) {
        if (block_head(h)[index + 1].header != 0) h->live--;
        block_head(h)[index + 1].header = 0;
        return;
    }
    if (h->kind != HASH_BLOCK || index >= series_used_bytes(series_of(h->aux)) / 4) return;
    uint32_t bucket = *reverse_slot(h, index);
    if (bucket == 0 || bucket == NO_BUCKET) return;
    bucket--;
    *reverse_slot(h, index) = NO_BUCKET;
    int32_t k = key_words(h)[bucket];
    if (k < 0) {
        node_ref a = chain_node(h, k);
        ptr_remove(a, index);
        if (chain_length(a)) return;
        array_poke(h->chains, uint32_t(-k), 0);
    }
    set_state(flag_words(h), bucket, BUCKET_DELETED);
    h->live--;
}

void hashtable_remove(node_ref t, uint32_t index, uint32_t n)
{
    if (rec(t)->kind != HASH_BLOCK) {
        hashtable_clear(t);
        return;
    }
    for (uint32_t i = index; i < index + n && i < block_cells(rec(t)); i++)
        hashtable_delete_value(t, block_head(rec(t)) + i);
}

void hashtable_clear(node_ref t)
{
    hashtable* h = rec(t);
    h->live = 0;
    h->memo_node = 0;
    h->occupied = 0;
    series_buffer* f = series_of(h->flags);
    memory_fill(at(f->head), at(f->tail), 0xAA);
    if (h->kind == HASH_BLOCK) {
        array_clear(h->chains);
        series_buffer* r = series_of(h->aux);
        memory_fill(at(r->head), at(r->tail), 0xFF);
    }
}

node_ref hashtable_copy(node_ref t, node_ref block)
{
    node_ref copy = bytes_with_tail(sizeof(hashtable), 0);
    keep_table keep(copy, block);
    *rec(copy) = *rec(t);
    rec(copy)->block = block;
    rec(copy)->flags = rec(copy)->keys = rec(copy)->aux = rec(copy)->chains = rec(copy)->memo_node = 0;
    node_ref f = series_copy(series_of(rec(t)->flags));
    rec(copy)->flags = f;
    node_ref k = series_copy(series_of(rec(t)->keys));
    rec(copy)->keys = k;
    if (rec(t)->kind >= HASH_INT) rec(copy)->aux = rec(t)->aux;
    if (rec(t)->kind != HASH_BLOCK) return copy;
    node_ref r = series_copy(series_of(rec(t)->aux));
    rec(copy)->aux = r;
    node_ref c = array_copy(rec(t)->chains);
    rec(copy)->chains = c;
    uint32_t n = array_length(c);
    for (uint32_t i = 1; i <= n; i++) {
        node_ref a = array_pick(rec(t)->chains, i);
        if (!a) continue;
        node_ref dup = array_copy(a);
        array_poke(rec(copy)->chains, i, dup);
    }
    return copy;
}

void hashtable_gc_mark(node_ref t, void (*mark_series)(node_ref), void (*mark_cells)(node_ref))
{
    mark_series(t);
    hashtable* h = rec(t);
    if (h->kind == HASH_BLOCK) {
        if (h->aux) mark_series(h->aux);
        if (h->chains) {
            mark_series(h->chains);
            series_buffer* c = series_of(h->chains);
            for (uint32_t p = c->head; p < c->tail; p += 4)
                if (*at<uint32_t>(p)) mark_series(*at<uint32_t>(p));
        }
    }
    if (h->flags) mark_series(h->flags);
    if (h->keys) mark_series(h->keys);
    // Keys of the integer kinds are numbers or weak node references: never marked through.
    if (h->block) mark_cells(h->block);
}

// ---- symbols and word tables --------------------------------------------------------------------

namespace {

// Appends a symbol cell for the name (alias: canonical id or -1) and indexes it in `bucket`.
uint32_t symbol_add(node_ref t, const uint8_t* name, uint32_t length, int32_t alias, uint32_t bucket)
{
    node_ref bytes = bytes_alloc(length + 1);
    series_buffer* s = series_of(bytes);
    if (length) std::memcpy(at(s->head), name, length);
    *at<uint8_t>(s->head + length) = 0;
    s->tail = s->head + length;
    node_ref block = rec(t)->block;
    {
        gc_root keep_name(bytes);   // while the block grows
        *series_alloc_tail(series_of(block)) = cell{TYPE_SYMBOL, uint32_t(alias), 0, bytes};
    }
    uint32_t index = series_used_bytes(series_of(block)) / 16 - 1;
    place(t, bucket, int32_t(index));
    return index + 1;
}

uint32_t symbol_find_or_add(node_ref t, const uint8_t* name, uint32_t length, bool exact_pass, bool fold_pass)
{
    if (length >= 0x7FFFFFF0u) fire(ERR_INTERNAL, err::NO_MEMORY);
    ensure_room(t);
    hashtable* h = rec(t);
    uint32_t hash = murmur_bytes(name, length, hash_seed, true);
    probe_result p{NO_BUCKET, NO_BUCKET};
    if (exact_pass) {
        p = probe(h, hash, [&](int32_t k) { return symbol_bytes_equal(uint32_t(k) + 1, name, length, false); });
        if (p.found != NO_BUCKET) return uint32_t(key_words(h)[p.found]) + 1;
    }
    int32_t alias = -1;
    if (fold_pass) {
        probe_result q = probe(h, hash, [&](int32_t k) { return symbol_bytes_equal(uint32_t(k) + 1, name, length, true); });
        if (q.found != NO_BUCKET) {
            uint32_t id = uint32_t(key_words(h)[q.found]) + 1;
            if (!exact_pass) return symbol::resolve(id);
            alias = int32_t(symbol::resolve(id));
        }
        if (!exact_pass) p = q;
    }
    return symbol_add(t, name, length, alias, p.free);
}

}  // namespace

uint32_t symbol_table_find_or_add(node_ref table, const uint8_t* name, uint32_t length, bool exact)
{
    return symbol_find_or_add(table, name, length, true, !exact);
}

uint32_t symbol_table_find_or_add_canonical(node_ref table, const uint8_t* name, uint32_t length)
{
    return symbol_find_or_add(table, name, length, false, true);
}

int32_t hashtable_find_or_add_symbol(node_ref t, uint32_t symbol, node_ref context, bool case_insensitive,
                                     int32_t* added)
{
    uint32_t canonical = symbol::resolve(symbol);
    auto matches = [&](const hashtable* h, int32_t k) {
        uint32_t s = block_head(h)[k].data2;
        return s == symbol || (case_insensitive && symbol::resolve(s) == canonical);
    };
    hashtable* h = rec(t);
    probe_result p = probe(h, hash_mix(canonical), [&](int32_t k) { return matches(h, k); });
    if (p.found != NO_BUCKET) return key_words(h)[p.found];
    if (!context) return -1;
    if (ensure_room(t)) {
        h = rec(t);
        p = probe(h, hash_mix(canonical), [](int32_t) { return false; });
    }
    node_ref block = rec(t)->block;
    uint32_t index = series_used_bytes(series_of(block)) / 16;
    *series_alloc_tail(series_of(block)) = cell{TYPE_WORD, context, symbol, index};
    place(t, p.free, int32_t(index));
    if (added) *added = int32_t(index);
    return -1;
}

// ---- plain integer table ------------------------------------------------------------------------

namespace {
void int_table_index(int_table* t, uint32_t buckets)
{
    t->buckets = buckets;
    t->upper = upper_of(buckets);
    t->flags = static_cast<uint32_t*>(rt_alloc((buckets + 15) / 16 * 4));
    std::memset(t->flags, 0xAA, (buckets + 15) / 16 * 4);
    t->entries = static_cast<uint32_t*>(rt_alloc(size_t(buckets) * 8));
    t->live = t->occupied = 0;
}

uint32_t int_probe(const int_table* t, uint32_t key, bool* found)
{
    uint32_t mask = t->buckets - 1, index = hash_mix(key) & mask, deleted = NO_BUCKET;
    for (uint32_t step = 0; step < t->buckets; step++) {
        uint32_t st = state_of(t->flags, index);
        if (st & BUCKET_EMPTY) break;
        if (st == BUCKET_DELETED) {
            if (deleted == NO_BUCKET) deleted = index;
        } else if (t->entries[2 * index] == key) {
            *found = true;
            return index;
        }
        index = (index + step + 1) & mask;
    }
    *found = false;
    return deleted != NO_BUCKET ? deleted : index;
}
}  // namespace

int_table* int_table_new(uint32_t size)
{
    int_table* t = static_cast<int_table*>(rt_alloc(sizeof(int_table)));
    uint64_t need = (uint64_t(size < 4 ? 4 : size) * 100 + 76) / 77;
    int_table_index(t, pow2_round_up(uint32_t(need > 0x40000000u ? 0x40000000u : need)));
    return t;
}

int32_t int_table_find(const int_table* t, uint32_t key)
{
    bool found;
    uint32_t b = int_probe(t, key, &found);
    return found ? int32_t(b) : -1;
}

uint32_t* hashtable_int_entry(int_table* t, uint32_t key)
{
    int32_t b = int_table_find(t, key);
    return b < 0 ? nullptr : &t->entries[2 * b + 1];
}

void int_table_put(int_table* t, uint32_t key, uint32_t value)
{
    bool found;
    uint32_t b = int_probe(t, key, &found);
    if (!found && t->occupied >= t->upper) {
        if (int_table_resize(t, t->buckets + 1) < 0) return;
        b = int_probe(t, key, &found);
    }
    if (!found) {
        if (state_of(t->flags, b) & BUCKET_EMPTY) t->occupied++;
        set_state(t->flags, b, BUCKET_IN_USE);
        t->live++;
        t->entries[2 * b] = key;
    }
    t->entries[2 * b + 1] = value;
}

int32_t int_table_resize(int_table* t, uint32_t n)
{
    uint32_t buckets = pow2_round_up(n < 4 ? 4 : n);
    if (buckets > 0x10000000u) return -1;
    int_table old = *t;
    int_table_index(t, buckets);
    for (uint32_t i = 0; i < old.buckets; i++)
        if (state_of(old.flags, i) == BUCKET_IN_USE) int_table_put(t, old.entries[2 * i], old.entries[2 * i + 1]);
    rt_free(old.flags);
    rt_free(old.entries);
    return 0;
}

void int_table_free(int_table* t)
{
    rt_free(t->flags);
    rt_free(t->entries);
    rt_free(t);
}
