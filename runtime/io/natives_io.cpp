// The natives whose work lies in this layer: the front ends of checksum, compress, decompress and
// transcode, and the lexer's callback calls. The natives table sits below (interpreter), so this
// layer puts its routines into their slots when it starts, replacing the not-done stand-ins.
#include "runtime/io/natives_io.h"

#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/parse.h"
#include "runtime/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"
#include "runtime/io/lexer.h"

namespace {

inline cell* base() { return stack_s.arguments; }
inline cell* ref_arg(const int32_t* refs, int i) { return refs[i] >= 0 ? base() + refs[i] : nullptr; }

// base[0] is the call's result slot on the argument stack: it never moves.
void checksum_star(bool, const int32_t* refs) { checksum::native(base(), base() + 1, ref_arg(refs, 0)); }
void compress_star(bool, const int32_t*) { compress::native(base(), base() + 1); }
void decompress_star(bool, const int32_t* refs) { decompress::native(base(), base() + 1, ref_arg(refs, 0)); }

bool starts_with_byte_order_mark(const cell* src, uint32_t head)
{
    if (cell_type(src) == TYPE_BINARY) {
        if (series::length_clamped(src) < 3) return false;
        const uint8_t* p = at<uint8_t>(series_of(series_node(src))->head) + head;
        return p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
    }
    return series::length_clamped(src) > 0 && string_internal::cp_at(src, head) == 0xFEFF;
}

// transcode src /next /one /prescan /scan /part length /into dst /trace callback.
enum transcode_refinement { T_NEXT, T_ONE, T_PRESCAN, T_SCAN, T_PART, T_INTO, T_TRACE };

void transcode_star(bool, const int32_t* refs)
{
    cell* src = base();
    bool next = refs[T_NEXT] >= 0, one = refs[T_ONE] >= 0, scan = refs[T_SCAN] >= 0;
    bool typed = refs[T_PRESCAN] >= 0 || scan;
    int32_t head = int32_t(series::head_clamped(src));
    // A leading byte-order mark is not text: the source moves past it (EF BB BF of a binary, the
    // one character U+FEFF of a string) before the limit and the rest are counted.
    if (starts_with_byte_order_mark(src, uint32_t(head))) {
        head += cell_type(src) == TYPE_BINARY ? 3 : 1;
        src->data1 = uint32_t(head);
    }
    int32_t length = -1;
    if (cell* part = ref_arg(refs, T_PART)) {
        // A count of characters, or a position in a series of the source's datatype.
        int64_t n;
        if (cell_type(part) == TYPE_INTEGER) n = int32_t(part->data2);
        else if (cell_type(part) == cell_type(src)) n = int64_t(series::head_clamped(part)) - head;
        else fire(ERR_SCRIPT, err::NOT_SAME_TYPE);
        length = n < 0 ? 0 : n > INT32_MAX ? INT32_MAX : int32_t(n);
    }
    lexer::scan_request how;
    how.one = next || one || scan;
    how.prescan = refs[T_PRESCAN] >= 0;
    how.load = !scan;
    how.callback = ref_arg(refs, T_TRACE);
    how.input = src;
    how.into = ref_arg(refs, T_INTO);
    cell* out = stack::push_slot();
    uint32_t consumed = 0;
    uint32_t type;
    if (cell_type(src) == TYPE_BINARY) {
        // The bytes are UTF-8 as they stand; scanning allocates, so it reads a copy, and the rest
        // is counted in bytes.
        uint32_t n = series::length_clamped(src);
        if (length >= 0 && uint32_t(length) < n) n = uint32_t(length);
        std::vector<uint8_t> bytes(at<uint8_t>(series_of(series_node(src))->head) + head,
                                   at<uint8_t>(series_of(series_node(src))->head) + head + n);
        type = lexer::scan(out, bytes.data(), n, how, &consumed);
    } else {
        type = lexer::scan_from_string(out, src, length, how, &consumed);
    }
    cell* result = out;
    cell type_value = type ? cell{TYPE_DATATYPE, type, 0, 0} : none_value;
    if (typed) result = stack::push(&type_value);
    if (next && (!one || scan)) {
        // The value and the rest of the input.
        cell* pair = block::make_at(stack::push_slot(), 2);
        block::rs_append(pair, result);
        cell rest = *src;
        rest.data1 = uint32_t(head) + consumed;
        block::rs_append(pair, &rest);
        result = pair;
    }
    *base() = how.into && !next ? *how.into : *result;
}

// The lexer's callbacks run as any other callback: the five event values passed as they are.
bool lexer_callback(const cell* callback, cell* args)
{
    if (cell_type(callback) != TYPE_FUNCTION) fire(ERR_INTERNAL, err::NOT_DONE, word::load("routine!"));
    cell answer = interpreter::call_value(callback, rt_word_cell(W_LEXER_CALLBACK_TAG), args, 5);
    return !cell_falsy(&answer);
}

const cell* lexer_callback_body(const cell* callback)
{
    if (cell_type(callback) != TYPE_FUNCTION) return nullptr;
    return at<cell>(series_of(callback->data3)->head) + function::MORE_BODY;
}

}  // namespace

void io_natives::init()
{
    natives::install(natives::N_CHECKSUM, checksum_star);
    natives::install(natives::N_COMPRESS, compress_star);
    natives::install(natives::N_DECOMPRESS, decompress_star);
    natives::install(natives::N_TRANSCODE, transcode_star);
    lexer::callback_call_hook = lexer_callback;
    lexer::callback_body_hook = lexer_callback_body;
    parse::scan_one_hook = [](const uint8_t* bytes, uint32_t length, uint32_t* consumed) -> uint32_t {
        lexer::scan_request how;
        how.one = true;
        how.load = false;
        cell out;
        uint32_t type = lexer::scan(&out, bytes, length, how, consumed);
        return type == TYPE_ERROR ? 0 : type;
    };
}
