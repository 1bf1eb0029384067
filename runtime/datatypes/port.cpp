// port!: make, the text form and the forwarding of actions to the port's actor. Must not break:
// field values are read into locals or stack cells before anything allocates or calls the actor,
// and every argument of a forwarded call sits on the argument stack while the actor runs.
#include "runtime/datatypes/port.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace {

void set_field(const cell* object, const char* name, const cell& value)
{
    uint32_t symbol = symbol::make(name);
    int32_t i = context::find_word(object->data1, symbol, true);
    if (i >= 0) *context::get_value_at(object->data1, uint32_t(i)) = value;
}

// The arguments of a forwarded call, pushed in the action's spec order: each refinement as a
// logic! (given or not), one that takes an argument followed by it or by none.
class actor_call {
public:
    explicit actor_call(const cell* port) : first_(stack::push(port)) {}
    actor_call& arg(const cell* v)
    {
        stack::push(v);
        return *this;
    }
    actor_call& flag(bool given)
    {
        logic::push(given);
        return *this;
    }
    actor_call& ref(const cell* v)
    {
        logic::push(v != nullptr);
        stack::push(v ? v : &none_value);
        return *this;
    }
    // Calls the actor's function; the result replaces the port's cell, which the caller returns.
    cell* call(const char* action)
    {
        cell actor = port::get_actor(first_);
        uint32_t count = uint32_t(stack::top() - first_);
        return port::call_actor(&actor, action, first_, count, first_);
    }

private:
    cell* first_;
};

// ---- the forwarded slots ------------------------------------------------------------------------

template <const char* name>
cell* unary(cell* p)
{
    return actor_call(p).call(name);
}
template <const char* name>
cell* with_one(cell* p, cell* a)
{
    return actor_call(p).arg(a).call(name);
}
template <const char* name>
cell* append_like(cell* p, cell* value, cell* part, bool only, cell* dup)
{
    return actor_call(p).arg(value).ref(part).flag(only).ref(dup).call(name);
}
template <const char* name, bool all_refinements>
cell* find_like(cell* p, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
                bool last, bool reverse, bool tail, bool match)
{
    actor_call c(p);
    c.arg(value).ref(part).flag(only).flag(case_).flag(same).flag(any).ref(with).ref(skip).flag(last).flag(reverse);
    if (all_refinements) c.flag(tail).flag(match);   // select has neither /tail nor /match
    return c.call(name);
}

constexpr char APPEND[] = "append", AT[] = "at", BACK[] = "back", CHANGE[] = "change", CLEAR[] = "clear",
               FIND[] = "find", HEAD[] = "head", HEAD_Q[] = "head?", INDEX_Q[] = "index?", INSERT[] = "insert",
               NEXT[] = "next", SELECT[] = "select", SKIP[] = "skip", SWAP[] = "swap", TAIL[] = "tail",
               TAIL_Q[] = "tail?", CREATE[] = "create", CLOSE[] = "close", DELETE[] = "delete", QUERY[] = "query",
               RENAME[] = "rename", UPDATE[] = "update";

cell* copy(cell* p, cell* result, cell* part, bool deep, cell* types)
{
    cell* r = actor_call(p).ref(part).flag(deep).ref(types).call("copy");
    return copy_cell(r, result);
}
int32_t length_q(cell* p)
{
    cell* r = actor_call(p).call("length?");
    return cell_type(r) == TYPE_INTEGER ? int32_t(r->data2) : -1;
}
cell* move(cell* p, cell* target, cell* part) { return actor_call(p).arg(target).ref(part).call("move"); }
cell* pick(cell* p, int32_t, cell* index) { return actor_call(p).arg(index).call("pick"); }
cell* poke(cell* p, int32_t, cell* index, cell* value) { return actor_call(p).arg(index).arg(value).call("poke"); }
cell* put(cell* p, cell* key, cell* value, bool case_) { return actor_call(p).arg(key).arg(value).flag(case_).call("put"); }
cell* remove(cell* p, cell* part, cell* key) { return actor_call(p).ref(part).ref(key).call("remove"); }
cell* reverse(cell* p, cell* part, cell* skip) { return actor_call(p).ref(part).ref(skip).call("reverse"); }
cell* sort(cell* p, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse, bool stable)
{
    return actor_call(p).flag(case_).ref(skip).ref(comparator).ref(part).flag(all).flag(reverse).flag(stable).call("sort");
}
cell* take(cell* p, cell* part, bool deep, bool last) { return actor_call(p).ref(part).flag(deep).flag(last).call("take"); }
cell* trim(cell* p, bool head, bool tail, bool auto_, bool lines, bool all, cell* with)
{
    return actor_call(p).flag(head).flag(tail).flag(auto_).flag(lines).flag(all).ref(with).call("trim");
}
cell* modify(cell* p, cell* field, cell* value, bool case_)
{
    return actor_call(p).arg(field).arg(value).flag(case_).call("modify");
}
cell* open(cell* p, bool new_, bool read, bool write, bool seek, cell* allow)
{
    return actor_call(p).flag(new_).flag(read).flag(write).flag(seek).ref(allow).call("open");
}

}  // namespace

