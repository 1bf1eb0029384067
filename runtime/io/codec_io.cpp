// The codecs of system/codecs reached by name from the file and url actions. The registry is a
// flat block of name/codec pairs; the codec's functions (or routines) run through the evaluator's
// one entry for calls from C++.
#include "runtime/io/codec_io.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/stack.h"

namespace {

bool named_q(const cell* word, const char* name) { return symbol::resolve(word->data2) == symbol::resolve(symbol::make(name)); }

cell* call(const cell* codec, const char* field, const cell* args, uint32_t count, cell* out)
{
    stack::scope scope;
    cell* fn = scope.push(object::field_of(codec, field));
    cell* name = scope.push(*word::load(field));
    uint32_t t = cell_type(fn);
    if (t != TYPE_FUNCTION && t != TYPE_ROUTINE) fire(ERR_ACCESS, err::NO_CODEC, codec);
    *out = interpreter::call_value(fn, name, args, count);
    return out;
}

}  // namespace

bool codec_io::find(const cell* name, cell* out)
{
    cell codecs = object::system_field({"codecs"});
    if (cell_type(&codecs) == TYPE_BLOCK) {
        uint32_t wanted = symbol::resolve(name->data2);
        int32_t n = block::ks_length_q(&codecs);
        for (int32_t i = 0; i + 1 < n; i += 2) {
            const cell* key = block::rs_head(&codecs) + i;
            if (any_word_q(cell_type(key)) && symbol::resolve(key->data2) == wanted && cell_type(key + 1) == TYPE_OBJECT) {
                *out = key[1];
                return true;
            }
        }
    }
    if (named_q(name, "utf-8") || named_q(name, "utf8")) return false;
    cell shown = *name;
    fire(ERR_ACCESS, err::NO_CODEC, &shown);
}

cell* codec_io::decode(const cell* codec, const cell* data, cell* out)
{
    stack::scope scope;
    cell* held = scope.push(*codec);
    cell* args = scope.push(*data);
    return call(held, "decode", args, 1, out);
}

cell* codec_io::encode(const cell* codec, const cell* value, const cell* where, cell* out)
{
    stack::scope scope;
    cell* held = scope.push(*codec);
    cell* args = scope.push(*value);
    scope.push(*where);
    return call(held, "encode", args, 2, out);
}
