// The entries behind the library's routine words. Each works on the current arguments window as a
// native does: the arguments from its base, the result written into the base cell. The interpreter
// has checked the argument types against the spec the library gives. No entry keeps a buffer
// address across an allocation.
#include "runtime/io/library_routines.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/boot_image.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/io/clipboard.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/os_info.h"
#include "runtime/io/simple_io.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

inline cell* base() { return stack_s.arguments; }

void logic_result(bool value) { logic::make_at(base(), value); }

// ---- type predicates ----------------------------------------------------------------------------
// An exact predicate compares the datatype id; a typeset predicate reads its typeset's global word
// at every call (rebinding the word changes what it accepts) and tests one bit. Neither allocates.

template <uint32_t TYPE>
void exact_q()
{
    logic_result(cell_type(base()) == TYPE);
}

// The global words of the typesets, in the order of typeset_names; root-block cells made while
// booting, so their addresses hold for the whole run.
const char* const typeset_names[] = {
    "any-list!", "any-block!", "any-function!", "any-object!", "any-path!", "any-string!", "any-word!",
    "series!", "number!", "immediate!", "scalar!", "all-word!", "any-point!", "planar!",
};
constexpr uint32_t TYPESETS = sizeof typeset_names / sizeof typeset_names[0];
const cell* typeset_words[TYPESETS];

template <uint32_t N>
void typeset_q()
{
    const cell* typeset = word::get(typeset_words[N]);
    // Mended: a word that holds no typeset! was read as one.
    if (cell_type(typeset) != TYPE_TYPESET) {
        cell given = datatype::value_of(cell_type(typeset));
        fire(ERR_SCRIPT, err::INVALID_TYPE, &given);
    }
    logic_result(typeset_has(typeset, cell_type(base())));
}

// ---- process, quiet setters, shifts -------------------------------------------------------------

