// bitset!: making from the spec language, membership, changes and the set operations. Every byte
// index is derived from a value already checked against BITSET_MAX_BYTES and against the stored
// length as it is at that moment; growth fills with the complement's background (0x00 or 0xFF),
// and the set operations pad the shorter operand with its own background, so complemented
// operands give the mathematically right members.
#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/ownership.h"

namespace {

series_buffer* buffer_of(const cell* b) { return series_of(b->data2); }
}  // namespace

bool bitset::complement_q(const cell* b) { return (buffer_of(b)->flags & SERIES_COMPLEMENT) != 0; }

namespace {
using bitset::complement_q;
uint32_t stored(const cell* b) { return series_used_bytes(buffer_of(b)); }
uint8_t background(const cell* b) { return complement_q(b) ? 0xFF : 0x00; }
uint8_t* bytes_of(const cell* b) { return at(buffer_of(b)->head); }

cell datatype_cell(uint32_t t) { return cell{TYPE_DATATYPE, t, 0, 0}; }

[[noreturn]] void out_of_range(int64_t v)
{
    cell arg{TYPE_INTEGER, 0, uint32_t(int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX))), 0};
    fire(ERR_SCRIPT, err::OUT_OF_RANGE, &arg);
}

// Bytes that hold bit i; out-of-range past the largest bitset.
uint32_t bytes_for(int64_t i)
{
    uint64_t n = uint64_t(i >> 3) + 1;
    if (i < 0 || n > BITSET_MAX_BYTES) out_of_range(i);
    return uint32_t(n);
}

void grow_to_hold(const cell* b, int64_t i)
{
    uint32_t need = bytes_for(i), have = stored(b);
    if (need <= have) return;
    uint8_t fill = background(b);
    series_buffer* s = series::room_for(b->data2, need);
    std::memset(at(s->tail), fill, need - have);
    s->tail = s->head + need;
}

// A new bitset buffer of n bytes, all `fill`.
node_ref alloc_bits(uint32_t n, uint8_t fill, bool complement)
{
    node_ref node = bytes_alloc(std::max(n, 1u));
    series_buffer* s = series_of(node);
    std::memset(at(s->head), fill, n);
    s->tail = s->head + n;
    if (complement) s->flags |= SERIES_COMPLEMENT;
    return node;
}

cell* bitset_at(cell* slot, node_ref node)
{
    *slot = cell{TYPE_BITSET, 0, node, 0};
    return slot;
}

// One value: set, clear or test (the result of a test is its membership).
int32_t apply(const cell* b, int64_t i, int32_t op)
{
    bool beyond = i < 0 || uint64_t(i) >= uint64_t(stored(b)) * 8;
    switch (op) {
    case bitset::OP_TEST:
        return bitset::member_q(b, i);
    case bitset::OP_SET:
        if (beyond && complement_q(b)) return 1;
        grow_to_hold(b, i);
        bytes_of(b)[i >> 3] |= uint8_t(0x80u >> (i & 7));
        return 1;
    case bitset::OP_CLEAR:
        if (beyond && !complement_q(b)) return 1;
        grow_to_hold(b, i);
        bytes_of(b)[i >> 3] &= uint8_t(~(0x80u >> (i & 7)));
        return 1;
    default:
        return 1;
    }
}

// The number a char!, integer! or float! spec value stands for (a float truncated toward zero).
bool number_of(const cell* v, int64_t* out)
{
    switch (cell_type(v)) {
    case TYPE_CHAR: *out = char_of(v); return true;
    case TYPE_INTEGER: *out = integer_of(v); return true;
    case TYPE_FLOAT: {
        double d = cell_float(v);
        if (!(std::fabs(d) < 9.2e18)) out_of_range(INT32_MAX);
        *out = int64_t(std::trunc(d));
        return true;
    }
    default: return false;
    }
}

bool minus_word_q(const cell* c)
{
    return cell_type(c) == TYPE_WORD && word_symbol(c) == rt_symbol_id(SYM_MINUS);
}