// ---- actor calls --------------------------------------------------------------------------------

cell port::get_actor(const cell* port)
{
    cell actor = object::field_of(port, "actor");
    if (cell_type(&actor) != TYPE_OBJECT) fire(ERR_ACCESS, err::INVALID_PORT, port);
    return actor;
}

cell* port::call_actor(const cell* actor, const char* action, cell* args, uint32_t count, cell* out)
{
    cell* mark = stack::top();
    cell* name = stack::push(word::load(action));
    cell* function = stack::push_slot();
    *function = object::field_of(actor, action);
    if (cell_type(function) != TYPE_FUNCTION) fire(ERR_ACCESS, err::NO_PORT_ACTION, name);
    if (!function::call_hook) fire(ERR_INTERNAL, err::NOT_DONE);   // no evaluator to run it
    *out = function::call_hook(function, name, args, count, true);   // arguments and refinements in spec order
    stack_s.top = mark;
    return out;
}

// ---- read and write -----------------------------------------------------------------------------

cell* port::read(cell* source, cell* part, cell* seek, bool, bool, bool, cell*)
{
    // Three calls: open (only /seek passed on), copy with the read's part, close. The copied
    // value is the result.
    cell* port = stack::push(source);
    actor_call(port).flag(false).flag(false).flag(false).flag(seek != nullptr).ref(nullptr).call("open");
    cell* copied = stack::push(actor_call(port).ref(part).flag(false).ref(nullptr).call("copy"));
    actor_call(port).call("close");
    *source = *copied;
    return source;
}

cell* port::write(cell* target, cell* data, bool binary, bool lines, bool info, bool append, cell* part, cell* seek,
                  cell* allow, cell* as)
{
    return actor_call(target).arg(data).flag(binary).flag(lines).flag(info).flag(append).ref(part).ref(seek).ref(allow)
        .ref(as).call("write");
}

// ---- make and text ------------------------------------------------------------------------------

namespace {

// The spec object of a url: the library's decode-url splits it. A url that it cannot split (or no
// URL parser yet) is an invalid argument.
void spec_of_url(const cell* url, cell* out)
{
    cell name = *word::load("decode-url");
    cell parser = *context::get_in(&name, name.data1);
    if (cell_type(&parser) != TYPE_FUNCTION || !function::call_hook) fire(ERR_SCRIPT, err::INVALID_ARG, url);
    cell* held = stack::push(url);
    cell parts = function::call_hook(&parser, &name, held, 1, false);
    if (cell_type(&parts) != TYPE_OBJECT) fire(ERR_SCRIPT, err::INVALID_ARG, held);
    *out = parts;
}

// The scheme of a registry by its name: a flat block of name/scheme pairs (names at the odd
// positions) or an object of schemes by field. None when the registry has no such name.
cell scheme_named(const cell* schemes, const cell* name)
{
    if (cell_type(schemes) == TYPE_OBJECT) return *object::select_word(schemes, name);
    if (cell_type(schemes) != TYPE_BLOCK) return none_value;
    uint32_t wanted = symbol::resolve(name->data2);
    int32_t n = block::ks_length_q(schemes);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        const cell* key = block::rs_head(schemes) + i;
        if (any_word_q(cell_type(key)) && symbol::resolve(key->data2) == wanted) return key[1];
    }
    return none_value;
}

}  // namespace