void quit_return()
{
    int32_t status = integer_of(base());
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

// No handler runs, but the series of an object's fields still follow the fields: a value put back
// by a refusing on-change* must stay watched by on-deep-change*.
void set_quiet()
{
    cell* word = base();
    if (!word::any_word_q(cell_type(word)) || !word->data1) fire_expect_arg(0, cell_type(word));
    node_ref ctx = word->data1;
    cell* value = base() + 1;
    cell* old = stack::push(context::get_in(word, ctx));
    context::set_in(word, value, ctx, false);
    cell* owner = stack::push(context::owner_of(ctx));
    if (cell_type(owner) == TYPE_OBJECT && object::has_on_deep_change_q(owner)) {
        ownership_unbind(old);
        ownership_set(value, owner, word);
    }
    *base() = *value;
}

void set_slot_quiet()
{
    cell series = base()[0];
    uint32_t type = cell_type(&series);
    if (type != TYPE_BLOCK && type != TYPE_PAREN && type != TYPE_HASH) fire_expect_arg(0, type);
    cell value = base()[1];
    int32_t head = series_head_raw(&series);
    if (head >= 0 && uint32_t(head) < series::units(&series)) {
        hash::unindex(&series, head, 1);
        *block::ks_abs_at(&series, uint32_t(head)) = value;
        hash::index(&series, head, 1);
    }
    *base() = value;
}

enum shift_kind { SHIFT_RIGHT, SHIFT_LEFT, SHIFT_LOGICAL };

template <shift_kind KIND>
void shift()
{
    int32_t data = integer_of(base());
    int32_t bits = integer_of(base() + 1);
    if (bits < 0) bits = 0;
    int32_t r;
    if (KIND == SHIFT_LEFT) r = bits < 32 ? int32_t(uint32_t(data) << bits) : 0;
    else if (KIND == SHIFT_LOGICAL) r = bits < 32 ? int32_t(uint32_t(data) >> bits) : 0;
    else r = bits < 32 ? data >> bits : data < 0 ? -1 : 0;
    integer::make_at(base(), r);
}

// ---- output and the stacks ----------------------------------------------------------------------

void last_lf_q() { logic_result(natives_s.last_line != 0); }

void tracing_q() { logic_result(trace_s.active != 0); }

void set_tracing() { trace::switch_events(!cell_falsy(base())); }

void stack_size_q() { integer::make_at(base(), int32_t(stack_s.top - stack_s.start)); }

void frame_index_q() { integer::make_at(base(), int32_t(stack_s.arguments - stack_s.start)); }

// Mended: the cell is a copy, and a slot that holds no value gives none.
void pick_stack()
{
    int32_t index = integer_of(base());
    int32_t size = int32_t(stack_s.top - stack_s.start);
    cell picked = none_value;
    if (index > 0 && index < size) picked = stack_s.start[index - 1];
    *base() = cell_type(&picked) == TYPE_UNSET ? none_value : picked;
}

void collect_calls()
{
    stack::collect_calls(base());
}

// ---- tuples and UTF-8 ---------------------------------------------------------------------------

void first_negative(uint32_t n)
{
    for (uint32_t i = 0; i < n; i++)
        if (integer_of(base() + i) < 0) fire(ERR_SCRIPT, err::INVALID_ARG, base() + i);
}

void as_color()
{
    first_negative(3);
    uint8_t bytes[3];
    for (uint32_t i = 0; i < 3; i++) bytes[i] = uint8_t(integer_of(base() + i) % 256);
    tuple::make_at(base(), bytes, 3);
}

// The components are not reduced: the bits of one above its eighth run into the next byte.
void as_ipv4()
{
    first_negative(4);
    uint32_t a = uint32_t(integer_of(base())), b = uint32_t(integer_of(base() + 1));
    uint32_t c = uint32_t(integer_of(base() + 2)), d = uint32_t(integer_of(base() + 3));
    uint32_t word = d << 24 | c << 16 | b << 8 | a;
    uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
    tuple::make_at(base(), bytes, 4);
}

// Mended: two positions in different buffers are refused, and the walk never passes pos or the
// tail, even when a sequence's lead byte promises more bytes than are left.
void count_chars()
{
    cell start = base()[0], pos = base()[1];
    if (series_node(&start) != series_node(&pos)) fire(ERR_SCRIPT, err::INVALID_ARG, &pos);
    uint32_t from = series::head_clamped(&start), to = series::head_clamped(&pos);
    const uint8_t* bytes = at<uint8_t>(series_of(series_node(&start))->head);
    int32_t count = 0;
    for (uint32_t i = from; i < to; count++) {
        uint32_t step = utf8_lead_length(bytes[i]);
        i += step ? step : 1;
    }
    integer::make_at(base(), count);
}

// ---- the operating system, files, the clipboard, standard output --------------------------------

void os_info()
{
    cell* info = platform::get_os_info(stack::push_slot(), platform::os_version(), platform::native_arch_code());
    *base() = *info;
}

void get_current_dir() { *base() = *file::current_dir(); }

void build_stamp()
{
    string::load_at(reinterpret_cast<const uint8_t*>(kiv_build_stamp), uint32_t(std::strlen(kiv_build_stamp)), base(), 0);
}

void set_current_dir()
{
    if (!platform::set_current_dir(file::native_path(base()).c_str())) fire(ERR_ACCESS, err::CANNOT_OPEN, base());
    *base() = unset_value;
}

void create_dir()
{
    if (!simple_io::make_dir(base())) fire(ERR_ACCESS, err::NO_CREATE, base());
    *base() = unset_value;
}

void exists_q() { logic_result(simple_io::file_exists_q(base())); }

// The value is built above the window (a block of files pushes its items), then takes the
// result's place.
void read_clipboard()
{
    cell* out = clipboard::read(stack::push_slot());
    *base() = *out;
}

void write_clipboard() { logic_result(clipboard::write(base())); }

// A binary goes out as its bytes, any other value formed as UTF-8 text.
void write_stdout()
{
    std::string bytes;
    cell* data = base();
    if (cell_type(data) == TYPE_BINARY) {
        uint32_t from = series::head_clamped(data), n = series::length_clamped(data);
        const uint8_t* p = at<uint8_t>(series_of(series_node(data))->head) + from;
        bytes.assign(reinterpret_cast<const char*>(p), n);
    } else {
        cell* text = cell_type(data) == TYPE_STRING ? data : actions::form_value(data, actions::NO_LIMIT);
        bytes = string::utf8_copy(text);
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE && !bytes.empty())
        WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    *base() = unset_value;
}

// system/console/init: the title of the process's text console. Mended: when the title cannot
// be set, the line is written and the run goes on (it ended the process with status 0, as if
// all had gone well).
void console_init()
{
    std::string utf8 = string::utf8_copy(base());
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string title(size_t(bytes > 0 ? bytes : 1), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, title.data(), bytes, nullptr, nullptr);
    if (!SetConsoleTitleA(title.c_str())) print_cstring("SetConsoleTitle failed!\n");
    *base() = unset_value;
}

// system/options/float/pretty?: what forming a float reads.
void float_pretty()
{
    float_::pretty_q = cell_falsy(base()) ? 0 : 1;
    *base() = unset_value;
}

// ---- the kivbin codec ---------------------------------------------------------------------------

void kivbin_encode()
{
    std::vector<uint8_t> bytes = cell_falsy(base() + 1) ? kivbin::encode(base()) : kivbin::encode_cp(base());
    *base() = *binary::load(bytes.data(), uint32_t(bytes.size()));
}

// The bytes are copied first: decoding allocates, and the binary's buffer may move.
void kivbin_decode()
{
    cell* data = base();
    // A file or url is read whole as bytes first.
    if (cell_type(data) == TYPE_FILE || cell_type(data) == TYPE_URL) {
        cell* bytes = stack::push(data);
        *data = *actions_of(cell_type(bytes)).read(bytes, nullptr, nullptr, true, false, false, nullptr);
    }
    if (cell_type(data) != TYPE_BINARY || series::length_clamped(data) <= 10) fire(ERR_SCRIPT, err::INVALID_DATA, data);
    uint32_t from = series::head_clamped(data), n = series::length_clamped(data);
    const uint8_t* p = at<uint8_t>(series_of(series_node(data))->head) + from;
    std::vector<uint8_t> bytes(p, p + n);
    cell* out = block::make_at(stack::push_slot(), 4);
    uint32_t count = kivbin::decode(bytes.data(), bytes.size(), out, kivbin::MODE_CODEC);
    *base() = count == 1 ? *block::rs_head(out) : *out;
}

// ---- the image codecs --------------------------------------------------------------------------

// encode (img [image!] where [any-type!]): the file's bytes in the codec's format; where is not
// used, the caller writes the bytes.
template <int32_t FORMAT>
void image_encode()
{
    cell* out = stack::push_slot();
    *out = none_value;
    image::encode(base(), out, FORMAT);
    *base() = *out;
}

// decode (data [any-type!]): a binary is decoded (none for a signature no codec knows), a file
// name or text loaded as the file it names; anything else names no image.
void image_decode()
{
    cell* data = base();
    uint32_t t = cell_type(data);
    if (t != TYPE_BINARY && t != TYPE_FILE && t != TYPE_STRING) fire(ERR_SCRIPT, err::INVALID_ARG, data);
    cell* out = stack::push_slot();
    *out = none_value;
    image::decode(data, out);
    *base() = *out;
}

// ---- system/state/GC ----------------------------------------------------------------------------

// Whether collections run: the switch of recycle/on and recycle/off, not whether one runs now.
void gc_active_q() { logic_result(collector_s.enabled != 0); }
void gc_series_cycles() { integer::make_at(base(), int32_t(collector_s.cycles & 0x7FFFFFFF)); }
void gc_nodes_cycles() { integer::make_at(base(), int32_t(collector_s.node_cycles & 0x7FFFFFFF)); }

// ---- JSON string escapes ------------------------------------------------------------------------

// The value of four hexadecimal digits at r, or -1 when the tail comes first or one is not a digit.
int32_t hex4_at(const cell* str, uint32_t r, uint32_t end)
{
    if (end - r < 4) return -1;
    int32_t value = 0;
    for (uint32_t i = 0; i < 4; i++) {
        uint32_t c = string::ks_abs_at(str, r + i);
        int32_t digit = c >= '0' && c <= '9' ? int32_t(c - '0')
                        : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? int32_t((c | 0x20) - 'a' + 10) : -1;
        if (digit < 0) return -1;
        value = value << 4 | digit;
    }
    return value;
}

// Rewrites in place: the write index never passes the read index, so the characters still to read
// are never overwritten. Indices, not addresses, survive a write that widens the buffer. Reading
// stops at the tail whatever an escape promises. A surrogate that is not one half of a pair is
// refused: it would make text that no UTF-8 can carry.
void unescape()
{
    cell* str = base();
    node_ref node = series_node(str);
    uint32_t end = series::units(str);
    uint32_t r = series::head_clamped(str), w = r;
    static const char escaped[] = "\"\\/bfnrt", written[] = "\"\\/\b\f\n\r\t";
    while (r < end) {
        uint32_t c = string::ks_abs_at(str, r++);
        if (c == '\\') {
            if (r == end) fire(ERR_SCRIPT, err::INVALID_DATA, str);
            uint32_t e = string::ks_abs_at(str, r++);
            const char* hit = e < 128 && e ? std::strchr(escaped, int(e)) : nullptr;
            if (hit) {
                c = uint8_t(written[hit - escaped]);
            } else if (e == 'u') {
                int32_t unit = hex4_at(str, r, end);
                if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) fire(ERR_SCRIPT, err::INVALID_DATA, str);
                r += 4;
                c = uint32_t(unit);
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    bool escape = end - r >= 2 && string::ks_abs_at(str, r) == '\\' &&
                                  string::ks_abs_at(str, r + 1) == 'u';
                    int32_t low = escape ? hex4_at(str, r + 2, end) : -1;
                    if (low < 0xDC00 || low > 0xDFFF) fire(ERR_SCRIPT, err::INVALID_DATA, str);
                    r += 6;
                    c = 0x10000 + (uint32_t(unit - 0xD800) << 10) + uint32_t(low - 0xDC00);
                }
            } else {
                fire(ERR_SCRIPT, err::INVALID_DATA, str);
            }
        }
        string::poke_char_at(node, w++, c);
    }
    string::truncate_at(node, w);
}

