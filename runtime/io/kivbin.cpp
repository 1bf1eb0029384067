// The KIVBIN compact form: the encoder's walk with its path stack and reference table, the body
// decoder with its bounds, and the boot image load.
#include "runtime/io/kivbin.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/image_layer.h"
#include "runtime/io/lz.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"

kivbin_state kivbin_s;

namespace {

constexpr uint8_t PREFIX_NEW_LINE = 0xC0, PREFIX_REFERENCE = 0xC1, PREFIX_SET_WORD = 0xC4;
constexpr uint8_t LEAD_TRUE = 0xC2, LEAD_FALSE = 0xC3, LEAD_COPY = 0xFF, LEAD_SMALL = 0x80;
constexpr uint8_t VARIANT = 0x40;
constexpr uint32_t HEADER_BYTES = 8;
constexpr uint32_t FIXED_NEW_LINE = 0x80000000u, FIXED_REFERENCE = 1u << 19, FIXED_GLOBAL = 1u << 25;
constexpr uint32_t FIXED_PATH = 0xFF;
constexpr uint32_t FIXED_NEGATIVE = 1u << 22;   // money!
constexpr uint32_t FIXED_COMPLEMENT = 1u << 23;   // bitset!

bool no_form_q(uint32_t t)
{
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT;
}

[[noreturn]] void no_codec(const cell* what) { fire(ERR_ACCESS, err::NO_CODEC, what); }

// ---- encoding -----------------------------------------------------------------------------------

// One run: not re-entrant, as nothing it calls encodes.
struct encoder {
    std::vector<uint8_t> out;
    std::vector<uint32_t> symbols;   // symbol ids in the order met
    std::vector<uint8_t> names;      // their UTF-8 names, each with a 0 byte
    std::vector<uint32_t> name_offsets;
    std::vector<uint32_t> path;      // indices of the containers being written
    uint32_t index = 0;              // of the value being written inside its container
    std::unordered_map<node_ref, std::vector<uint32_t>> seen;   // node -> path of its first value
    uint32_t depth = 0;
    bool fixed = false;   // writing the fixed form

