// symbol!: interning names (the probing is the hash table's), name strings made on demand, and the
// compare action. Interning compares UTF-8 bytes only; text is decoded only to form or compare.
// A name handed in must not live in a movable buffer: interning allocates.
#include "runtime/datatypes/symbol.h"

#include <cstring>
#include <string>

#include "runtime/casefold.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/hashtable.h"

symbol_state symbols;

namespace {

// One code point from UTF-8 at p[i] (n bytes in all); advances i. A malformed or truncated
// sequence gives U+FFFD and consumes one byte.
uint32_t utf8_next(const uint8_t* p, uint32_t n, uint32_t& i)
{
    uint8_t b = p[i];
    uint32_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 0) {
        i++;
        return b;
    }
    if (extra == 4 || i + extra >= n) {
        i++;
        return 0xFFFD;
    }
    uint32_t cp = b & (0x3Fu >> extra);
    for (uint32_t k = 1; k <= extra; k++) {
        if ((p[i + k] & 0xC0) != 0x80) {
            i++;
            return 0xFFFD;
        }
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        i++;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

uint32_t intern(const uint8_t* text, uint32_t length, bool canonical)
{
    return canonical ? symbol_table_find_or_add_canonical(symbols.table, text, length)
                     : symbol_table_find_or_add(symbols.table, text, length, false);
}

}  // namespace

void symbol::block_init() { symbols.block = block::make_in(nullptr, BLOCK_CELLS); }

void symbol::table_init() { symbols.table = hashtable_new(BLOCK_CELLS, symbols.block, HASH_SYMBOLS, 1); }

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
    std::string text = string::to_utf8(str);
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

uint32_t symbol::count() { return series_used_bytes(series_of(symbols.block->data2)) / 16; }

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
    std::u32string text;
    uint32_t widest = 0;
    for (uint32_t i = 0; i < length;) {
        uint32_t cp = utf8_next(p, length, i);
        text.push_back(cp);
        if (cp > widest) widest = cp;
    }
    uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    node_ref node = series_alloc_unit(uint32_t(text.size()), unit);
    series_buffer* s = series_of(node);
    for (uint32_t i = 0; i < text.size(); i++) {
        uint32_t at_unit = s->head + i * unit;
        if (unit == 1) *at<uint8_t>(at_unit) = uint8_t(text[i]);
        else if (unit == 2) *at<uint16_t>(at_unit) = uint16_t(text[i]);
        else *at<uint32_t>(at_unit) = text[i];
    }
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
    uint32_t na = series_used_bytes(a), nb = series_used_bytes(b), i = 0, j = 0;
    while (i < na && j < nb) {
        uint32_t ca = utf8_next(pa, na, i), cb = utf8_next(pb, nb, j);
        if (fold) {
            ca = char_change_case(ca, 1);
            cb = char_change_case(cb, 1);
        }
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    if (i < na) return 1;
    return j < nb ? -1 : 0;
}

void symbol::init()
{
    datatype::register_type(TYPE_SYMBOL, 0, "symbol!",
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, compare, nullptr,   // 1-10
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr);
}