cell* port::make(cell*, cell* spec, uint32_t)
{
    cell* held_spec = stack::push_slot();
    uint32_t st = cell_type(spec);
    bool fields = st == TYPE_BLOCK && block::ks_length_q(spec) > 0 && cell_type(block::rs_head(spec)) == TYPE_SET_WORD;
    cell parts = object::system_field({"standard", "url-parts"});
    if (st == TYPE_OBJECT) {
        object::clone(spec, held_spec, false, nullptr, false);
    } else if (st == TYPE_URL) {
        spec_of_url(spec, held_spec);
    } else if (fields && cell_type(&parts) == TYPE_OBJECT) {
        // [scheme: 'clipboard host: ...]: the fields as written, nothing evaluated.
        *held_spec = *object::make_from_spec(spec, &parts, true);
    } else if (st == TYPE_BLOCK && !fields && block::ks_length_q(spec) > 0) {
        // [http host 8080 a]: the url these parts make.
        cell* url = url::to(spec, spec, TYPE_URL);
        spec_of_url(url, held_spec);
    } else {
        if (cell_type(&parts) != TYPE_OBJECT) fire(ERR_ACCESS, err::NO_SCHEME, spec);
        object::clone(&parts, held_spec, false, nullptr, false);
    }
    // A scheme written as a lit-word names the scheme all the same.
    if (object::get_size(held_spec) > 0 && cell_type(object::get_values(held_spec)) == TYPE_LIT_WORD)
        object::get_values(held_spec)->header = (object::get_values(held_spec)->header & ~HEADER_TYPE_MASK) | TYPE_WORD;
    if (object::get_size(held_spec) == 0) fire(ERR_ACCESS, err::NO_SCHEME, held_spec);
    cell* scheme_word = stack::push(object::get_values(held_spec));
    if (cell_type(scheme_word) != TYPE_WORD) fire(ERR_ACCESS, err::NO_SCHEME, held_spec);

    // The scheme is looked up before the port is made: a scheme that is not registered (or no
    // registry at all yet) is reported as such, not as a missing port prototype.
    cell schemes = object::system_field({"schemes"});
    cell scheme = scheme_named(&schemes, scheme_word);
    if (cell_type(&scheme) != TYPE_OBJECT) fire(ERR_ACCESS, err::UNKNOWN_SCHEME, scheme_word);
    cell actor = object::field_of(&scheme, "actor");
    if (cell_type(&actor) != TYPE_OBJECT && cell_type(&actor) != TYPE_HANDLE) fire(ERR_ACCESS, err::INVALID_ACTOR, &scheme);
    cell* held_actor = stack::push(&actor);

    cell proto = object::system_field({"standard", "port"});
    if (cell_type(&proto) != TYPE_OBJECT) fire(ERR_ACCESS, err::INVALID_PORT, &proto);
    cell* result = stack::push_slot();
    object::clone(&proto, result, false, nullptr, false);
    result->header = (result->header & ~HEADER_TYPE_MASK) | TYPE_PORT;
    result->data2 = PORT_CLASS;
    set_field(result, "spec", *held_spec);
    set_field(result, "scheme", *scheme_word);
    set_field(result, "actor", *held_actor);
    return result;
}

int32_t port::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    return mold(value, buffer, false, false, false, arg, part, 0);
}

int32_t port::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    if (mold_cycle_check(value, buffer, &part, true)) return part;
    part = string::emit_literal(buffer, "make port! [", part);
    part = object::serialize(value, buffer, only, all, flat, arg, part, true, indent + 1, true);
    if (!flat && indent > 0) part = mold_indent(buffer, indent, part);
    return string::emit_literal(buffer, "]", part);
}

void port::init()
{
    datatype::register_type(TYPE_PORT, TYPE_OBJECT, "port!", {
        .make = make, .reflect = inherit, .form = form, .mold = mold, .eval_path = inherit, .compare = inherit,
        .append = append_like<APPEND>, .at = with_one<AT>, .back = unary<BACK>, .change = append_like<CHANGE>,
        .clear = unary<CLEAR>, .copy = copy, .find = find_like<FIND, true>, .head = unary<HEAD>,
        .head_q = unary<HEAD_Q>, .index_q = unary<INDEX_Q>, .insert = append_like<INSERT>, .length_q = length_q,
        .move = move, .next = unary<NEXT>, .pick = pick, .poke = poke, .put = put, .remove = remove,
        .reverse = reverse, .select = find_like<SELECT, false>, .sort = sort, .skip = with_one<SKIP>,
        .swap = with_one<SWAP>, .tail = unary<TAIL>, .tail_q = unary<TAIL_Q>, .take = take, .trim = trim,
        .create = unary<CREATE>, .close = unary<CLOSE>, .delete_ = unary<DELETE>, .modify = modify, .open = open,
        .query = unary<QUERY>, .read = read, .rename = with_one<RENAME>, .update = unary<UPDATE>, .write = write,
        .mark = inherit});
}