    void byte(uint8_t b) { out.push_back(b); }
    void bytes(const void* p, size_t n)
    {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void varint(uint32_t v)
    {
        while (v >= 0x80) {
            byte(uint8_t(v | 0x80));
            v >>= 7;
        }
        byte(uint8_t(v));
    }
    void zigzag(int32_t n) { varint((uint32_t(n) << 1) ^ uint32_t(n >> 31)); }
    void word32(uint32_t v) { bytes(&v, 4); }
    void field(uint32_t v) { fixed ? word32(v) : varint(v); }
    void any_value(const cell* c) { fixed ? fixed_value(c) : value(c); }

    uint32_t symbol_index(uint32_t id)
    {
        for (uint32_t i = 0; i < symbols.size(); i++)
            if (symbols[i] == id) return i;
        uint32_t length = 0;
        const uint8_t* name = symbol::name(id, &length);
        name_offsets.push_back(uint32_t(names.size()));
        names.insert(names.end(), name, name + length);
        names.push_back(0);
        symbols.push_back(id);
        return uint32_t(symbols.size() - 1);
    }

    // A series or context met before: the 0xC1 form's path. Else the node is entered under the
    // path of the value being written, and false is returned.
    const std::vector<uint32_t>* met(node_ref node)
    {
        auto found = seen.find(node);
        if (found != seen.end()) return &found->second;
        std::vector<uint32_t> here = path;
        here.push_back(index);
        seen.emplace(node, std::move(here));
        return nullptr;
    }
    void write_path(const std::vector<uint32_t>& p)
    {
        varint(uint32_t(p.size()));
        for (uint32_t i : p) varint(i);
    }
    void enter()
    {
        path.push_back(index);
        index = 0;
    }
    void leave()
    {
        index = path.back();
        path.pop_back();
    }

    void value(const cell* c);
    void fixed_value(const cell* c);
    void fixed_path(const std::vector<uint32_t>& p);
    void context_record(node_ref ctx);
    void object_of(const cell* c);
    void bound_word(const cell* c);
    void number(uint32_t type, double d, bool percent);
    void block_of(const cell* c);
    void string_of(const cell* c);
    void bitset_of(const cell* c);
    void vector_of(const cell* c);
    void map_of(const cell* c);
    void image_of(const cell* c);
    std::unordered_map<uint32_t, std::vector<uint32_t>> seen_images;   // record slot -> path
    void callable(const cell* c);
    void error_of(const cell* c);
    void function_of(const cell* c);
};

// native!, action! and op! of one of them or of a function!: what stands in the record (the op's
// lead or header comes first, then the wrapped value as its own type).
uint32_t wrapped_type(const cell* c) { return cell_type(c) == TYPE_OP ? (c->header >> 16) & 0xFF : cell_type(c); }

// A function! or an op! made from one: a path steps through either into its spec and body.
bool function_like_q(const cell* c) { return wrapped_type(c) == TYPE_FUNCTION; }

bool global_binding_q(const cell* w)
{
    node_ref ctx = word_context(w);
    if (ctx == 0 || ctx == context_s.global) return true;
    uint32_t owner = cell_type(context::owner_of(ctx));
    return owner == TYPE_NONE || owner == TYPE_UNSET || owner == TYPE_BLOCK;
}

// Integral form when the number is a whole 32-bit value (and not -0.0): one zigzag varint.
void encoder::number(uint32_t type, double d, bool percent)
{
    double scaled = d;
    bool integral;
    if (percent) {
        integral = d >= -21474836.0 && d <= 21474836.0;
        if (integral) {
            double r = d * 100.0;
            scaled = std::trunc(r < 0 ? r - 0.5 : r + 0.5);
            integral = scaled / 100.0 == d;
        }
    } else {
        integral = d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d);
    }
    if (integral && !std::signbit(d)) {
        byte(uint8_t(VARIANT | type));
        zigzag(int32_t(scaled));
    } else if (integral && d != 0) {
        byte(uint8_t(VARIANT | type));
        zigzag(int32_t(scaled));
    } else {
        byte(uint8_t(type));
        bytes(&d, 8);   // little-endian targets: the low word first
    }
}

void encoder::block_of(const cell* c)
{
    uint32_t type = cell_type(c);
    int32_t head = series_head_raw(c);
    const std::vector<uint32_t>* before = met(series_node(c));
    if (before) byte(PREFIX_REFERENCE);
    byte(uint8_t(type | (head ? VARIANT : 0)));
    if (head) varint(uint32_t(head));
    if (before) return write_path(*before);
    series_buffer* s = series_of(series_node(c));
    const cell* first = at<cell>(s->head);
    uint32_t n = (s->tail - s->head) / CELL_BYTES;
    varint(n);
    enter();
    for (uint32_t i = 0; i < n; i++) value(first + i);
    leave();
}

void encoder::string_of(const cell* c)
{
    uint32_t type = cell_type(c);
    int32_t head = series_head_raw(c);
    const std::vector<uint32_t>* before = met(series_node(c));
    if (before) byte(PREFIX_REFERENCE);
    byte(uint8_t(type | (head ? VARIANT : 0)));
    if (head) varint(uint32_t(head));
    if (before) return write_path(*before);
    series_buffer* s = series_of(series_node(c));
    uint32_t unit = series_unit(s);
    uint32_t used = s->tail - s->head;
    if (type == TYPE_BINARY) {
        varint(used);
    } else {
        uint32_t u = unit == 4 ? 2 : unit == 2 ? 1 : 0;
        varint((used >> u) << 2 | u);
    }
    bytes(at<uint8_t>(s->head), used);
}

// The head, the size, then the pixels from the first as bytes B, G, R, A; an image whose record was
// met before is its head and path. Nothing here allocates series memory.
void encoder::image_of(const cell* c)
{
    cell img = *c;
    uint32_t nl = img.header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0;
    int32_t head = int32_t(img.data1);
    const std::vector<uint32_t>* before = nullptr;
    bool recorded = image_record(&img) != nullptr;
    if (recorded) {
        auto found = seen_images.find(img.data2);
        if (found != seen_images.end()) {
            before = &found->second;
        } else {
            std::vector<uint32_t> here = path;
            here.push_back(index);
            seen_images.emplace(img.data2, std::move(here));
        }
    }
    uint32_t width = image_cell_width(&img), height = image_cell_height(&img);
    if (fixed) {
        word32(TYPE_IMAGE | nl | (before ? FIXED_REFERENCE : 0));
        word32(uint32_t(head));
        if (before) return fixed_path(*before);
        word32(width | height << 16);
    } else {
        if (before) byte(PREFIX_REFERENCE);
        byte(uint8_t(TYPE_IMAGE | (head ? VARIANT : 0)));
        if (head) varint(uint32_t(head));
        if (before) return write_path(*before);
        varint(width);
        varint(height);
    }
    size_t bytes_wanted = size_t(width) * height * 4, start = out.size();
    if (recorded && bytes_wanted) {
        image_pixels px = image_lock(&img, false);
        bytes(px.data, std::min<size_t>(bytes_wanted, size_t(px.count) * 4));
    }
    out.resize(start + bytes_wanted);   // a record that holds fewer pixels: the rest zero
}

// Twice the number of live entries, then the key and value of each live one in storage order (a
// removed entry's value has header 0); a map met before is its path.
void encoder::map_of(const cell* c)
{
    uint32_t nl = c->header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0;
    const std::vector<uint32_t>* before = met(c->data2);
    if (fixed) {
        word32(TYPE_MAP | nl | (before ? FIXED_REFERENCE : 0));
        if (before) return fixed_path(*before);
    } else {
        if (before) byte(PREFIX_REFERENCE);
        byte(TYPE_MAP);
        if (before) return write_path(*before);
    }
    series_buffer* s = series_of(c->data2);
    const cell* entries = at<cell>(s->head);
    uint32_t n = (s->tail - s->head) / CELL_BYTES / 2, live = 0;
    for (uint32_t i = 0; i < n; i++) live += entries[2 * i + 1].header != 0;
    field(2 * live);
    enter();
    for (uint32_t i = 0; i < n; i++) {
        if (entries[2 * i + 1].header == 0) continue;
        any_value(entries + 2 * i);
        any_value(entries + 2 * i + 1);
    }
    leave();
}

// The head, the element type with the unit, the element count and the elements from the buffer's
// first one; a vector met before is its head and path.
void encoder::vector_of(const cell* c)
{
    uint32_t nl = c->header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0;
    int32_t head = series_head_raw(c);
    series_buffer* s = series_of(series_node(c));
    uint32_t unit = series_unit(s);
    const std::vector<uint32_t>* before = met(series_node(c));
    if (fixed) {
        word32(TYPE_VECTOR | nl | unit << 8 | (before ? FIXED_REFERENCE : 0));
        word32(uint32_t(head));
        if (before) return fixed_path(*before);
    } else {
        if (before) byte(PREFIX_REFERENCE);
        byte(uint8_t(TYPE_VECTOR | (head ? VARIANT : 0)));
        if (head) varint(uint32_t(head));
        if (before) return write_path(*before);
    }
    s = series_of(series_node(c));
    uint32_t used = s->tail - s->head;
    if (fixed) {
        word32(used / unit);
        word32(c->data3);
    } else {
        byte(uint8_t(c->data3 << 2 | std::countr_zero(unit)));
        varint(used / unit);
    }
    bytes(at<uint8_t>(s->head), used);
    if (fixed) while (out.size() % 4) byte(0);
}

// The complement flag in the lead (the header), the byte count, the bytes (padded to 4 in the fixed
// form); a bitset met before is its path.
void encoder::bitset_of(const cell* c)
{
    uint32_t nl = c->header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0;
    bool complement = bitset::complement_q(c);
    const std::vector<uint32_t>* before = met(c->data2);
    if (fixed) {
        word32(TYPE_BITSET | nl | (complement ? FIXED_COMPLEMENT : 0) | (before ? FIXED_REFERENCE : 0));
        if (before) return fixed_path(*before);
    } else {
        if (before) byte(PREFIX_REFERENCE);
        byte(uint8_t(TYPE_BITSET | (complement ? VARIANT : 0)));
        if (before) return write_path(*before);
    }
    series_buffer* s = series_of(c->data2);
    uint32_t used = s->tail - s->head;
    field(used);
    bytes(at<uint8_t>(s->head), used);
    if (fixed) while (out.size() % 4) byte(0);
}

// Kind, stack and object bits from the context cell; the values when they are not on the stack
// and one of them is set. Its values are numbered inside the value that owns the context.
void encoder::context_record(node_ref ctx)
{
    uint32_t header = context::cell_of(ctx)->header;
    bool stack_values = (header & CONTEXT_ON_STACK) != 0;
    uint32_t n = context::word_count(ctx);
    bool values = false;
    for (uint32_t i = 0; !stack_values && !values && i < n; i++)
        values = cell_type(context::get_value_at(ctx, i)) != TYPE_UNSET;
    uint32_t kind = context::kind_of(ctx), object = (header & CONTEXT_OF_OBJECT) != 0;
    if (fixed) {
        word32(TYPE_CONTEXT | kind << 26 | object << 28 | uint32_t(stack_values) << 29 | uint32_t(values) << 30);
    } else {
        byte(TYPE_CONTEXT);
        byte(uint8_t(kind | uint32_t(stack_values) << 2 | object << 3 | uint32_t(values) << 4));
    }
    field(n);
    for (uint32_t i = 0; i < n; i++) field(symbol_index(context::get_word(ctx, i)->data2));
    if (!values) return;
    enter();
    for (uint32_t i = 0; i < n; i++) any_value(context::get_value_at(ctx, i));
    leave();
}

void encoder::object_of(const cell* c)
{
    const std::vector<uint32_t>* before = met(c->data1);
    if (before) {
        byte(PREFIX_REFERENCE);
        byte(TYPE_OBJECT);
        return write_path(*before);
    }
    byte(TYPE_OBJECT);
    zigzag(int32_t(c->data2));
    context_record(c->data1);
}

// A word of an object's context: its symbol and position, then the path to the context met
// before, or the owner written in full under the word's own index.
void encoder::bound_word(const cell* c)
{
    node_ref ctx = word_context(c);
    if (cell_type(context::cell_of(ctx)) != TYPE_CONTEXT) no_codec(c);
    auto found = seen.find(ctx);
    if (found != seen.end()) byte(PREFIX_REFERENCE);
    byte(uint8_t(cell_type(c) | VARIANT));
    varint(symbol_index(word_symbol(c)));
    zigzag(word_position(c));
    if (found != seen.end()) return write_path(found->second);
    const cell* owner = context::owner_of(ctx);
    if (cell_type(owner) == TYPE_OBJECT) object_of(owner);
    else if (cell_type(owner) == TYPE_FUNCTION) function_of(owner);
    else no_codec(c);
}

// The slot, then the spec block under the callable's own index, so that a path through the
// callable reaches the cells of its spec.
void encoder::callable(const cell* c)
{
    uint32_t nl = c->header & HEADER_NEW_LINE;
    uint32_t wrapped = wrapped_type(c);
    if (cell_type(c) == TYPE_OP && wrapped == TYPE_FUNCTION) {
        // The op's lead, then the function's complete record (its new-line flag is the op's).
        fixed ? word32(TYPE_OP | wrapped << 16 | (nl ? FIXED_NEW_LINE : 0)) : byte(TYPE_OP);
        cell fn{TYPE_FUNCTION, c->data1, c->data2, c->data3};
        return function_of(&fn);
    }
    if (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION) no_codec(c);
    if (cell_type(c) == TYPE_OP) fixed ? word32(TYPE_OP | wrapped << 16 | (nl ? FIXED_NEW_LINE : 0)) : byte(TYPE_OP);
    if (fixed) word32(wrapped | (nl && cell_type(c) != TYPE_OP ? FIXED_NEW_LINE : 0));
    else byte(uint8_t(wrapped));
    field(c->data1);
    cell spec{TYPE_BLOCK, 0, c->data2, 0};
    any_value(&spec);
    index--;
}

// The spec and body lengths, the context (words only: the values live on the stack), then the spec
// as child 0 and the body as child 1; a function met before is its path.
void encoder::function_of(const cell* c)
{
    const std::vector<uint32_t>* before = met(c->data1);
    if (fixed) {
        word32(TYPE_FUNCTION | (c->header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0) | (before ? FIXED_REFERENCE : 0));
    } else {
        if (before) byte(PREFIX_REFERENCE);
        byte(TYPE_FUNCTION);
    }
    if (before) return fixed ? fixed_path(*before) : write_path(*before);
    cell spec{TYPE_BLOCK, 0, c->data2, 0};
    cell more{TYPE_BLOCK, 0, c->data3, 0};
    cell body = block::rs_head(&more)[function::MORE_BODY];
    field(block::rs_length(&spec));
    field(block::rs_length(&body));
    context_record(c->data1);
    enter();
    any_value(&spec);
    any_value(&body);
    leave();
}

// The code, then the six fields from arg1 to stack, numbered 0 to 5 inside the error.
void encoder::error_of(const cell* c)
{
    node_ref ctx = c->data1;
    if (fixed) word32(TYPE_ERROR | (c->header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0));
    else byte(TYPE_ERROR);
    field(integer_of(context::get_value_at(ctx, EF_CODE)));
    enter();
    for (uint32_t f = EF_ARG1; f <= EF_STACK; f++) any_value(context::get_value_at(ctx, f));
    leave();
}

void encoder::value(const cell* c)
{
    if (++depth > kivbin::DEPTH_MAX) fire(ERR_INTERNAL, err::TOO_DEEP);
    machine_stack_check();
    uint32_t type = cell_type(c);
    if (c->header & HEADER_NEW_LINE) byte(PREFIX_NEW_LINE);
    switch (type) {
    case TYPE_UNSET:
    case TYPE_NONE: byte(uint8_t(type)); break;
    case TYPE_DATATYPE:
        byte(TYPE_DATATYPE);
        varint(c->data1);
        break;
    case TYPE_LOGIC: byte(c->data1 ? LEAD_TRUE : LEAD_FALSE); break;
    case TYPE_INTEGER: {
        int32_t n = integer_of(c);
        if (n >= 0 && n < 64) {
            byte(uint8_t(LEAD_SMALL + n));
        } else {
            byte(TYPE_INTEGER);
            zigzag(n);
        }
        break;
    }
    case TYPE_CHAR:
        byte(TYPE_CHAR);
        varint(c->data2);
        break;
    case TYPE_FLOAT:
    case TYPE_TIME: number(type, cell_float(c), false); break;
    case TYPE_PERCENT: number(type, cell_float(c), true); break;
    case TYPE_DATE:
        byte(uint8_t(type | (date::has_time(c->data1) ? VARIANT : 0)));
        bytes(&c->data1, 4);
        if (date::has_time(c->data1)) {
            bytes(&c->data2, 4);
            bytes(&c->data3, 4);
        }
        break;
    case TYPE_MONEY:
        byte(uint8_t(type | (c->header & money::SIGN_BIT ? VARIANT : 0)));
        bytes(&c->data1, 12);
        break;
    case TYPE_TYPESET: {
        const uint8_t* mask = reinterpret_cast<const uint8_t*>(&c->data1);
        uint8_t n = 12;
        while (n && !mask[n - 1]) n--;
        byte(TYPE_TYPESET);
        byte(n);
        bytes(mask, n);
        break;
    }
    case TYPE_TUPLE: {
        uint32_t n = tuple::size_of(c);
        if (n == 3) {
            byte(TYPE_TUPLE);
        } else {
            byte(VARIANT | TYPE_TUPLE);
            byte(uint8_t(n));
        }
        bytes(tuple::bytes_of(c), n);
        break;
    }
    case TYPE_PAIR:
        byte(TYPE_PAIR);
        zigzag(int32_t(c->data2));
        zigzag(int32_t(c->data3));
        break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:   // the raw words of the single floats
        byte(uint8_t(type));
        bytes(&c->data1, type == TYPE_POINT3D ? 12 : 8);
        break;
    case TYPE_ISSUE:
        byte(TYPE_ISSUE);
        varint(symbol_index(word_symbol(c)));
        break;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
        if (!global_binding_q(c)) {
            bound_word(c);
            break;
        }
        byte(uint8_t(type));
        varint(symbol_index(word_symbol(c)));
        break;
    case TYPE_OBJECT: object_of(c); break;
    case TYPE_BITSET: bitset_of(c); break;
    case TYPE_MAP: map_of(c); break;
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP: callable(c); break;
    case TYPE_ERROR: error_of(c); break;
    case TYPE_FUNCTION: function_of(c); break;
    default:
        if (any_block_q(type)) block_of(c);
        else if (any_string_q(type) || type == TYPE_BINARY) string_of(c);
        else if (type == TYPE_VECTOR) vector_of(c);
        else if (type == TYPE_IMAGE) image_of(c);
        else no_codec(c);
    }
    index++;
    depth--;
}


// ---- the fixed form: every field a 32-bit word ---------------------------------------------------


void encoder::fixed_path(const std::vector<uint32_t>& p)
{
    word32(FIXED_PATH);
    word32(uint32_t(p.size()));
    for (uint32_t i : p) word32(i);
}

void encoder::fixed_value(const cell* c)
{
    if (++depth > kivbin::DEPTH_MAX) fire(ERR_INTERNAL, err::TOO_DEEP);
    machine_stack_check();
    uint32_t type = cell_type(c);
    uint32_t nl = c->header & HEADER_NEW_LINE ? FIXED_NEW_LINE : 0;
    switch (type) {
    case TYPE_UNSET:
    case TYPE_NONE: word32(type | nl); break;
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
        word32(type | nl);
        word32(c->data1 ? c->data1 : 0);
        break;
    case TYPE_CHAR:
    case TYPE_INTEGER:
        word32(type | nl);
        word32(c->data2);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        if (out.size() % 8) word32(0);   // the record starts at a multiple of 8 in the payload
        word32(type | nl);
        word32(c->data3);   // the high word of the double first
        word32(c->data2);
        break;
    case TYPE_DATE:
        word32(type | nl);
        word32(c->data1);
        word32(c->data3);   // the high word of the time first
        word32(c->data2);
        break;
    case TYPE_MONEY:
        word32(type | nl | (c->header & money::SIGN_BIT ? FIXED_NEGATIVE : 0));
        word32(c->data1);
        word32(c->data2);
        word32(c->data3);
        break;
    case TYPE_TYPESET:
        word32(type | nl);
        word32(c->data1);
        word32(c->data2);
        word32(c->data3);
        break;
    case TYPE_TUPLE:
        word32(type | nl | tuple::size_of(c) << 8);
        word32(c->data1);
        word32(c->data2);
        word32(c->data3);
        break;
    case TYPE_PAIR:
        word32(type | nl);
        word32(c->data2);
        word32(c->data3);
        break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        word32(type | nl);
        word32(c->data1);
        word32(c->data2);
        if (type == TYPE_POINT3D) word32(c->data3);
        break;
    case TYPE_ISSUE:
        word32(type | nl);
        word32(symbol_index(word_symbol(c)));
        break;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT: {
        if (global_binding_q(c)) {
            word32(type | nl | FIXED_GLOBAL);
            word32(symbol_index(word_symbol(c)));
            word32(word_position(c) < 0 ? uint32_t(-1) : c->data3);
            break;
        }
        node_ref ctx = word_context(c);
        if (cell_type(context::cell_of(ctx)) != TYPE_CONTEXT) no_codec(c);
        auto found = seen.find(ctx);
        word32(type | nl | (found != seen.end() ? FIXED_REFERENCE : 0));
        word32(symbol_index(word_symbol(c)));
        word32(c->data3);
        if (found != seen.end()) {
            fixed_path(found->second);
            break;
        }
        const cell* owner = context::owner_of(ctx);
        if (cell_type(owner) != TYPE_OBJECT && cell_type(owner) != TYPE_FUNCTION) no_codec(c);
        fixed_value(owner);
        index--;
        break;
    }
    case TYPE_OBJECT: {
        const std::vector<uint32_t>* before = met(c->data1);
        word32(type | nl | (before ? FIXED_REFERENCE : 0));
        if (before) {
            fixed_path(*before);
            break;
        }
        word32(c->data2);
        context_record(c->data1);
        break;
    }
    case TYPE_BITSET:
        bitset_of(c);
        break;
    case TYPE_VECTOR:
        vector_of(c);
        break;
    case TYPE_MAP:
        map_of(c);
        break;
    case TYPE_IMAGE:
        image_of(c);
        break;
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP: callable(c); break;
    case TYPE_ERROR: error_of(c); break;
    case TYPE_FUNCTION: function_of(c); break;
    default: {
        bool cells = any_block_q(type);
        if (!cells && !any_string_q(type) && type != TYPE_BINARY) no_codec(c);
        series_buffer* s = series_of(series_node(c));
        uint32_t unit = cells ? 0 : series_unit(s);
        const std::vector<uint32_t>* before = met(series_node(c));
        word32(type | nl | (any_string_q(type) ? unit << 8 : 0) | (before ? FIXED_REFERENCE : 0));
        word32(c->data1);
        if (before) {
            fixed_path(*before);
            break;
        }
        s = series_of(series_node(c));
        uint32_t used = s->tail - s->head;
        if (cells) {
            word32(used / CELL_BYTES);
            enter();
            for (uint32_t i = 0; i < used / CELL_BYTES; i++) fixed_value(at<cell>(s->head) + i);
            leave();
        } else {
            word32(used / unit);
            bytes(at<uint8_t>(s->head), used);
            while (out.size() % 4) byte(0);
        }
    }
    }
    index++;
    depth--;
}

// ---- decoding -----------------------------------------------------------------------------------

// A word of the global context (an issue or a refinement keeps no position).
cell global_word(uint32_t type, uint32_t id, uint32_t flags)
{
    cell w{TYPE_WORD, 0, 0, 0};
    word::make_at(id, &w);
    w.header = type | flags;
    if (type == TYPE_ISSUE || type == TYPE_REFINEMENT) w.data3 = uint32_t(-1);
    return w;
}

struct decoder {
    const uint8_t* base;   // the data's first byte: offsets in errors count from it
    const uint8_t* p;
    const uint8_t* end;
    kivbin::mode mode;
    uint32_t symbol_count = 0;
    const uint8_t* offsets = nullptr;
    const uint8_t* names = nullptr;
    uint32_t names_size = 0;
    std::vector<uint32_t> symbol_ids;   // made on first use; 0 until then
    cell* output = nullptr;             // the root of reference paths (a stable slot)
    uint32_t first = 0;                 // cells the output held before the decode
    uint32_t depth = 0;
    bool fixed = false;                 // the fixed record form: every field a 32-bit word