void notify(const cell* b, owner_event event, const cell* value)
{
    if (buffer_of(b)->flags & SERIES_OWNED) ownership_check(b, event, value, 0, 0);
}

bool owned_field_q(const cell* field)
{
    return any_word_q(cell_type(field)) &&
           symbol::resolve(word_symbol(field)) == symbol::resolve(rt_symbol_id(SYM_OWNED));
}

// Falsy values clear what poke names: none, false, integer 0, float 0.0.
bool clears_q(const cell* v)
{
    switch (cell_type(v)) {
    case TYPE_NONE: return true;
    case TYPE_LOGIC: return v->data1 == 0;
    case TYPE_INTEGER: return integer_of(v) == 0;
    case TYPE_FLOAT: return cell_float(v) == 0.0;
    default: return false;
    }
}

}  // namespace

bool bitset::member_q(const cell* b, int64_t i)
{
    if (i < 0 || uint64_t(i) >= uint64_t(stored(b)) * 8) return complement_q(b);
    return (bytes_of(b)[i >> 3] & (0x80u >> (i & 7))) != 0;
}

int32_t bitset::process_range(const cell* b, int64_t low, int64_t high, int32_t op)
{
    // Past the stored bits a test is the background, a set in a complement (a clear in a normal
    // bitset) changes nothing: the walk stops there.
    int64_t end = high;
    bool grows = (op == OP_SET && !complement_q(b)) || (op == OP_CLEAR && complement_q(b));
    if (grows) grow_to_hold(b, high);
    else end = std::min<int64_t>(high, int64_t(stored(b)) * 8 - 1);
    if (op == OP_TEST && high > end && !complement_q(b)) return 0;
    for (int64_t i = low; i <= end; i++)
        if (!apply(b, i, op)) return 0;
    return 1;
}

int64_t bitset::process_spec(const cell* spec, const cell* b, int32_t op, bool nested, int32_t caller)
{
    int64_t largest = 0;
    uint32_t t = cell_type(spec);
    int64_t v;
    if (number_of(spec, &v)) {
        if (v < 0 && op != OP_TEST) out_of_range(v);
        if (op == OP_TEST) return member_q(b, v);
        if (op != OP_SIZE) apply(b, v, op);
        largest = v;
    } else if (any_string_q(t)) {
        cell s = *spec;
        for (uint32_t i = series::head_clamped(&s); i < series::units(&s); i++) {
            uint32_t cp = string_internal::cp_at(&s, i);
            if (op == OP_TEST) {
                if (!member_q(b, cp)) return 0;
                continue;
            }
            if (op != OP_SIZE) apply(b, cp, op);
            largest = std::max<int64_t>(largest, cp);
        }
        if (op == OP_TEST) return 1;
    } else if (t == TYPE_BLOCK) {
        cell blk = *spec;
        for (uint32_t i = series::head_clamped(&blk); i < series::units(&blk);) {
            // Cells are copied out: setting bits may grow the bitset and move the block's buffer.
            cell c = *block_internal::cell_at(&blk, i);
            int64_t start;
            bool range = number_of(&c, &start) && cell_type(&c) != TYPE_FLOAT && i + 1 < series::units(&blk) &&
                         minus_word_q(block_internal::cell_at(&blk, i + 1));
            int64_t r = process_spec(&c, b, op, true, caller);
            if (op == OP_TEST && !r) return 0;
            largest = std::max(largest, r);
            if (!range) {
                i++;
                continue;
            }
            if (i + 2 >= series::units(&blk)) fire(ERR_SCRIPT, err::PAST_END);
            cell end = *block_internal::cell_at(&blk, i + 2);
            int64_t high;
            if (cell_type(&end) != TYPE_CHAR && cell_type(&end) != TYPE_INTEGER) fire(ERR_SCRIPT, err::PAST_END);
            if (cell_type(&end) != cell_type(&c)) fire(ERR_SCRIPT, err::INVALID_ARG, &end);
            number_of(&end, &high);
            if (high < start) fire(ERR_SCRIPT, err::PAST_END);
            if (op == OP_SIZE) bytes_for(high);
            else if (!process_range(b, start, high, op) && op == OP_TEST) return 0;
            largest = std::max(largest, high);
            i += 3;
        }
        if (op == OP_TEST) return 1;
    } else if (t == TYPE_BINARY) {
        fire(ERR_INTERNAL, err::NOT_DONE);
    } else {
        cell type = datatype_cell(TYPE_BITSET);
        if (caller == CALLER_MAKE) fire(ERR_SCRIPT, err::BAD_MAKE_ARG, &type, spec);
        if (caller == CALLER_TO) fire(ERR_SCRIPT, err::BAD_TO_ARG, &type, spec);
        fire(ERR_SCRIPT, err::INVALID_ARG, spec);
    }
    if (!nested && op == OP_SIZE) return bytes_for(largest);
    // A complement bitset already holds every value beyond its stored bits.
    if (!nested && op == OP_SET && !complement_q(b)) grow_to_hold(b, largest);
    return largest;
}

