// The KIVBIN compact form: the encoder's walk with its path stack and reference table, the body
// decoder with its bounds, and the boot image load.
#include "runtime/io/kivbin.h"

#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/stack.h"
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
    void number(uint32_t type, double d, bool percent);
    void block_of(const cell* c);
    void string_of(const cell* c);
};

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
    case TYPE_TYPESET: {
        const uint8_t* mask = reinterpret_cast<const uint8_t*>(&c->data1);
        uint8_t n = 12;
        while (n && !mask[n - 1]) n--;
        byte(TYPE_TYPESET);
        byte(n);
        bytes(mask, n);
        break;
    }
    case TYPE_ISSUE:
        byte(TYPE_ISSUE);
        varint(symbol_index(word_symbol(c)));
        break;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
        if (!global_binding_q(c)) no_codec(c);   // words of object and function contexts: not yet
        byte(uint8_t(type));
        varint(symbol_index(word_symbol(c)));
        break;
    default:
        if (any_block_q(type)) block_of(c);
        else if (any_string_q(type) || type == TYPE_BINARY) string_of(c);
        else no_codec(c);
    }
    index++;
    depth--;
}

// ---- decoding -----------------------------------------------------------------------------------

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
    int32_t zigzag()
    {
        uint32_t v = varint();
        return int32_t((v >> 1) ^ (0u - (v & 1)));
    }
    void need(uint64_t n)
    {
        if (n > left()) fail(p);
    }
    uint32_t symbol(uint32_t index, const uint8_t* where);
    uint32_t symbol() { const uint8_t* where = p; return symbol(varint(), where); }

    void body(bool with_symbols, cell* out);
    void record(cell* container);
    const cell* resolve(const uint8_t* where);
    node_ref shared_series(const uint8_t* where, uint32_t type);
    void block_record(cell* container, uint32_t type, bool variant, bool reference, uint32_t flags);
    void string_record(cell* container, uint32_t type, bool variant, bool reference, uint32_t flags);
};

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
    uint32_t count = varint();
    if (count < 1 || count > kivbin::PATH_STEPS) fail(where);
    need(count);
    std::vector<uint32_t> steps(count);
    for (uint32_t& s : steps) s = varint();
    // Walk the buffers by node: the cells are read only after every index is known, and nothing
    // allocates during the walk.
    const cell* current = nullptr;
    for (uint32_t i = 0; i < count; i++) {
        node_ref node;
        uint64_t index = steps[i];
        if (i == 0) {
            node = series_node(output);
            index += first;
        } else if (any_block_q(cell_type(current))) {
            node = series_node(current);
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
    bool fits = any_block_q(type) ? any_block_q(t) : series_kind_q(t) && !any_block_q(t);
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
    uint32_t n = varint();
    need(n);   // every record takes a byte where least
    stack::scope held;
    cell* blk = held.push(cell{TYPE_UNSET, 0, 0, 0});
    block::make_at(blk, n);
    blk->header = type | flags;
    blk->data1 = head;
    // Into its container first, so that paths through it resolve while its content is read.
    block::rs_append(container, blk);
    blk->header &= ~HEADER_NEW_LINE;
    for (uint32_t i = 0; i < n; i++) record(blk);
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
        if (reference && !series_kind_q(type)) fail(lead_at);
        if (type == 0) fail(lead_at);
        if (no_form_q(type)) {
            cell t{TYPE_DATATYPE, type, 0, 0};
            fire(ERR_ACCESS, err::NO_CODEC, &t);
        }
        switch (type) {
        case TYPE_DATATYPE: {
            uint32_t id = varint();
            if (id == 0 || id > TYPE_EVENT || id == TYPE_SERIES) fail(where);
            v = cell{TYPE_DATATYPE | flags, id, 0, 0};
            break;
        }
        case TYPE_UNSET:
        case TYPE_NONE: v.header = type | flags; break;
        case TYPE_CHAR: {
            uint32_t cp = varint();
            if (cp > 0x10FFFF) fail(where);
            v = cell{TYPE_CHAR | flags, 0, cp, 0};
            break;
        }
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
        case TYPE_TYPESET: {
            uint8_t n = byte();
            if (n > 12) fail(p - 1);
            need(n);
            v.header = TYPE_TYPESET | flags;
            std::memcpy(&v.data1, p, n);
            p += n;
            break;
        }
        case TYPE_ISSUE: {
            uint32_t id = symbol();
            word::make_at(id, &v);
            v.header = TYPE_ISSUE | flags;
            v.data3 = uint32_t(-1);
            break;
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: {
            if (variant) fail(lead_at);   // bound words: not made here yet
            uint32_t id = symbol();
            word::make_at(id, &v);
            v.header = type | flags;
            if (type == TYPE_REFINEMENT) v.data3 = uint32_t(-1);
            break;
        }
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

void decoder::body(bool with_symbols, cell* out)
{
    uint32_t payload;
    {
        window_guard w(*this);
        varint();   // roots: the records say how many there are
        payload = varint();
    }
    if (with_symbols) {
        {
            window_guard w(*this);
            symbol_count = varint();
            names_size = varint();
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
    while (p < end) record(out);
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
    if (!(flags & FLAG_COMPACT)) {
        // The fixed record form is not read by this build.
        cell none{TYPE_NONE, 0, 0, 0};
        fire(ERR_ACCESS, err::NO_CODEC, &none);
    }
    uint32_t before = block::rs_length(output);
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
            fault = "Error: Kivbin boot image corrupted!";
        }
    }
    if (fault) {
        rt_print_line({fault});
        runtime_error(RT_ASSERTION, rt_error_address());
    }
    boot_first = at<cell>(series_of(root_block.data2)->head) + before;
}

cell* kivbin::boot_cell(uint32_t n) { return boot_first ? boot_first + n : nullptr; }

node_ref kivbin::boot_cell_node(uint32_t n) { return boot_first ? boot_first[n].data1 : 0; }