    [[noreturn]] void fail(const uint8_t* where) const
    {
        cell offset{TYPE_INTEGER, 0, uint32_t(where - base + 1), 0};
        fire(ERR_SCRIPT, err::KB_INVALID_RECORD, &offset);
    }
    uint64_t left() const { return uint64_t(end - p); }
    uint8_t byte()
    {
        if (p >= end) fail(p);
        return *p++;
    }
    // Unsigned LEB128 of at most 5 bytes; the fifth may hold only 4 bits.
    uint32_t varint()
    {
        const uint8_t* where = p;
        uint32_t v = 0;
        for (uint32_t i = 0; i < 5; i++) {
            uint8_t b = byte();
            if (i == 4 && (b & 0xF0)) fail(where);
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        fail(where);
    }
    uint32_t word32()
    {
        need(4);
        uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        return v;
    }
    // A count or index field: a varint in the compact form, a word in the fixed form.
    uint32_t field() { return fixed ? word32() : varint(); }
    int32_t zigzag()
    {
        uint32_t v = varint();
        return int32_t((v >> 1) ^ (0u - (v & 1)));
    }
    void need(uint64_t n)
    {
        if (n > left()) fail(p);
    }
    // The 12 payload bytes of a money! record: currency index, then 11 bytes of digit pairs.
    cell money_record(bool negative, uint32_t flags)
    {
        const uint8_t* where = p;
        need(12);
        if (!money::valid_payload_q(p[0], p + 1)) fail(where);
        cell v;
        money::set_all(&v, negative, p[0], p + 1);
        v.header |= flags;
        p += 12;
        return v;
    }
    // point2D! and point3D!: the raw words of two or three single floats, in either form.
    cell point_record(uint32_t type, uint32_t flags)
    {
        uint32_t x = word32(), y = word32();
        return cell{type | flags, x, y, type == TYPE_POINT3D ? word32() : 0};
    }
    uint32_t symbol(uint32_t index, const uint8_t* where);
    uint32_t symbol() { const uint8_t* where = p; return symbol(varint(), where); }

    void body(bool with_symbols, cell* out);
    void record(cell* container);
    cell id_or_char(uint32_t type, uint32_t flags, const uint8_t* where);
    void any_record(cell* container) { fixed ? fixed_record(container) : record(container); }
    void fixed_record(cell* container);
    void fill_block(cell* container, uint32_t type, uint32_t head, uint32_t flags, uint32_t n);
    void make_string(cell* container, uint32_t type, uint32_t head, uint32_t flags, uint32_t unit, uint64_t bytes);
    void context_body(cell* container, uint32_t flags, uint32_t class_id);
    void context_content(cell* container, uint32_t flags, uint32_t class_id, uint32_t bits, const uint8_t* where);
    node_ref bound_context(cell* container, const uint8_t* lead_at, bool reference, int64_t* slot);
    void object_record(cell* container, bool variant, bool reference, uint32_t flags, const uint8_t* lead_at);
    void bound_word(cell* container, uint32_t type, bool reference, uint32_t flags, const uint8_t* lead_at);
    const cell* resolve(const uint8_t* where);
    void append_shared(cell* container, uint32_t type, uint32_t head, uint32_t flags, const uint8_t* lead_at);
    node_ref shared_series(const uint8_t* where, uint32_t type);
    void block_record(cell* container, uint32_t type, bool variant, bool reference, uint32_t flags);
    void string_record(cell* container, uint32_t type, bool variant, bool reference, uint32_t flags);
    void bitset_record(cell* container, bool complement, bool reference, uint32_t flags, const uint8_t* lead_at);
    void image_record_of(cell* container, bool variant, bool reference, uint32_t flags, const uint8_t* lead_at);
    void map_record(cell* container, bool reference, uint32_t flags, const uint8_t* lead_at);
    void vector_record(cell* container, uint32_t unit, bool variant, bool reference, uint32_t flags, const uint8_t* lead_at);
    // declared: in the fixed form, the wrapped type that an op!'s header names.
    void callable_record(cell* container, uint32_t type, uint32_t flags, const uint8_t* lead_at,
                         uint32_t declared = 0);
    void error_record(cell* container, uint32_t flags, const uint8_t* lead_at);
    void function_record(cell* container, bool reference, uint32_t flags, const uint8_t* lead_at);
    void op_of_function(cell* container, bool reference, uint32_t flags, const uint8_t* inner);
    // `make type spec` into *into (a stable slot); what make refuses is an invalid record.
    void make_or_fail(cell* into, cell* (*maker)(cell*, cell*, uint32_t), cell* spec, uint32_t type,
                      const uint8_t* where)
    {
        try {
            cell proto = *into;
            *into = *maker(&proto, spec, type);
        } catch (const script_error_unwind&) {
            fail(where);
        }
    }
    cell step_cell;   // the spec or body block a path step through a function! stands on
};

bool spec_holder_q(uint32_t t) { return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP; }

// The native! or action! the boot bound for a slot: decoded callables take it, never a spec from
// the data, which could declare other arguments than the routine reads.
const cell* registered_callable(uint32_t type, uint32_t slot)
{
    if (!kivbin_s.callables) return nullptr;
    const cell* c = block::rs_head(kivbin_s.callables);
    for (uint32_t i = 0, n = block::rs_length(kivbin_s.callables); i < n; i++)
        if (cell_type(c + i) == type && c[i].data1 == slot) return c + i;
    return nullptr;
}

uint32_t decoder::symbol(uint32_t index, const uint8_t* where)
{
    if (index >= symbol_count) fail(where);
    if (symbol_ids[index]) return symbol_ids[index];
    const uint8_t* o = offsets + 4 * uint64_t(index);
    uint32_t offset = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
    if (offset >= names_size) fail(o);   // the top bit set lies past any names area too
    // The names area ends with a 0 byte (checked with the preamble): the name ends inside it.
    uint32_t id = symbol::make(reinterpret_cast<const char*>(names + offset));
    symbol_ids[index] = id;
    return id;
}

// The cell a path designates, walked from the output block.
const cell* decoder::resolve(const uint8_t* where)
{
    uint32_t count = field();
    if (count < 1 || count > kivbin::PATH_STEPS) fail(where);
    need(uint64_t(count) * (fixed ? 4 : 1));
    std::vector<uint32_t> steps(count);
    for (uint32_t& s : steps) s = field();
    // Walk the buffers by node: the cells are read only after every index is known, and nothing
    // allocates during the walk.
    const cell* current = nullptr;
    for (uint32_t i = 0; i < count; i++) {
        node_ref node;
        uint64_t index = steps[i];
        if (i == 0) {
            node = series_node(output);
            index += first;
        } else if (any_block_q(cell_type(current)) || cell_type(current) == TYPE_MAP) {
            node = series_node(current);   // a map: its entries' keys and values
        } else if (spec_holder_q(cell_type(current)) && !function_like_q(current)) {
            node = current->data2;   // the cells of the spec
        } else if (function_like_q(current)) {
            if (index > 1) fail(where);
            cell more{TYPE_BLOCK, 0, current->data3, 0};
            step_cell = index == 0 ? cell{TYPE_BLOCK, 0, current->data2, 0} : block::rs_head(&more)[function::MORE_BODY];
            current = &step_cell;
            continue;
        } else if (cell_type(current) == TYPE_ERROR) {
            node = context::cell_of(current->data1)->data2;   // the fields after code, type and id
            index += EF_ARG1;
        } else if (bindable_word_q(cell_type(current)) || cell_type(current) == TYPE_OBJECT) {
            // The values of the context: none to walk for a function's, which live on the stack.
            node_ref ctx = current->data1;
            if (!ctx || context::on_stack(ctx)) fail(where);
            node = context::cell_of(ctx)->data2;
        } else {
            fail(where);
        }
        series_buffer* s = series_of(node);
        if (index >= (s->tail - s->head) / CELL_BYTES) fail(where);
        current = at<cell>(s->head) + index;
    }
    return current;
}

node_ref decoder::shared_series(const uint8_t* where, uint32_t type)
{
    const cell* target = resolve(where);
    uint32_t t = cell_type(target);
    if (any_block_q(type) && spec_holder_q(t)) return target->data2;
    // A string takes only the bytes or units of a string or binary: never the wider units of a
    // vector or the pixels of an image.
    bool fits = any_block_q(type) ? any_block_q(t) : any_string_q(t) || t == TYPE_BINARY;
    if (!fits) fail(where);
    return series_node(target);
}

void decoder::block_record(cell* container, uint32_t type, bool variant, bool reference, uint32_t flags)
{
    const uint8_t* where = p;
    uint32_t head = variant ? varint() : 0;
    if (reference) {
        cell shared{type | flags, head, shared_series(where, type), 0};
        block::rs_append(container, &shared);
        return;
    }
    fill_block(container, type, head, flags, varint());
}

// n records into a new block, which goes into its container first, so that paths through it
// resolve while its content is read.
void decoder::fill_block(cell* container, uint32_t type, uint32_t head, uint32_t flags, uint32_t n)
{
    need(uint64_t(n) * (fixed ? 4 : 1));   // every record takes a byte (a word) at least
    stack::scope held;
    cell* blk = held.push(cell{TYPE_UNSET, 0, 0, 0});
    block::make_at(blk, n);
    blk->header = type | flags;
    blk->data1 = head;
    block::rs_append(container, blk);
    blk->header &= ~HEADER_NEW_LINE;
    for (uint32_t i = 0; i < n; i++) any_record(blk);
}

void decoder::string_record(cell* container, uint32_t type, bool variant, bool reference, uint32_t flags)
{
    const uint8_t* where = p;
    uint32_t head = variant ? varint() : 0;
    if (reference) {
        cell shared{type | flags, head, shared_series(where, type), 0};
        block::rs_append(container, &shared);
        return;
    }
    uint64_t bytes;
    uint32_t unit = 1;
    const uint8_t* field = p;
    uint32_t v = varint();
    if (type == TYPE_BINARY) {
        bytes = v;
    } else {
        uint32_t u = v & 3;
        if (u == 3) fail(field);
        unit = 1u << u;
        bytes = uint64_t(v >> 2) << u;
    }
    make_string(container, type, head, flags, unit, bytes);
}

// A record that shares the buffer of a value met before: the path to it (in the fixed form after
// its marker) must lead to a value of the type; the new cell takes that buffer at `head`.
void decoder::append_shared(cell* container, uint32_t type, uint32_t head, uint32_t flags, const uint8_t* lead_at)
{
    if (fixed && word32() != FIXED_PATH) fail(lead_at);
    const cell* target = resolve(lead_at);
    if (cell_type(target) != type) fail(lead_at);
    cell shared{type | flags, head, target->data2, target->data3};
    block::rs_append(container, &shared);
}

// image!: the head, then a path to an image met before (whose record it shares), or the size (each
// side at most 65535) and width x height x 4 bytes of pixels, B, G, R, A each.
void decoder::image_record_of(cell* container, bool variant, bool reference, uint32_t flags, const uint8_t* lead_at)
{
    uint32_t head = fixed ? word32() : variant ? varint() : 0;
    if (reference) {
        append_shared(container, TYPE_IMAGE, head, flags, lead_at);
        return;
    }
    const uint8_t* at_size = p;
    uint32_t width, height;
    if (fixed) {
        uint32_t size = word32();
        width = size & 0xFFFF;
        height = size >> 16;
    } else {
        width = varint();
        height = varint();
    }
    if (width > 0xFFFF || height > 0xFFFF) fail(at_size);
    uint64_t bytes = uint64_t(width) * height * 4;
    if (!image_size_fits(width, height)) fail(at_size);
    need(bytes);
    stack::scope held;
    cell* made = held.push(cell{TYPE_UNSET, 0, 0, 0});
    if (bytes == 0) image_new(made, width, height);
    else if (!image_new_bitmap(made, width, height, 0, p)) fail(at_size);
    p += bytes;
    made->header = TYPE_IMAGE | flags;
    made->data1 = head;
    block::rs_append(container, made);
}

// map!: a path to a map met before, or the entries. The map goes into its container first and takes
// each entry as it is read, so that paths through it resolve while the rest is read; a key that a
// map cannot hold, or one met twice, is an invalid record.
void decoder::map_record(cell* container, bool reference, uint32_t flags, const uint8_t* lead_at)
{
    if (reference) {
        append_shared(container, TYPE_MAP, 0, flags, lead_at);
        return;
    }
    const uint8_t* at_count = p;
    uint32_t n = field();
    if (n % 2) fail(at_count);
    need(uint64_t(n) * (fixed ? 4 : 1));   // every record takes a byte (a word) at least
    stack::scope held;
    cell* m = map::make_at(nullptr, held.push(cell{TYPE_UNSET, 0, 0, 0}), n);
    m->header |= flags;
    block::rs_append(container, m);
    m->header &= ~HEADER_NEW_LINE;
    cell* entry = block::make_at(held.push(cell{TYPE_UNSET, 0, 0, 0}), 2);
    for (uint32_t i = 0; i < n / 2; i++) {
        series_buffer* b = series_of(series_node(entry));
        b->tail = b->head;
        const uint8_t* at_key = p;
        any_record(entry);
        any_record(entry);
        if (block::rs_length(entry) != 2 || !map::key_type_q(cell_type(block::rs_head(entry)))) fail(at_key);
        map::put_pair(m, block::rs_head(entry), block::rs_head(entry) + 1, true);
        if (uint32_t(map::count(m)) != i + 1) fail(at_key);   // the key was met before
    }
}

// The element types and units a vector can have: chars and integers of 1, 2 or 4 bytes, floats of
// 4 or 8, percents of 8.
bool vector_layout_q(uint32_t type, uint32_t unit)
{
    if (type == TYPE_CHAR || type == TYPE_INTEGER) return unit == 1 || unit == 2 || unit == 4;
    if (type == TYPE_FLOAT) return unit == 4 || unit == 8;
    return type == TYPE_PERCENT && unit == 8;
}

// vector!: the head, then a path to a vector met before (whose element type it takes), or the
// element type and unit (the compact form's one byte; the fixed form's header holds the unit), the
// element count and the elements.
void decoder::vector_record(cell* container, uint32_t unit, bool variant, bool reference, uint32_t flags,
                            const uint8_t* lead_at)
{
    uint32_t head = fixed ? word32() : variant ? varint() : 0;
    if (reference) {
        append_shared(container, TYPE_VECTOR, head, flags, lead_at);
        return;
    }
    const uint8_t* at_layout = p;
    uint32_t count, type;
    if (fixed) {
        count = word32();
        at_layout = p;
        type = word32();
    } else {
        uint8_t b = byte();
        type = b >> 2;
        unit = 1u << (b & 3);
        count = varint();
    }
    if (!vector_layout_q(type, unit)) fail(at_layout);
    uint64_t bytes = uint64_t(count) * unit;
    if (bytes >= 0x80000000ull) fail(at_layout);
    need(fixed ? (bytes + 3) & ~uint64_t(3) : bytes);
    if (type == TYPE_CHAR && unit == 4) {
        for (uint64_t i = 0; i < bytes; i += 4) {
            uint32_t cp;
            std::memcpy(&cp, p + i, 4);
            if (cp > 0x10FFFF) fail(p + i);
        }
    }
    stack::scope held;
    cell* made = vector::make_at(held.push(cell{TYPE_UNSET, 0, 0, 0}), int64_t(count), type, unit);
    series_buffer* s = series_of(made->data2);
    std::memcpy(at<uint8_t>(s->head), p, size_t(bytes));
    s->tail = s->head + uint32_t(bytes);
    p += bytes;
    if (fixed) while ((p - base) % 4) p++;   // the padding: inside the data, checked above
    made->header = TYPE_VECTOR | flags;
    made->data1 = head;
    block::rs_append(container, made);
}

// bitset!: a path to a bitset met before (whose buffer carries its own complement flag), or the
// byte count and the bytes (in the fixed form padded to 4).
void decoder::bitset_record(cell* container, bool complement, bool reference, uint32_t flags, const uint8_t* lead_at)
{
    if (reference) {
        append_shared(container, TYPE_BITSET, 0, flags, lead_at);
        return;
    }
    const uint8_t* at_count = p;
    uint32_t n = field();
    if (n > BITSET_MAX_BYTES) fail(at_count);
    need(fixed ? (uint64_t(n) + 3) & ~uint64_t(3) : n);
    stack::scope held;
    cell* made = held.push(cell{TYPE_BITSET | flags, 0, bytes_alloc(std::max(n, 1u)), 0});
    series_buffer* s = series_of(made->data2);
    std::memcpy(at<uint8_t>(s->head), p, n);
    s->tail = s->head + n;
    if (complement) s->flags |= SERIES_COMPLEMENT;
    p += n;
    if (fixed) while ((p - base) % 4) p++;   // the padding: inside the data, checked above
    block::rs_append(container, made);
}

// A string of `bytes` bytes in units of `unit` from the read position, which moves past them.
void decoder::make_string(cell* container, uint32_t type, uint32_t head, uint32_t flags, uint32_t unit, uint64_t bytes)
{
    need(bytes);
    const uint8_t* text = p;
    if (unit == 4) {
        for (uint64_t i = 0; i < bytes; i += 4) {
            uint32_t cp;
            std::memcpy(&cp, text + i, 4);
            if (cp > 0x10FFFF) fail(text + i);
        }
    }
    stack::scope held;
    cell* str = held.push(cell{TYPE_UNSET, 0, 0, 0});
    string::make_at(str, uint32_t(bytes / unit), unit);
    series_buffer* s = series_of(series_node(str));
    std::memcpy(at<uint8_t>(s->head), text, size_t(bytes));
    s->tail = s->head + uint32_t(bytes);
    p += bytes;
    str->header = type | flags;
    str->data1 = head;
    block::rs_append(container, str);
}

// A context record after its lead: a new object context whose values, when written, are decoded
// in place, after the object was appended (paths through it resolve while they are read).
void decoder::context_body(cell* container, uint32_t flags, uint32_t class_id)
{
    const uint8_t* where = p;
    context_content(container, flags, class_id, byte(), where);
}

// bits: the compact form's flags byte (kind, stack 4, object 8, values 16).
void decoder::context_content(cell* container, uint32_t flags, uint32_t class_id, uint32_t bits, const uint8_t* where)
{
    if ((bits & 3) == 3 || (bits & 0x14) == 0x14) fail(where);
    uint32_t n = field();
    need(uint64_t(n) * (fixed ? 4 : 1));
    std::vector<uint32_t> ids(n);
    for (uint32_t& id : ids) {
        const uint8_t* at_symbol = p;
        id = symbol(field(), at_symbol);
    }
    stack::scope held;
    node_ref ctx = context::create(n, false, true, 0, CONTEXT_OBJECT);
    cell* object = held.push(cell{TYPE_OBJECT, ctx, class_id, 0});
    for (uint32_t id : ids) {
        if (context::find_word(ctx, id, true) >= 0) fail(where);   // one word twice
        context::add_word(ctx, id);
    }
    *context::owner_of(ctx) = *object;
    object->header |= flags;
    block::rs_append(container, object);
    if (!(bits & 16)) return;
    node_ref values = context::cell_of(ctx)->data2;
    series_buffer* s = series_of(values);
    s->tail = s->head;
    cell* into = held.push(cell{TYPE_BLOCK, 0, values, 0});
    for (uint32_t i = 0; i < n; i++) any_record(into);
}

void decoder::object_record(cell* container, bool variant, bool reference, uint32_t flags, const uint8_t* lead_at)
{
    if (reference) {
        const cell* target = resolve(lead_at);
        // An object first met as the owner of a word is reached through that word.
        if (bindable_word_q(cell_type(target)) && target->data1) target = context::owner_of(target->data1);
        if (cell_type(target) != TYPE_OBJECT) fail(lead_at);
        cell shared{TYPE_OBJECT | flags, target->data1, target->data2, target->data3};
        block::rs_append(container, &shared);
        return;
    }
    int32_t class_id = zigzag();
    if (variant) {   // the event entries: recounted when the object's handlers first run
        zigzag();
        zigzag();
    }
    const uint8_t* where = p;
    if ((byte() & 0x3F) != TYPE_CONTEXT) fail(where);
    context_body(container, flags, mode == kivbin::MODE_CODEC ? uint32_t(-1) : uint32_t(class_id));
}

// The context of a word bound to an object: from the path (reference form) or from the owner
// record that follows, decoded where the word goes, so that paths through the word reach the
// context while it is read (the word then takes its place, *slot).
node_ref decoder::bound_context(cell* container, const uint8_t* lead_at, bool reference, int64_t* slot)
{
    if (reference) {
        if (fixed && word32() != FIXED_PATH) fail(lead_at);
        const cell* target = resolve(lead_at);
        uint32_t t = cell_type(target);
        if (t == TYPE_OBJECT || function_like_q(target) || bindable_word_q(t)) return target->data1;
        fail(lead_at);
    }
    const uint8_t* where = p;
    uint32_t owner_type = p < end ? (fixed ? uint32_t(*p) : uint32_t(*p & 0x3F)) : 0;
    if (owner_type != TYPE_OBJECT && owner_type != TYPE_FUNCTION) fail(where);
    series_buffer* s = series_of(series_node(container));
    *slot = (s->tail - s->head) / CELL_BYTES;
    any_record(container);
    s = series_of(series_node(container));
    return at<cell>(s->head)[*slot].data1;
}

// A word bound to an object's context. The boot image names the context by a root of this decode.
void decoder::bound_word(cell* container, uint32_t type, bool reference, uint32_t flags, const uint8_t* lead_at)
{
    const uint8_t* at_symbol = p;
    uint32_t id = symbol(field(), at_symbol);
    node_ref ctx = 0;
    int64_t slot = -1;
    int32_t index;
    if (mode == kivbin::MODE_BOOT && !fixed) {
        uint64_t root = varint();
        index = zigzag();
        series_buffer* s = series_of(series_node(output));
        if (root + first >= (s->tail - s->head) / CELL_BYTES) fail(lead_at);
        const cell* owner = at<cell>(s->head) + first + root;
        if (cell_type(owner) == TYPE_OBJECT || bindable_word_q(cell_type(owner))) ctx = owner->data1;
    } else {
        index = fixed ? int32_t(word32()) : zigzag();
        ctx = bound_context(container, lead_at, reference, &slot);
    }
    if (!ctx || cell_type(context::cell_of(ctx)) != TYPE_CONTEXT) fail(lead_at);
    uint32_t count = context::word_count(ctx);
    if (index < -1 || (index >= 0 && (uint32_t(index) >= count ||
                                       symbol::resolve(context::get_word(ctx, uint32_t(index))->data2) != symbol::resolve(id))))
        fail(lead_at);
    if (index < 0) {
        index = context::find_word(ctx, id, true);
        if (index < 0) fail(lead_at);
    }
    cell w{type | flags, ctx, id, uint32_t(index)};
    if (slot < 0) block::rs_append(container, &w);
    else at<cell>(series_of(series_node(container))->head)[slot] = w;
}

// native!, action!, or op! of one of them: the slot must hold a routine that the boot bound, whose
// value (with its registered spec) is taken; the spec in the data is read and dropped.
void decoder::callable_record(cell* container, uint32_t type, uint32_t flags, const uint8_t* lead_at,
                              uint32_t declared)
{
    uint32_t wrapped = type;
    if (type == TYPE_OP) {
        const uint8_t* inner = p;
        bool reference = false;
        if (fixed) {
            uint32_t h = word32();
            wrapped = h & 0xFF;
            reference = (h & FIXED_REFERENCE) != 0;
            if (wrapped != declared) fail(inner);   // the op's header names the wrapped type too
        } else {
            wrapped = byte();
            if (wrapped == PREFIX_REFERENCE) {
                reference = true;
                wrapped = byte();
            }
        }
        if (wrapped == TYPE_ROUTINE) {
            cell t{TYPE_DATATYPE, TYPE_ROUTINE, 0, 0};
            fire(ERR_ACCESS, err::NO_CODEC, &t);
        }
        if (wrapped == TYPE_FUNCTION) return op_of_function(container, reference, flags, inner);
        if (reference || (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION)) fail(inner);
    }
    const uint8_t* at_slot = p;
    uint32_t slot = field();
    const cell* known = registered_callable(wrapped, slot);
    if (!known) fail(at_slot);
    stack::scope held;
    cell* spec = block::make_at(held.push(cell{TYPE_UNSET, 0, 0, 0}), 1);
    const uint8_t* at_spec = p;
    any_record(spec);
    if (block::rs_length(spec) != 1 || cell_type(block::rs_head(spec)) != TYPE_BLOCK) fail(at_spec);
    cell v = *registered_callable(wrapped, slot);
    if (type == TYPE_OP) {
        cell registered_spec{TYPE_BLOCK, 0, v.data2, 0};
        if (!op::two_args_q(&registered_spec)) fail(lead_at);
        v.header = TYPE_OP | wrapped << op::WRAPPED_SHIFT | flags;
    } else {
        v.header = wrapped | flags;
    }
    block::rs_append(container, &v);
}

// op! of a function!: the function's record (complete or a path), then the op made from it as
// `make op!` makes one, which refuses a function that does not take two arguments.
void decoder::op_of_function(cell* container, bool reference, uint32_t flags, const uint8_t* inner)
{
    function_record(container, reference, 0, inner);
    stack::scope held;
    series_buffer* s = series_of(series_node(container));
    uint32_t slot = (s->tail - s->head) / CELL_BYTES - 1;
    cell* fn = held.push(at<cell>(s->head)[slot]);
    cell* made = held.push(cell{TYPE_UNSET, 0, 0, 0});
    make_or_fail(made, op::make, fn, TYPE_OP, inner);
    made->header |= flags;
    at<cell>(series_of(series_node(container))->head)[slot] = *made;
}

// function!: the context's words become a stand-in object at the function's place, so that the
// words of the spec and body that name it by path bind there while they are read; then the
// function is made from the spec and body as `make function!` makes one (the spec checked, the
// body copied and bound to the function's own context) and takes the stand-in's place.
void decoder::function_record(cell* container, bool reference, uint32_t flags, const uint8_t* lead_at)
{
    if (reference) {
        if (fixed && word32() != FIXED_PATH) fail(lead_at);
        const cell* target = resolve(lead_at);
        if (bindable_word_q(cell_type(target)) && target->data1) target = context::owner_of(target->data1);
        if (!function_like_q(target)) fail(lead_at);
        cell shared{TYPE_FUNCTION | (target->header & 0xFF00) | flags, target->data1, target->data2, target->data3};
        block::rs_append(container, &shared);
        return;
    }
    field();   // the spec and body lengths: the blocks that follow say them again
    field();
    const uint8_t* at_context = p;
    uint32_t bits;
    if (fixed) {
        uint32_t ch = word32();
        if ((ch & 0xFF) != TYPE_CONTEXT) fail(at_context);
        bits = (ch >> 26 & 3) | (ch >> 29 & 1) << 2 | (ch >> 28 & 1) << 3 | (ch >> 30 & 1) << 4;
    } else {
        if ((byte() & 0x3F) != TYPE_CONTEXT) fail(at_context);
        bits = byte();
    }
    series_buffer* s = series_of(series_node(container));
    uint32_t slot = (s->tail - s->head) / CELL_BYTES;
    context_content(container, 0, uint32_t(-1), bits, at_context);
    stack::scope held;
    cell* parts = block::make_at(held.push(cell{TYPE_UNSET, 0, 0, 0}), 2);
    const uint8_t* at_parts = p;
    any_record(parts);
    any_record(parts);
    if (block::rs_length(parts) != 2 || cell_type(block::rs_head(parts)) != TYPE_BLOCK ||
        cell_type(block::rs_head(parts) + 1) != TYPE_BLOCK)
        fail(at_parts);
    // The heads of spec and body are ignored: the function takes both blocks whole.
    block::rs_head(parts)[0].data1 = 0;
    block::rs_head(parts)[1].data1 = 0;
    cell* made = held.push(cell{TYPE_UNSET, 0, 0, 0});
    make_or_fail(made, function::make, parts, TYPE_FUNCTION, at_parts);
    made->header |= flags;
    at<cell>(series_of(series_node(container))->head)[slot] = *made;
}

// error!: made from its code (one of the catalogue), then its six fields read into it; it is in its
// container first, so that paths through it resolve while they are read.
void decoder::error_record(cell* container, uint32_t flags, const uint8_t* lead_at)
{
    const uint8_t* at_code = p;
    cell code{TYPE_INTEGER, 0, field(), 0};
    stack::scope held;
    cell* made = held.push(cell{TYPE_UNSET, 0, 0, 0});
    make_or_fail(made, error::make, &code, TYPE_ERROR, at_code);
    made->header |= flags;
    block::rs_append(container, made);
    cell* one = block::make_at(held.push(cell{TYPE_UNSET, 0, 0, 0}), 1);
    for (uint32_t f = EF_ARG1; f <= EF_STACK; f++) {
        series_buffer* b = series_of(series_node(one));
        b->tail = b->head;
        any_record(one);
        if (block::rs_length(one) != 1) fail(lead_at);
        *context::get_value_at(made->data1, f) = *block::rs_head(one);
    }
}

void decoder::record(cell* container)
{
    if (++depth > kivbin::DEPTH_MAX) fail(p);
    machine_stack_check();
    const uint8_t* where = p;
    bool new_line = false, reference = false, set_word = false;
    uint8_t lead = byte();
    for (;; lead = byte()) {
        if (lead == PREFIX_NEW_LINE) new_line = true;
        else if (lead == PREFIX_REFERENCE) reference = true;
        else if (lead == PREFIX_SET_WORD) set_word = true;
        else break;
        where = p;
    }
    uint32_t flags = new_line ? HEADER_NEW_LINE : 0;
    const uint8_t* lead_at = p - 1;
    if ((reference || set_word) && lead >= 0x80) fail(lead_at);
    if (set_word) fail(lead_at);   // set-word records belong to compiled boot code, which is not made here
    cell v{flags, 0, 0, 0};
    if (lead >= LEAD_SMALL && lead < LEAD_SMALL + 64) {
        v = cell{TYPE_INTEGER | flags, 0, uint32_t(lead - LEAD_SMALL), 0};
    } else if (lead == LEAD_TRUE || lead == LEAD_FALSE) {
        v = cell{TYPE_LOGIC | flags, lead == LEAD_TRUE ? 1u : 0u, 0, 0};
    } else if (lead == LEAD_COPY) {
        v = *resolve(lead_at);
    } else if (lead >= 0x80) {
        fail(lead_at);
    } else {
        uint32_t type = lead & 0x3F;
        bool variant = (lead & VARIANT) != 0;
        if (type == 0x3F) type = varint();
        if (reference && !series_kind_q(type) && !bindable_word_q(type) && type != TYPE_OBJECT && type != TYPE_FUNCTION &&
            type != TYPE_BITSET && type != TYPE_MAP)
            fail(lead_at);
        if (type == 0) fail(lead_at);
        if (no_form_q(type)) {
            cell t{TYPE_DATATYPE, type, 0, 0};
            fire(ERR_ACCESS, err::NO_CODEC, &t);
        }
        switch (type) {
        case TYPE_DATATYPE:
        case TYPE_CHAR: v = id_or_char(type, flags, where); break;
        case TYPE_UNSET:
        case TYPE_NONE: v.header = type | flags; break;
        case TYPE_INTEGER: v = cell{TYPE_INTEGER | flags, 0, uint32_t(zigzag()), 0}; break;
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double d;
            if (variant) {
                int32_t n = zigzag();
                d = type == TYPE_PERCENT ? n / 100.0 : double(n);
            } else {
                need(8);
                std::memcpy(&d, p, 8);
                p += 8;
            }
            v.header = type | flags;
            cell_set_float(&v, d);
            break;
        }
        case TYPE_DATE: {
            const uint8_t* at_record = p;
            uint32_t packed = word32(), low = 0, high = 0;
            if (variant != date::has_time(packed) || !date::valid_packed_q(packed)) fail(at_record);
            if (variant) low = word32(), high = word32();
            v = cell{TYPE_DATE | flags, packed, low, high};
            break;
        }
        case TYPE_MONEY: v = money_record(variant, flags); break;
        case TYPE_TYPESET: {
            uint8_t n = byte();
            if (n > 12) fail(p - 1);
            need(n);
            v.header = TYPE_TYPESET | flags;
            std::memcpy(&v.data1, p, n);
            p += n;
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = 3;
            if (variant) {
                n = byte();
                if (n < 3 || n > tuple::MAX_BYTES) fail(p - 1);   // no tuple is shorter than 3
            }
            need(n);
            tuple::make_at(&v, p, n);
            v.header |= flags;
            p += n;
            break;
        }
        case TYPE_PAIR: {
            uint32_t x = uint32_t(zigzag());
            v = cell{TYPE_PAIR | flags, 0, x, uint32_t(zigzag())};
            break;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D: v = point_record(type, flags); break;
        case TYPE_ISSUE: v = global_word(TYPE_ISSUE, symbol(), flags); break;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: {
            if (variant) {
                bound_word(container, type, reference, flags, lead_at);
                depth--;
                return;
            }
            v = global_word(type, symbol(), flags);
            break;
        }
        case TYPE_OBJECT:
            object_record(container, variant, reference, flags, lead_at);
            depth--;
            return;
        case TYPE_BITSET:
            bitset_record(container, variant, reference, flags, lead_at);
            depth--;
            return;
        case TYPE_IMAGE:
            image_record_of(container, variant, reference, flags, lead_at);
            depth--;
            return;
        case TYPE_MAP:
            map_record(container, reference, flags, lead_at);
            depth--;
            return;
        case TYPE_VECTOR:
            vector_record(container, 0, variant, reference, flags, lead_at);
            depth--;
            return;
        case TYPE_CONTEXT:
            context_body(container, flags, uint32_t(-1));
            depth--;
            return;
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_OP:
            callable_record(container, type, flags, lead_at);
            depth--;
            return;
        case TYPE_ERROR:
            error_record(container, flags, lead_at);
            depth--;
            return;
        case TYPE_FUNCTION:
            function_record(container, reference, flags, lead_at);
            depth--;
            return;
        default:
            if (any_block_q(type)) {
                block_record(container, type, variant, reference, flags);
            } else if (any_string_q(type) || type == TYPE_BINARY) {
                string_record(container, type, variant, reference, flags);
            } else {
                fail(lead_at);
            }
            depth--;
            return;
        }
    }
    block::rs_append(container, &v);
    depth--;
}

// Preamble varints must end within 20 bytes of where they start.
struct window_guard {
    decoder& d;
    const uint8_t* saved;
    window_guard(decoder& d_) : d(d_), saved(d_.end)
    {
        if (d.left() > 20) d.end = d.p + 20;
    }
    ~window_guard() { d.end = saved; }
};

// The preamble (its fields within 20 bytes each, in either form), the symbol table, then the
// records up to the payload's end.
void decoder::body(bool with_symbols, cell* out)
{
    uint32_t payload;
    {
        window_guard w(*this);
        field();   // roots: the records say how many there are
        payload = field();
    }
    if (with_symbols) {
        {
            window_guard w(*this);
            symbol_count = field();
            names_size = field();
        }
        need(4 * uint64_t(symbol_count) + names_size);
        offsets = p;
        names = p + 4 * uint64_t(symbol_count);
        if (names_size && names[names_size - 1] != 0) fail(names + names_size - 1);
        p = names + names_size;
        symbol_ids.assign(symbol_count, 0);
    }
    need(payload);
    end = p + payload;
    output = out;
    first = (series_of(series_node(out))->tail - series_of(series_node(out))->head) / CELL_BYTES;
    while (p < end) any_record(out);
}

// A datatype! or char! payload: one field, in either form.
cell decoder::id_or_char(uint32_t type, uint32_t flags, const uint8_t* where)
{
    uint32_t v = field();
    if (type == TYPE_CHAR) {
        if (v > 0x10FFFF) fail(where);
        return cell{TYPE_CHAR | flags, 0, v, 0};
    }
    if (v == 0 || v > TYPE_EVENT || v == TYPE_SERIES) fail(where);
    return cell{TYPE_DATATYPE | flags, v, 0, 0};
}

void decoder::fixed_record(cell* container)
{
    if (++depth > kivbin::DEPTH_MAX) fail(p);
    machine_stack_check();
    const uint8_t* where = p;
    uint32_t h = word32();
    while (h == 0) {   // padding before a record
        where = p;
        h = word32();
    }
    uint32_t type = h & 0xFF;
    uint32_t flags = h & FIXED_NEW_LINE ? HEADER_NEW_LINE : 0;
    bool reference = (h & FIXED_REFERENCE) != 0;
    if (no_form_q(type)) {
        cell t{TYPE_DATATYPE, type, 0, 0};
        fire(ERR_ACCESS, err::NO_CODEC, &t);
    }
    cell v{flags, 0, 0, 0};
    switch (type) {
    case FIXED_PATH: v = *resolve(where); break;
    case TYPE_DATATYPE:
    case TYPE_CHAR: v = id_or_char(type, flags, where); break;
    case TYPE_UNSET:
    case TYPE_NONE: v.header = type | flags; break;
    case TYPE_LOGIC: v = cell{TYPE_LOGIC | flags, word32() ? 1u : 0u, 0, 0}; break;
    case TYPE_INTEGER: v = cell{TYPE_INTEGER | flags, 0, word32(), 0}; break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        uint32_t high = word32();
        v = cell{type | flags, 0, word32(), high};
        break;
    }
    case TYPE_TYPESET: {
        uint32_t a = word32(), b = word32();
        v = cell{TYPE_TYPESET | flags, a, b, word32()};
        break;
    }
    case TYPE_TUPLE: {
        uint32_t n = h >> 8 & 0xF;
        if (n < 3 || n > tuple::MAX_BYTES) fail(where);
        uint32_t words[3];
        for (uint32_t& w : words) w = word32();
        tuple::make_at(&v, reinterpret_cast<const uint8_t*>(words), n);   // bytes past n become 0
        v.header |= flags;
        break;
    }
    case TYPE_PAIR: {
        uint32_t x = word32();
        v = cell{TYPE_PAIR | flags, 0, x, word32()};
        break;
    }
    case TYPE_POINT2D:
    case TYPE_POINT3D: v = point_record(type, flags); break;
    case TYPE_ISSUE: {
        const uint8_t* at_symbol = p;
        v = global_word(TYPE_ISSUE, symbol(word32(), at_symbol), flags);
        break;
    }
    case TYPE_DATE: {
        const uint8_t* at_record = p;
        uint32_t packed = word32(), high = word32(), low = word32();
        if (!date::valid_packed_q(packed)) fail(at_record);
        v = cell{TYPE_DATE | flags, packed, low, high};
        break;
    }
    case TYPE_MONEY: v = money_record((h & FIXED_NEGATIVE) != 0, flags); break;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT: {
        if (!(h & FIXED_GLOBAL)) {
            bound_word(container, type, reference, flags, where);
            depth--;
            return;
        }
        const uint8_t* at_symbol = p;
        uint32_t id = symbol(word32(), at_symbol);
        word32();   // its position in the global context, found again by its symbol
        v = global_word(type, id, flags);
        break;
    }
    case TYPE_OBJECT:
    case TYPE_CONTEXT: {
        if (reference) {
            if (word32() != FIXED_PATH) fail(where);
            const cell* target = resolve(where);
            if (bindable_word_q(cell_type(target)) && target->data1) target = context::owner_of(target->data1);
            if (cell_type(target) != TYPE_OBJECT) fail(where);
            v = cell{TYPE_OBJECT | flags, target->data1, target->data2, target->data3};
            break;
        }
        uint32_t class_id = uint32_t(-1);
        uint32_t ch = h;
        if (type == TYPE_OBJECT) {
            uint32_t read_id = word32();
            if (mode == kivbin::MODE_BOOT) class_id = read_id;
            if (h & (1u << 24)) {   // the event entries: recounted when the handlers first run
                word32();
                word32();
            }
            ch = word32();
            if ((ch & 0xFF) != TYPE_CONTEXT) fail(p - 4);
        }
        uint32_t bits = (ch >> 26 & 3) | (ch >> 29 & 1) << 2 | (ch >> 28 & 1) << 3 | (ch >> 30 & 1) << 4;
        context_content(container, flags, class_id, bits, where);
        depth--;
        return;
    }
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP:
        if (type == TYPE_OP && (h >> op::WRAPPED_SHIFT & 0xFF) == TYPE_ROUTINE) {
            cell t{TYPE_DATATYPE, TYPE_ROUTINE, 0, 0};
            fire(ERR_ACCESS, err::NO_CODEC, &t);
        }
        callable_record(container, type, flags, where, h >> op::WRAPPED_SHIFT & 0xFF);
        depth--;
        return;
    case TYPE_BITSET:
        bitset_record(container, (h & FIXED_COMPLEMENT) != 0, reference, flags, where);
        depth--;
        return;
    case TYPE_IMAGE:
        image_record_of(container, false, reference, flags, where);
        depth--;
        return;
    case TYPE_MAP:
        map_record(container, reference, flags, where);
        depth--;
        return;
    case TYPE_VECTOR:
        vector_record(container, h >> 8 & 0x1F, false, reference, flags, where);
        depth--;
        return;
    case TYPE_ERROR:
        error_record(container, flags, where);
        depth--;
        return;
    case TYPE_FUNCTION:
        function_record(container, reference, flags, where);
        depth--;
        return;
    default: {
        bool cells = any_block_q(type);
        if (!cells && !any_string_q(type) && type != TYPE_BINARY) fail(where);
        uint32_t unit = any_string_q(type) ? h >> 8 & 0x1F : 1;
        if (unit != 1 && unit != 2 && unit != 4) fail(where);
        uint32_t head = word32();
        if (reference) {
            if (word32() != FIXED_PATH) fail(where);
            cell shared{type | flags, head, shared_series(where, type), 0};
            block::rs_append(container, &shared);
        } else if (cells) {
            fill_block(container, type, head, flags, word32());
        } else {
            uint64_t bytes = uint64_t(word32()) * unit;
            need((bytes + 3) & ~uint64_t(3));
            make_string(container, type, head, flags, unit, bytes);
            while ((p - base) % 4) p++;   // the padding of the bytes: inside the data, checked above
        }
        depth--;
        return;
    }
    }
    block::rs_append(container, &v);
    depth--;
}

cell* boot_first = nullptr;   // the image's first top-level cell in the root block (never moves)

}  // namespace