cell* bitset::make_from_spec(const cell* spec, int32_t caller)
{
    cell* slot = stack::push_slot();
    cell s = *spec;
    bool complement = false;
    if (cell_type(&s) == TYPE_BLOCK && block::rs_length(&s) > 0) {
        const cell* first = block::rs_head(&s);
        if (cell_type(first) == TYPE_WORD && symbol::resolve(word_symbol(first)) == symbol::resolve(rt_symbol_id(SYM_NOT))) {
            complement = true;
            s.data1 = series::head_clamped(&s) + 1;
            if (block::rs_length(&s) > 0 && cell_type(block::rs_head(&s)) == TYPE_BINARY) s = *block::rs_head(&s);
        }
    }
    uint32_t t = cell_type(&s);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        cell type = datatype_cell(TYPE_BITSET);
        if (caller == CALLER_TO) fire(ERR_SCRIPT, err::BAD_TO_ARG, &type, spec);
        // The size must be a 32-bit integer (a float is truncated) that the largest bitset holds;
        // any other size is refused naming the value given.
        double d = t == TYPE_FLOAT ? cell_float(&s) : 0.0;
        if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
        int64_t bits;
        number_of(&s, &bits);
        if (bits < 0 || (bits > 0 && uint64_t(bits - 1) >> 3 >= BITSET_MAX_BYTES))
            fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
        uint32_t n = bits == 0 ? 0 : bytes_for(bits - 1);
        bitset_at(slot, alloc_bits(n, 0, false));
    } else if (t == TYPE_BITSET) {
        cell source = s;
        node_ref node = alloc_bits(stored(&source), 0, complement_q(&source));
        std::memcpy(at(series_of(node)->head), bytes_of(&source), stored(&source));
        bitset_at(slot, node);
    } else if (t == TYPE_BINARY) {
        cell source = s;
        uint32_t head = series::head_clamped(&source), n = series::length_clamped(&source);
        node_ref node = alloc_bits(n, 0, complement);
        uint8_t* out = at(series_of(node)->head);
        const uint8_t* in = at(series_of(source.data2)->head) + head;
        for (uint32_t i = 0; i < n; i++) out[i] = complement ? uint8_t(~in[i]) : in[i];
        bitset_at(slot, node);
    } else {
        uint32_t n = uint32_t(process_spec(&s, nullptr, OP_SIZE, false, caller));
        bitset_at(slot, alloc_bits(n, complement ? 0xFF : 0x00, complement));
        process_spec(&s, slot, complement ? OP_CLEAR : OP_SET, false, caller);
    }
    return slot;
}

