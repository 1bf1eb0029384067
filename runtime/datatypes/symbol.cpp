// symbol!: interning names (the probing is the hash table's), name strings made on demand, and the
// compare action. Interning compares UTF-8 bytes only; text is decoded only to form or compare.
// Interning allocates: a name that lies in a series buffer is copied before anything else.
#include "runtime/datatypes/symbol.h"

#include <cstring>
#include <string>
#include <vector>

#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/hashtable.h"
#include "runtime/unicode.h"

symbol_state symbol_s;

namespace {

// The next code point of a name; a malformed or cut sequence reads as U+FFFD.
uint32_t next_code_point(const uint8_t*& p, const uint8_t* end)
{
    int32_t cp;
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    return cp < 0 ? 0xFFFDu : uint32_t(cp);
}

uint32_t intern(const uint8_t* text, uint32_t length, bool canonical)
{
    std::vector<uint8_t> copy;
    if (in_value_range(text)) {
        copy.assign(text, text + length);
        text = copy.data();
    }
    return canonical ? symbol_table_find_or_add_canonical(symbol_s.table, text, length)
                     : symbol_table_find_or_add(symbol_s.table, text, length, false);
}

}  // namespace

void symbol::block_init() { symbol_s.block = block::make_in(nullptr, BLOCK_CELLS); }

void symbol::table_init() { symbol_s.table = hashtable_new(BLOCK_CELLS, symbol_s.block, HASH_SYMBOLS, 1); }

uint32_t symbol::make(const char* name)
{
    return intern(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), false);
}

uint32_t symbol::make_canonical(const char* name)
{
    return intern(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), true);
}

uint32_t symbol::search_part(const uint8_t* text, uint32_t length) { return intern(text, length, false); }

uint32_t symbol::search(const cell* str, int32_t length)
{
    std::string text = string::utf8_copy(str);
    if (length >= 0) {
        uint32_t cut = 0;
        for (int32_t n = 0; cut < text.size() && n < length; n++) {
            cut++;
            while (cut < text.size() && (uint8_t(text[cut]) & 0xC0) == 0x80) cut++;
        }
        text.resize(cut);
    }
    return search_part(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
}

uint32_t symbol::count() { return series_used_bytes(series_of(symbol_s.block->data2)) / 16; }

const uint8_t* symbol::name(uint32_t id, uint32_t* length)
{
    series_buffer* s = series_of(cell_of(id)->data3);
    *length = series_used_bytes(s);
    return at<uint8_t>(s->head);
}

node_ref symbol::get_string(uint32_t id)
{
    if (cell_of(id)->data2) return cell_of(id)->data2;
    uint32_t length;
    const uint8_t* p = name(id, &length);
    // Decoded before allocating: the name's own buffer may move.
    std::u32string text;
    uint32_t widest = 0;
    for (const uint8_t* end = p + length; p < end;) {
        uint32_t cp = next_code_point(p, end);
        text.push_back(cp);
        if (cp > widest) widest = cp;
    }
    uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    node_ref node = series_alloc_unit(uint32_t(text.size()), unit);
    series_buffer* s = series_of(node);
    for (uint32_t i = 0; i < text.size(); i++) unit_write(at(s->head + i * unit), unit, text[i]);
    s->tail = s->head + uint32_t(text.size()) * unit;
    cell_of(id)->data2 = node;
    return node;
}

cell* symbol::get(uint32_t id)
{
    get_string(id);
    return cell_of(id);
}

int32_t symbol::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_SYMBOL) return -2;
    if (op == COMP_SAME) return (value1->data2 == value2->data2 && value1->data1 == value2->data1) ? 0 : -1;
    bool fold = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    series_buffer* a = series_of(value1->data3);
    series_buffer* b = series_of(value2->data3);
    const uint8_t* pa = at<uint8_t>(a->head);
    const uint8_t* pb = at<uint8_t>(b->head);
    const uint8_t* ea = pa + series_used_bytes(a);
    const uint8_t* eb = pb + series_used_bytes(b);
    while (pa < ea && pb < eb) {
        uint32_t ca = next_code_point(pa, ea), cb = next_code_point(pb, eb);
        if (fold) {
            ca = char_change_case(ca, 1);
            cb = char_change_case(cb, 1);
        }
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    if (pa < ea) return 1;
    return pb < eb ? -1 : 0;
}

void symbol::mark(const cell* c)
{
    collector::keep(c->data3);
    if (c->data2) collector::keep(c->data2);
}

void symbol::init()
{
    datatype::register_type(TYPE_SYMBOL, 0, "symbol!", {
        .compare = compare, .mark = mark});
}