std::vector<uint8_t> kivbin::encode_cp(const cell* value)
{
    kivbin_s.codec_q = 1;
    encoder e;
    e.out.reserve(16);
    e.value(value);
    std::vector<uint8_t> result = {'K', 'I', 'V', 'B', 'I', 'N', 2,
                                   uint8_t(e.symbols.empty() ? FLAG_COMPACT : FLAG_COMPACT | FLAG_SYMBOLS)};
    result.reserve(e.out.size() + e.names.size() + 4 * e.symbols.size() + 24);
    encoder pre;
    pre.varint(1);
    pre.varint(uint32_t(e.out.size()));
    if (!e.symbols.empty()) {
        pre.varint(uint32_t(e.symbols.size()));
        pre.varint(uint32_t(e.names.size()));
        for (uint32_t offset : e.name_offsets) pre.word32(offset);
        pre.bytes(e.names.data(), e.names.size());
    }
    result.insert(result.end(), pre.out.begin(), pre.out.end());
    result.insert(result.end(), e.out.begin(), e.out.end());
    return result;
}

std::vector<uint8_t> kivbin::encode(const cell* value)
{
    kivbin_s.codec_q = 1;
    encoder e;
    e.fixed = true;
    e.fixed_value(value);
    // The names again, each padded with zeros to a multiple of 8 so that every name starts at one.
    std::vector<uint8_t> names;
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < e.symbols.size(); i++) {
        offsets.push_back(uint32_t(names.size()));
        const uint8_t* name = e.names.data() + e.name_offsets[i];
        names.insert(names.end(), name, name + std::strlen(reinterpret_cast<const char*>(name)) + 1);
        names.resize((names.size() + 7) & ~size_t(7));
    }
    encoder pre;
    for (char b : {'K', 'I', 'V', 'B', 'I', 'N', '\2'}) pre.byte(uint8_t(b));
    pre.byte(e.symbols.empty() ? 0 : FLAG_SYMBOLS);
    pre.word32(1);
    pre.word32(uint32_t(e.out.size()));
    if (!e.symbols.empty()) {
        pre.word32(uint32_t(offsets.size()));
        pre.word32(uint32_t(names.size()));
        for (uint32_t offset : offsets) pre.word32(offset);
        pre.bytes(names.data(), names.size());
    }
    pre.bytes(e.out.data(), e.out.size());
    return pre.out;
}

