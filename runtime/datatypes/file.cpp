// file!: the "%" mold and the native Windows form of a file name. Names are read as code points by
// index, each index checked against the name's length (an empty name has no first character).
#include "runtime/datatypes/file.h"

#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/datatypes/url.h"
#include "runtime/stack.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/unicode.h"

cell* file::push(const cell* value) { return stack::push(value); }

cell* file::current_dir()
{
    uint32_t length = 0;
    wchar_t* dir = os_get_current_dir(&length);
    cell* out = stack::push_slot();
    out->header = TYPE_UNSET;
    node_ref node = utf16_load_string(reinterpret_cast<const uint8_t*>(dir), length, nullptr, false);
    rt_free(dir);
    *out = cell{TYPE_STRING, 0, node, 0};
    uint32_t units = series::units(out);
    if (units == 0 || string_internal::cp_at(out, units - 1) != '\\') string::append_char(node, '\\');
    return out;
}

namespace {

// The code points of a name's native form (see file.h); nothing here allocates a series.
std::vector<uint32_t> native_form(const std::vector<uint32_t>& name)
{
    std::vector<uint32_t> out;
    size_t i = 0, n = name.size();
    if (n > 0 && name[0] == '/') {
        i = 1;
        uint32_t c = '/';
        if (i < n) c = name[i++];
        if (c != '/') {
            uint32_t d = i < n ? name[i] : '/';
            if (d == '/') {
                out.push_back(c);
                out.push_back(':');
                if (i < n) i++;
            } else {
                i--;   // a leading name longer than one letter: a network path
                out.push_back('\\');
            }
        }
        out.push_back('\\');
    }
    for (; i < n; i++) out.push_back(name[i] == '/' ? '\\' : name[i]);
    return out;
}

}  // namespace

std::wstring file::native_path(const cell* value)
{
    std::wstring out;
    for (uint32_t cp : native_form(string_internal::code_points(value))) utf16_append(out, cp);
    return out;
}

void file::to_os_form(const cell* value, cell* out, bool full)
{
    std::vector<uint32_t> name = string_internal::code_points(value);
    if (full && (name.empty() || name[0] != '/')) {
        stack::scope held;
        cell* dir = current_dir();
        string::append_string(out, dir, -1, 0, true, string::CONCAT_APPEND);
    }
    for (uint32_t cp : native_form(name)) string::append_char(out->data2, cp);
}

wchar_t* file::to_os_path(const cell* value)
{
    stack::scope held;
    cell name = *value;
    cell* native = string::make_at(stack::push_slot(), std::max(series::length_clamped(&name), 1u),
                                   string_internal::unit_of(&name));
    to_os_form(&name, native, false);
    return string_to_utf16(native);
}

int32_t file::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    uint32_t count = series::length_clamped(value);
    if (arg_given(arg)) count = part < 0 ? 0 : std::min<uint32_t>(count, uint32_t(part));
    std::vector<uint32_t> name = string_internal::code_points(value, count);
    part = string::emit_literal(buffer, "%", part);
    if (name.empty()) return string::emit_literal(buffer, "\"\"", part);
    // Besides what a url encodes, the lexer ends an unquoted name at a parenthesis, ":" or "@".
    bool quoted = false;
    for (uint32_t cp : name) {
        bool ends_name = cp == '(' || cp == ')' || cp == ':' || cp == '@';
        quoted |= cp < 127 && (!url::plain_q(uint8_t(cp), url::PERCENT_PATH) || ends_name);
    }
    if (quoted) part = string::emit_literal(buffer, "\"", part);
    for (uint32_t cp : name) {
        // A quoted name ends at a double quote, a line feed or a NUL, and is read with "^" escapes
        // and then "%" escapes decoded: these characters are written percent-encoded.
        bool encoded = quoted && (cp == '"' || cp == '^' || cp == '%' || cp == '\n' || cp == 0);
        if (encoded) {
            const char* hex = string::byte_to_hex(uint8_t(cp));
            const char escape[4] = {'%', hex[0], hex[1], 0};
            part = string::emit_literal(buffer, escape, part);
        } else {
            string::append_char(buffer->data2, cp);
            part--;
        }
    }
    if (quoted) part = string::emit_literal(buffer, "\"", part);
    return part;
}

void file::init()
{
    action_row row = inherited_row();
    row.mold = mold;
    row.open = nullptr;   // url!'s open makes a port; a file is opened by the file services
    datatype::register_type(TYPE_FILE, TYPE_URL, "file!", row);
}