cell* bitset::do_bitwise(int32_t code, cell* value1, const cell* value2)
{
    if (code == 8) return value1;
    if (cell_type(value2) != TYPE_BITSET) {
        cell type = datatype_cell(cell_type(value2));
        fire(ERR_SCRIPT, err::INVALID_TYPE, &type);
    }
    cell first = *value1, second = *value2;   // the result may be written over either
    const cell* x = &first;
    const cell* y = &second;
    uint32_t len1 = stored(x), len2 = stored(y);
    bool c1 = complement_q(x), c2 = complement_q(y);
    // Each bit of the result is the operation on the two memberships, beyond the stored bytes too:
    // the background of the result is the operation on the two backgrounds.
    auto op = [code](bool a, bool b) {
        switch (code) {
        case 5: case 9: return a || b;
        case 6: case 10: return a && b;
        case 7: case 12: return a != b;
        default: return a && !b;   // 11 exclude
        }
    };
    auto op_bytes = [code](uint8_t a, uint8_t b) -> uint8_t {
        switch (code) {
        case 5: case 9: return a | b;
        case 6: case 10: return a & b;
        case 7: case 12: return a ^ b;
        default: return uint8_t(a & ~b);
        }
    };
    bool flag = op(c1, c2);
    uint32_t n = std::max(len1, len2);
    // and~ keeps the shorter length when the bytes beyond it are all outside anyway.
    if (code == 6 && !((len1 < len2 ? c1 : c2)) && !flag) n = std::min(len1, len2);
    node_ref node = alloc_bits(n, 0, flag);
    uint8_t* out = at(series_of(node)->head);
    const uint8_t* a = bytes_of(x);
    const uint8_t* b = bytes_of(y);
    for (uint32_t i = 0; i < n; i++) out[i] = op_bytes(i < len1 ? a[i] : background(x), i < len2 ? b[i] : background(y));
    return bitset_at(value1, node);
}

// ---- actions ------------------------------------------------------------------------------------

cell* bitset::make(cell*, cell* spec, uint32_t) { return make_from_spec(spec, CALLER_MAKE); }
cell* bitset::to(cell*, cell* spec, uint32_t) { return make_from_spec(spec, CALLER_TO); }

cell* bitset::reflect(cell* value, cell* field)
{
    if (!owned_field_q(field)) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* owner = (buffer_of(value)->flags & SERIES_OWNED) ? ownership_owner_of(value->data2) : nullptr;
    if (!owner) return none::make_at(value);
    cell record[2] = {*owner, *ownership_word_of(value->data2)};
    cell* out = block::push_only_star(2);
    block::rs_append(out, &record[0]);
    block::rs_append(out, &record[1]);
    return out;
}

cell* bitset::modify(cell* value, cell* field, cell* new_value, bool)
{
    if (!owned_field_q(field)) return new_value;
    if (cell_type(new_value) == TYPE_NONE) {
        ownership_unbind(value);
        return new_value;
    }
    if (cell_type(new_value) != TYPE_BLOCK || block::rs_length(new_value) < 2) fire(ERR_SCRIPT, err::INVALID_ARG, new_value);
    cell owner = block::rs_head(new_value)[0], word = block::rs_head(new_value)[1];
    if (cell_type(&owner) != TYPE_OBJECT || !any_word_q(cell_type(&word))) fire(ERR_SCRIPT, err::INVALID_ARG, new_value);
    ownership_set_tracked(value, &owner, &word);
    return new_value;
}

int32_t bitset::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    return mold(value, buffer, false, false, false, arg, part, 0);
}

int32_t bitset::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    cell b = *value;
    bool limited = arg_given(arg);
    bool complement = complement_q(&b);
    part = string::emit_literal(buffer, "make bitset! ", part);
    if (complement) part = string::emit_literal(buffer, "[not ", part);
    part = string::emit_literal(buffer, "#{", part);
    for (uint32_t i = 0; i < stored(&b); i++) {
        uint8_t byte = bytes_of(&b)[i];   // read again: writing the text may move the bitset
        part = string::emit_literal(buffer, string::byte_to_hex(complement ? uint8_t(~byte) : byte), part);
        if (limited && part < 0) return part;
    }
    if (limited && part <= 0) return part;
    part = string::emit_literal(buffer, "}", part);
    if (complement) part = string::emit_literal(buffer, "]", part);
    return part;
}

cell* bitset::eval_path(cell* parent, cell* element, cell* value, cell*, cell*, cell*, int32_t, bool, bool, bool, bool)
{
    uint32_t t = cell_type(element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        cell type = datatype_cell(t);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &type);
    }
    if (value) {
        poke(stack::push(parent), 0, element, value);
        stack::pop(1);
        return value;
    }
    return pick(stack::push(parent), 0, element);
}