uint32_t kivbin::decode(const uint8_t* data, uint64_t length, cell* output, mode m)
{
    if (length < HEADER_BYTES || std::memcmp(data, "KIVBIN", 6) != 0) {
        cell none{TYPE_NONE, 0, 0, 0};
        fire(ERR_SCRIPT, err::INVALID_DATA, &none);
    }
    uint8_t flags = data[7];
    std::vector<uint8_t> unpacked;
    decoder d{data, data + HEADER_BYTES, data + length, m};
    if (flags & FLAG_PACKED) {
        if (!lz::decompress(data + HEADER_BYTES, length - HEADER_BYTES, &unpacked)) {
            cell none{TYPE_NONE, 0, 0, 0};
            fire(ERR_SCRIPT, err::INVALID_DATA, &none);
        }
        // Offsets of faults in an unpacked body count from the unpacked bytes.
        d.base = d.p = unpacked.data();
        d.end = unpacked.data() + unpacked.size();
    }
    if (!(flags & FLAG_COMPACT) && d.end - d.p < 8) {
        cell none{TYPE_NONE, 0, 0, 0};
        fire(ERR_SCRIPT, err::INVALID_DATA, &none);
    }
    uint32_t before = block::rs_length(output);
    d.fixed = !(flags & FLAG_COMPACT);
    d.body((flags & FLAG_SYMBOLS) != 0, output);
    return block::rs_length(output) - before;
}

