// logic!: true and false, the static logic cells (never written), and the truth tests conditions use.
#include "runtime/datatypes/logic.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/random.h"

cell true_value{TYPE_LOGIC, 1, 0, 0};
cell false_value{TYPE_LOGIC, 0, 0, 0};

cell* logic::make_at(cell* slot, uint32_t value)
{
    *slot = cell{TYPE_LOGIC, value, 0, 0};
    return slot;
}
cell* logic::push(uint32_t value) { return make_at(stack::push_slot(), value); }
cell* logic::make_in(cell* blk, uint32_t value) { return make_at(block_alloc_tail(blk ? blk : &root_block), value); }
cell* logic::box(uint32_t value) { return make_at(stack::arguments(), value); }

cell* logic::to(cell*, cell* spec, uint32_t)
{
    uint32_t t = cell_type(spec);
    if (t == TYPE_LOGIC) return push(spec->data1);
    return push(t == TYPE_NONE ? 0 : 1);
}

cell* logic::make(cell* proto, cell* spec, uint32_t type)
{
    switch (cell_type(spec)) {
    case TYPE_INTEGER:
        return push(spec->data2 != 0);
    case TYPE_FLOAT: case TYPE_PERCENT: {
        double d = cell_float(spec);
        return push(!(d == 0.0));   // NaN is true
    }
    default:
        return to(proto, spec, type);
    }
}

int32_t logic::form(cell* value, cell* buffer, cell*, int32_t part)
{
    return string::emit_literal(buffer, value->data1 == 1 ? "true" : "false", part);
}

int32_t logic::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    bool t = value->data1 == 1;
    if (all) return string::emit_literal(buffer, t ? "#(true)" : "#(false)", part);
    return string::emit_literal(buffer, t ? "true" : "false", part);
}

int32_t logic::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_LOGIC) return -2;
    if (!compare_equality_or_sort(op)) return -2;
    return int32_t(value1->data1) - int32_t(value2->data1);
}

cell* logic::complement(cell* value)
{
    value->data1 ^= 1;
    return value;
}

namespace {
enum class bit_op { AND, OR, XOR };
cell* bitwise(cell* a, cell* b, bit_op op, const char* action)
{
    if (cell_type(b) != TYPE_LOGIC) {
        // The error names the action and its second argument by their words; each word is copied
        // before the next one is made, which may allocate.
        cell type = datatype::value_of(cell_type(b));
        cell action_word = *word::load(action);
        cell argument_word = *word::load("value2");
        fire(ERR_SCRIPT, err::EXPECT_ARG, &action_word, &type, &argument_word);
    }
    switch (op) {
    case bit_op::AND: a->data1 &= b->data1; break;
    case bit_op::OR: a->data1 |= b->data1; break;
    case bit_op::XOR: a->data1 ^= b->data1; break;
    }
    return a;
}
}  // namespace

cell* logic::and_t(cell* a, cell* b) { return bitwise(a, b, bit_op::AND, "and~"); }
cell* logic::or_t(cell* a, cell* b) { return bitwise(a, b, bit_op::OR, "or~"); }
cell* logic::xor_t(cell* a, cell* b) { return bitwise(a, b, bit_op::XOR, "xor~"); }

cell* logic::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(value->data1);
        return unset::make_at(value);
    }
    uint32_t draw = random_::draw(secure);
    value->data1 = int32_t(draw) > 0x3FFFFFFF ? 1 : 0;
    return value;
}

uint32_t logic::true_q(const cell* value, bool check_unset, const cell* name)
{
    if (check_unset && cell_type(value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_VALUE, name);
    return cell_falsy(value) ? 0 : 1;
}

uint32_t logic::check_arg_true_q()
{
    cell* arg = stack::arguments();
    if (cell_type(arg) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_RETURN);
    return cell_falsy(arg) ? 0 : 1;
}

uint32_t logic::arg_false_q() { return cell_falsy(stack::arguments()) ? 1 : 0; }

uint32_t logic::top_false_q()
{
    cell* last = stack::top() - 1;
    if (last < stack::arguments()) last = stack::arguments();
    return cell_falsy(last) ? 1 : 0;
}

uint32_t logic::top_true_q() { return top_false_q() ^ 1; }

void logic::init()
{
    true_value = cell{TYPE_LOGIC, 1, 0, 0};
    false_value = cell{TYPE_LOGIC, 0, 0, 0};
    datatype::register_type(TYPE_LOGIC, 0, "logic!", {
        .make = make, .random = random, .to = to, .form = form, .mold = mold, .compare = compare,
        .and_t = and_t, .complement = complement, .or_t = or_t, .xor_t = xor_t});
}