int32_t bitset::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_BITSET) return -2;
    if (op == COMP_SAME) return value1->data2 == value2->data2 ? 0 : 1;
    uint32_t len1 = stored(value1), len2 = stored(value2);
    if (len1 != len2) return len1 < len2 ? -1 : 1;
    if (len1 == 0) return 0;
    bool c1 = complement_q(value1), c2 = complement_q(value2);
    if (c1 != c2) return c1 ? 1 : -1;
    const uint8_t* a = bytes_of(value1);
    const uint8_t* b = bytes_of(value2);
    for (uint32_t i = len1; i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

cell* bitset::complement(cell* value)
{
    cell source = *value;
    node_ref node = alloc_bits(stored(&source), 0, !complement_q(&source));
    uint8_t* out = at(series_of(node)->head);
    const uint8_t* in = bytes_of(&source);
    for (uint32_t i = 0; i < stored(&source); i++) out[i] = uint8_t(~in[i]);
    return bitset_at(value, node);
}

cell* bitset::negate(cell* value) { return complement(value); }

cell* bitset::and_t(cell* value1, cell* value2) { return do_bitwise(6, value1, value2); }
cell* bitset::or_t(cell* value1, cell* value2) { return do_bitwise(5, value1, value2); }
cell* bitset::xor_t(cell* value1, cell* value2) { return do_bitwise(7, value1, value2); }

cell* bitset::append(cell* series, cell* value, cell*, bool, cell*)
{
    cell v = *value;
    notify(series, EV_INSERT, &v);
    process_spec(&v, series, OP_SET, false, CALLER_ACTION);
    notify(series, EV_INSERTED, &v);
    return series;
}

cell* bitset::clear(cell* value)
{
    notify(value, EV_CLEAR, nullptr);
    std::memset(bytes_of(value), background(value), stored(value));
    notify(value, EV_CLEARED, nullptr);
    return value;
}

cell* bitset::copy(cell* value, cell* result, cell*, bool, cell*)
{
    cell source = *value;
    node_ref node = alloc_bits(stored(&source), 0, complement_q(&source));
    std::memcpy(at(series_of(node)->head), bytes_of(&source), stored(&source));
    return bitset_at(result, node);
}

cell* bitset::find(cell* series, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool, bool, bool)
{
    if (process_spec(value, series, OP_TEST, true, CALLER_ACTION)) return logic::make_at(series, true);
    return none::make_at(series);
}

int32_t bitset::length_q(cell* value) { return int32_t(stored(value) * 8); }

cell* bitset::pick(cell* value, int32_t, cell* index)
{
    return logic::make_at(value, process_spec(index, value, OP_TEST, true, CALLER_ACTION) != 0);
}

cell* bitset::poke(cell* value, int32_t, cell* index, cell* new_value)
{
    cell v = *new_value, i = *index;
    bool clearing = clears_q(&v);
    notify(value, EV_POKE, &v);
    process_spec(&i, value, clearing ? OP_CLEAR : OP_SET, false, CALLER_ACTION);
    notify(value, EV_POKED, &v);
    *value = v;
    return value;
}

cell* bitset::remove(cell* value, cell*, cell* key)
{
    if (!arg_given(key)) fire(ERR_SCRIPT, err::MISSING_ARG);
    cell k = *key;
    notify(value, EV_REMOVE, &k);
    process_spec(&k, value, complement_q(value) ? OP_SET : OP_CLEAR, false, CALLER_ACTION);
    notify(value, EV_REMOVED, &k);
    return value;
}

void bitset::init()
{
    datatype::register_type(TYPE_BITSET, 0, "bitset!", {
        .make = make, .reflect = reflect, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .negate = negate, .and_t = and_t, .complement = complement, .or_t = or_t,
        .xor_t = xor_t, .append = append, .clear = clear, .copy = copy, .find = find, .insert = append,
        .length_q = length_q, .pick = pick, .poke = poke, .remove = remove, .modify = modify,
        .mark = collector::mark_buffer_cell});
}