void kivbin::boot_load(const uint8_t* image, uint64_t length)
{
    kivbin_s.codec_q = 0;
    collector_hold held;
    const char* fault = nullptr;
    if (!image || length < HEADER_BYTES || std::memcmp(image, "KIVBIN", 6) != 0) fault = "Error: Not a Kivbin file!";
    std::vector<uint8_t> probe;
    if (!fault && (image[7] & FLAG_PACKED) && !lz::decompress(image + HEADER_BYTES, length - HEADER_BYTES, &probe))
        fault = "Error: Kivbin compressed data corrupted!";
    uint32_t before = block::rs_length(&root_block);
    if (!fault) {
        try {
            decode(image, length, &root_block, MODE_BOOT);
        } catch (const script_error_unwind&) {
            // Memory the system refuses is no fault of the image: the start fails as it does
            // for any refused request (a boot image large enough to need a frame showed it).
            const raised_error& e = raised_error_get();
            if (e.category == ERR_INTERNAL && e.id == err::NO_MEMORY) runtime_error(RT_NO_MEMORY, rt_error_address());
            fault = "Error: Kivbin boot image corrupted!";
        }
    }
    if (fault) {
        rt_print_line({fault});
        runtime_error(RT_ASSERTION, rt_error_address());
    }
    boot_first = at<cell>(series_of(root_block.data2)->head) + before;
}

void kivbin::init()
{
    kivbin_s.callables = block::make_fixed(block_alloc_tail(&root_block), CALLABLES);
}

void kivbin::register_callables()
{
    node_ref global = context_s.global;
    for (uint32_t i = 0, n = context::word_count(global); i < n; i++) {
        const cell* v = context::get_value_at(global, i);
        uint32_t t = cell_type(v);
        if ((t != TYPE_NATIVE && t != TYPE_ACTION) || registered_callable(t, v->data1)) continue;
        if (block::rs_length(kivbin_s.callables) >= CALLABLES) return;
        cell copy = *v;
        copy.header = t;
        block::rs_append(kivbin_s.callables, &copy);
    }
}

cell* kivbin::boot_cell(uint32_t n) { return boot_first ? boot_first + n : nullptr; }

node_ref kivbin::boot_cell_node(uint32_t n) { return boot_first ? boot_first[n].data1 : 0; }