// ---- the table ----------------------------------------------------------------------------------

const routine_row rows[] = {
    // exact type predicates
    {"bitset?", exact_q<TYPE_BITSET>}, {"binary?", exact_q<TYPE_BINARY>}, {"block?", exact_q<TYPE_BLOCK>},
    {"char?", exact_q<TYPE_CHAR>}, {"email?", exact_q<TYPE_EMAIL>}, {"file?", exact_q<TYPE_FILE>},
    {"float?", exact_q<TYPE_FLOAT>}, {"get-path?", exact_q<TYPE_GET_PATH>},
    {"get-word?", exact_q<TYPE_GET_WORD>}, {"hash?", exact_q<TYPE_HASH>}, {"integer?", exact_q<TYPE_INTEGER>},
    {"issue?", exact_q<TYPE_ISSUE>}, {"lit-path?", exact_q<TYPE_LIT_PATH>}, {"lit-word?", exact_q<TYPE_LIT_WORD>},
    {"logic?", exact_q<TYPE_LOGIC>}, {"map?", exact_q<TYPE_MAP>}, {"none?", exact_q<TYPE_NONE>},
    {"pair?", exact_q<TYPE_PAIR>}, {"paren?", exact_q<TYPE_PAREN>}, {"path?", exact_q<TYPE_PATH>},
    {"percent?", exact_q<TYPE_PERCENT>}, {"refinement?", exact_q<TYPE_REFINEMENT>},
    {"set-path?", exact_q<TYPE_SET_PATH>}, {"set-word?", exact_q<TYPE_SET_WORD>},
    {"string?", exact_q<TYPE_STRING>}, {"tag?", exact_q<TYPE_TAG>}, {"time?", exact_q<TYPE_TIME>},
    {"typeset?", exact_q<TYPE_TYPESET>}, {"tuple?", exact_q<TYPE_TUPLE>}, {"unset?", exact_q<TYPE_UNSET>},
    {"url?", exact_q<TYPE_URL>}, {"word?", exact_q<TYPE_WORD>}, {"image?", exact_q<TYPE_IMAGE>},
    {"date?", exact_q<TYPE_DATE>}, {"money?", exact_q<TYPE_MONEY>}, {"ref?", exact_q<TYPE_REF>},
    {"point2D?", exact_q<TYPE_POINT2D>}, {"point3D?", exact_q<TYPE_POINT3D>},
    {"handle?", exact_q<TYPE_HANDLE>}, {"error?", exact_q<TYPE_ERROR>}, {"action?", exact_q<TYPE_ACTION>},
    {"native?", exact_q<TYPE_NATIVE>}, {"datatype?", exact_q<TYPE_DATATYPE>},
    {"function?", exact_q<TYPE_FUNCTION>}, {"object?", exact_q<TYPE_OBJECT>}, {"op?", exact_q<TYPE_OP>},
    {"routine?", exact_q<TYPE_ROUTINE>}, {"vector?", exact_q<TYPE_VECTOR>},
    // typeset predicates, in the order of typeset_names
    {"any-list?", typeset_q<0>}, {"any-block?", typeset_q<1>}, {"any-function?", typeset_q<2>},
    {"any-object?", typeset_q<3>}, {"any-path?", typeset_q<4>}, {"any-string?", typeset_q<5>},
    {"any-word?", typeset_q<6>}, {"series?", typeset_q<7>}, {"number?", typeset_q<8>},
    {"immediate?", typeset_q<9>}, {"scalar?", typeset_q<10>}, {"all-word?", typeset_q<11>},
    {"any-point?", typeset_q<12>}, {"planar?", typeset_q<13>},
    // the low-level words
    {"quit-return", quit_return}, {"set-quiet", set_quiet}, {"set-slot-quiet", set_slot_quiet},
    {"shift-right", shift<SHIFT_RIGHT>}, {"shift-left", shift<SHIFT_LEFT>},
    {"shift-logical", shift<SHIFT_LOGICAL>}, {"last-lf?", last_lf_q}, {"tracing?", tracing_q},
    {"set-tracing", set_tracing},
    {"stack-size?", stack_size_q}, {"frame-index?", frame_index_q}, {"pick-stack", pick_stack},
    {"collect-calls", collect_calls}, {"as-color", as_color}, {"as-ipv4", as_ipv4},
    {"count-chars", count_chars}, {"os-info", os_info}, {"get-current-dir", get_current_dir},
    {"set-current-dir", set_current_dir}, {"create-dir", create_dir}, {"exists?", exists_q},
    {"read-clipboard", read_clipboard}, {"write-clipboard", write_clipboard}, {"write-stdout", write_stdout},
    {"float-pretty", float_pretty}, {"kivbin-encode", kivbin_encode}, {"kivbin-decode", kivbin_decode},
    {"build-stamp", build_stamp}, {"console-init", console_init},
    {"unescape", unescape},
    {"image-encode-bmp", image_encode<0>}, {"image-encode-png", image_encode<1>},
    {"image-encode-gif", image_encode<2>}, {"image-encode-jpeg", image_encode<3>},
    {"image-encode-tiff", image_encode<4>}, {"image-decode", image_decode},
    {"gc-active?", gc_active_q}, {"gc-series-cycles", gc_series_cycles}, {"gc-nodes-cycles", gc_nodes_cycles},
};

}  // namespace

void library_routines::init()
{
    for (uint32_t i = 0; i < TYPESETS; i++) typeset_words[i] = word::load(typeset_names[i]);
    routine::register_(rows, sizeof rows / sizeof rows[0]);
}
