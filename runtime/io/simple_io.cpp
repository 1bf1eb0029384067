// The file layer: reading, writing, listing, deleting, renaming and querying files through
// kernel32 with wide paths. Bytes are gathered in C++ buffers (which never move) and become values
// only at the end; a binary read goes straight into its series, whose address is fetched after its
// allocation. Mended: a size-0 file (pipe, device, procfs) is read once into a growing buffer,
// never rewound; a whole read too big for a series raises internal/no-memory before reading; a
// short write, a negative /seek or /part and text cut inside a UTF-8 sequence raise errors instead
// of passing silently.
#include "runtime/io/simple_io.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"
#include "runtime/io/byte_input.h"
#include "runtime/io/checksum.h"
#include "runtime/io/codec_io.h"
#include "runtime/unicode.h"

namespace {

constexpr uint32_t PIECE = 64 * 1024;          // reads of a file whose size is unknown
constexpr uint64_t SERIES_LIMIT = 0x7FFFFFF0u;   // the most bytes a series can hold, with its header
constexpr uint32_t WRITE_CHUNK = 1u << 30;      // WriteFile and ReadFile take 32-bit counts
constexpr uint32_t TEXT_PIECE = 256 * 1024;     // text is encoded and written in pieces this big

[[noreturn]] void cannot_open(const cell* file)
{
    cell copy = *file;
    fire(ERR_ACCESS, err::CANNOT_OPEN, &copy);
}

[[noreturn]] void too_big() { fire(ERR_INTERNAL, err::NO_MEMORY); }

// The code points of a text value from its head (clamped) to its tail, at most `limit` of them
// (negative: all). Nothing here allocates, so the buffer address holds for the walk.
template <class F>
void each_code_point(const cell* text, int64_t limit, F f)
{
    series_buffer* s = series_of(text->data2);
    uint32_t unit = text_unit(s);
    uint32_t units = series_used_bytes(s) / unit;
    uint32_t head = text->data1 < units ? text->data1 : units;
    const uint8_t* p = at(s->head) + head * unit;
    uint64_t n = units - head;
    if (limit >= 0 && uint64_t(limit) < n) n = uint64_t(limit);
    for (uint64_t i = 0; i < n; i++, p += unit) f(unit_read(p, unit));
}

// UTF-8 of a text value, LF written as CR LF when crlf, handed to `put` in pieces of about
// TEXT_PIECE bytes, so a long text never needs a second whole-size buffer. `put` must not allocate
// series (the text's buffer address is held for the walk).
template <class F>
void text_bytes(const cell* text, int64_t limit, bool crlf, F put)
{
    std::vector<uint8_t> piece(TEXT_PIECE + 8);
    size_t used = 0;
    each_code_point(text, limit, [&](uint32_t cp) {
        if (crlf && cp == 10) piece[used++] = 13;
        used += utf8_encode_char(cp, piece.data() + used);
        if (used >= TEXT_PIECE) {
            put(piece.data(), used);
            used = 0;
        }
    });
    if (used) put(piece.data(), used);
}

// The bytes of a binary! from its index, limited by part (negative: all). Valid until the next
// allocation.
const uint8_t* binary_span(const cell* value, int64_t part, uint64_t* count)
{
    series_buffer* s = series_of(value->data2);
    uint32_t used = series_used_bytes(s);
    uint32_t head = value->data1 < used ? value->data1 : used;
    uint64_t n = used - head;
    if (part >= 0 && uint64_t(part) < n) n = uint64_t(part);
    *count = n;
    return at(s->head) + head;
}

// The bytes a value writes: text kinds as UTF-8 (CR LF unless binary), a binary its bytes from its
// index, anything else formed and then encoded as text. Both limited by part (negative: all).
void value_bytes(const cell* value, int64_t part, bool binary, std::vector<uint8_t>& out)
{
    auto append = [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); };
    uint32_t type = cell_type(value);
    if (any_string_q(type)) return text_bytes(value, part, !binary, append);
    if (type == TYPE_BINARY) {
        uint64_t n = 0;
        const uint8_t* p = binary_span(value, part, &n);
        append(p, n);
        return;
    }
    stack::scope scope;
    cell* formed = string::make_at(stack::push_slot(), 64);
    cell copy = *value;
    cell* held = scope.push(copy);
    form_value(held, formed, nullptr, FORM_WHOLE);
    text_bytes(formed, part, !binary, append);
}

cell make_file_cell(const std::wstring& name)
{
    node_ref node = utf16_load_string(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), nullptr,
                                      false);
    return cell{TYPE_FILE, 0, node, 0};
}

// Every entry of a folder (or the drives for "/"), gathered before any value is made.
std::vector<std::wstring> list_dir(const cell* file)
{
    std::vector<std::wstring> names;
    std::wstring text = simple_io::wide_text(file);
    if (text == L"/") {
        wchar_t drives[512];
        DWORD n = GetLogicalDriveStringsW(511, drives);
        if (n == 0 || n > 511) cannot_open(file);
        for (const wchar_t* d = drives; *d; d += wcslen(d) + 1)
            if (d[0]) names.push_back(std::wstring(1, d[0]) + L"/");
        return names;
    }
    std::wstring pattern = file::native_path(file);
    if (!pattern.empty() && pattern.back() == L'.') pattern += L'\\';
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) cannot_open(file);
    struct closer {
        HANDLE h;
        ~closer() { FindClose(h); }
    } close_find{find};
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) name += L'/';
        names.push_back(std::move(name));
    } while (FindNextFileW(find, &found));
    return names;
}

cell* read_dir(cell* file)
{
    std::vector<std::wstring> names = list_dir(file);
    stack::scope scope;
    cell* blk = block::make_at(stack::push_slot(), uint32_t(names.size()));
    for (const std::wstring& name : names) {
        cell entry = make_file_cell(name);
        block::rs_append(blk, &entry);   // room was made for every name: no growth, no collection
    }
    *file = *blk;
    return file;
}

// Reads up to `count` bytes into out (which must not move meanwhile); returns the bytes read, fewer
// when the file ends first. A failed read raises access/cannot-open.
uint64_t read_into(HANDLE h, uint8_t* out, uint64_t count, const cell* file)
{
    uint64_t done = 0;
    while (done < count) {
        DWORD want = DWORD(count - done < WRITE_CHUNK ? count - done : WRITE_CHUNK), got = 0;
        if (!ReadFile(h, out + done, want, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) break;
            cannot_open(file);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

// A file that reports size 0 (a pipe, a device, a procfs entry): read to its end once, growing.
std::vector<uint8_t> read_unsized(HANDLE h, const cell* file)
{
    std::vector<uint8_t> data;
    for (;;) {
        size_t used = data.size();
        if (used + PIECE > SERIES_LIMIT) too_big();
        data.resize(used + PIECE);
        uint64_t got = read_into(h, data.data() + used, PIECE, file);
        data.resize(used + got);
        if (got < PIECE) return data;
    }
}

cell* make_result(cell* file, uint8_t* bytes, uint64_t count, bool binary, bool lines)
{
    cell source = *file;
    if (binary) return binary_of_bytes(file, bytes, uint32_t(count));
    if (lines) return simple_io::lines_to_block(file, bytes, uint32_t(count), &source);
    return simple_io::text_to_string(file, bytes, uint32_t(count), &source);
}

void write_all(HANDLE h, const uint8_t* bytes, uint64_t count, const cell* file)
{
    uint64_t done = 0;
    while (done < count) {
        DWORD want = DWORD(count - done < WRITE_CHUNK ? count - done : WRITE_CHUNK), put = 0;
        if (!WriteFile(h, bytes + done, want, &put, nullptr) || put != want) cannot_open(file);
        done += put;
    }
}

bool is_integer_valued(const cell* c, int64_t* out)
{
    if (cell_type(c) == TYPE_INTEGER) {
        *out = integer_of(c);
        return true;
    }
    if (cell_type(c) == TYPE_FLOAT) {
        double d = cell_float(c);
        if (!(d > -9.2e18 && d < 9.2e18)) return false;
        *out = int64_t(d);
        return true;
    }
    return false;
}

// ---- the file! action slots and natives --------------------------------------------------------

cell* file_read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool, cell* as)
{
    int64_t p = simple_io::refinement_count(part, rt_refinement_word(REF_PART));
    int64_t s = simple_io::refinement_count(seek, rt_refinement_word(REF_SEEK));
    if (arg_given(as)) {
        // A codec's name: its decode takes the bytes read.
        stack::scope scope;
        cell* codec = scope.push(none_value);
        if (codec_io::find(as, codec)) {
            cell* bytes = scope.push(*source);
            simple_io::read(bytes, p, s, true, false);
            return codec_io::decode(codec, bytes, source);
        }
    }
    return simple_io::read(source, p, s, binary, lines);
}

// Protection of a written file: an access block of the words read, write and execute (anything
// else is refused before the file is touched). A file whose block lacks write becomes read-only.
bool access_writable(const cell* access)
{
    // The words' symbols first: making a symbol may allocate and move the block's buffer.
    const uint32_t known[] = {symbol::resolve(symbol::make("read")), symbol::resolve(symbol::make("write")),
                              symbol::resolve(symbol::make("execute"))};
    bool writable = false;
    int32_t n = block::ks_length_q(access);
    for (int32_t i = 0; i < n; i++) {
        const cell* w = block::rs_head(access) + i;
        int32_t found = -1;
        for (int32_t k = 0; k < 3 && cell_type(w) == TYPE_WORD; k++)
            if (symbol::resolve(w->data2) == known[k]) found = k;
        if (found < 0) fire(ERR_SCRIPT, err::INVALID_ARG, access);
        writable = writable || found == 1;
    }
    return writable;
}

void apply_access(const cell* file, bool writable)
{
    std::wstring path = file::native_path(file);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) cannot_open(file);
    DWORD wanted = writable ? attributes & ~DWORD(FILE_ATTRIBUTE_READONLY) : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted != attributes && !SetFileAttributesW(path.c_str(), wanted)) cannot_open(file);
}

cell* file_write(cell* target, cell* data, bool binary, bool lines, bool, bool append, cell* part, cell* seek,
                 cell* allow, cell* as)
{
    stack::scope scope;
    int64_t s = -1;
    if (arg_given(seek)) {
        // A position is a whole number: a float or anything else names the refinement.
        if (cell_type(seek) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SEEK), seek);
        s = simple_io::refinement_count(seek, rt_refinement_word(REF_SEEK));
    }
    int64_t p = simple_io::refinement_count(part, rt_refinement_word(REF_PART));
    bool writable = arg_given(allow) && access_writable(allow);
    if (arg_given(as)) {
        // A codec's name: what its encode gives is written as it stands.
        cell* codec = scope.push(none_value);
        if (codec_io::find(as, codec)) {
            codec_io::encode(codec, data, target, data);
            binary = true;
            lines = false;
        }
    }
    simple_io::write(target, data, p, s, binary, append, lines);
    if (arg_given(allow)) apply_access(target, writable);
    *target = unset_value;
    return target;
}

cell* file_delete(cell* file)
{
    bool done = simple_io::delete_(file);
    *file = cell{TYPE_LOGIC, done ? 1u : 0u, 0, 0};
    return file;
}

cell* file_rename(cell* from, cell* to)
{
    bool done = simple_io::rename(from, to);
    *from = cell{TYPE_LOGIC, done ? 1u : 0u, 0, 0};
    return from;
}

void size_q_star(bool, const int32_t*) { simple_io::size_q(stack::arguments()); }

node_ref read_whole(const cell* file)
{
    stack::scope scope;
    cell* slot = scope.push(*file);
    simple_io::read(slot, -1, -1, true, false);
    return slot->data2;
}

}  // namespace

std::wstring simple_io::wide_text(const cell* text)
{
    std::wstring out;
    each_code_point(text, -1, [&](uint32_t cp) { utf16_append(out, cp); });
    return out;
}

simple_io::file_handle::~file_handle()
{
    if (valid()) CloseHandle(handle);
}

bool simple_io::dir_path_q(const cell* file)
{
    std::wstring name = simple_io::wide_text(file);
    size_t n = name.size();
    auto sep = [](wchar_t c) { return c == L'/' || c == L'\\'; };
    if (n == 0) return false;
    if (sep(name[n - 1])) return true;
    if (name == L"." || name == L"..") return true;
    if (n >= 2 && name[n - 1] == L'.' && sep(name[n - 2])) return true;
    return n >= 3 && name[n - 1] == L'.' && name[n - 2] == L'.' && sep(name[n - 3]);
}

void* simple_io::open_file(const wchar_t* name, uint32_t mode)
{
    DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
    if (!(mode & OPEN_READ)) {
        access = GENERIC_WRITE;
        disposition = mode & (OPEN_APPEND | OPEN_SEEK) ? OPEN_ALWAYS : CREATE_ALWAYS;
    }
    return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

int64_t simple_io::refinement_count(const cell* value, const cell* refinement)
{
    if (!arg_given(value)) return -1;
    int64_t n;
    if (!is_integer_valued(value, &n) || n < 0) {
        cell copy = *value;
        fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, refinement, &copy);
    }
    return n;
}

cell* simple_io::read(cell* file, int64_t part, int64_t seek, bool binary, bool lines)
{
    if (dir_path_q(file)) return read_dir(file);
    file_handle h(open_file(file::native_path(file).c_str(), OPEN_READ));
    if (!h.valid()) cannot_open(file);
    LARGE_INTEGER reported;
    if (!GetFileSizeEx(h.handle, &reported)) cannot_open(file);
    uint64_t size = uint64_t(reported.QuadPart);
    uint64_t from = seek > 0 ? uint64_t(seek) : 0;
    if (size == 0) {
        std::vector<uint8_t> data = read_unsized(h.handle, file);
        uint64_t start = from < data.size() ? from : data.size();
        uint64_t count = data.size() - start;
        if (part >= 0 && uint64_t(part) < count) count = uint64_t(part);
        return make_result(file, data.data() + start, count, binary, lines);
    }
    uint64_t count = from < size ? size - from : 0;
    if (part >= 0 && uint64_t(part) < count) count = uint64_t(part);
    if (count >= SERIES_LIMIT) too_big();   // before reading: never a silently truncated result
    if (count && from) {
        LARGE_INTEGER to;
        to.QuadPart = LONGLONG(from);
        if (!SetFilePointerEx(h.handle, to, nullptr, FILE_BEGIN)) cannot_open(file);
    }
    if (binary) {
        node_ref node = bytes_alloc(uint32_t(count));
        // The address is taken after the allocation; reading allocates nothing.
        uint64_t got = read_into(h.handle, at(series_of(node)->head), count, file);
        return binary_result(file, node, uint32_t(got));
    }
    // Not zero-filled first: ReadFile writes every byte that counts.
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[count ? count : 1]);
    if (!data) too_big();
    uint64_t got = read_into(h.handle, data.get(), count, file);
    return make_result(file, data.get(), got, false, lines);
}

cell* simple_io::text_to_string(cell* slot, uint8_t* text, uint32_t length, const cell* source)
{
    if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) text += 3, length -= 3;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < length; i++) {
        if (text[i] == 13 && i + 1 < length && text[i + 1] == 10) continue;
        text[kept++] = text[i];
    }
    uint32_t remaining = 0;
    cell name = *source;
    node_ref node = utf8_load_string(text, kept, 0, &remaining, false);
    if (remaining) fire(ERR_ACCESS, err::INVALID_UTF8, &name);
    *slot = cell{TYPE_STRING, 0, node, 0};
    return slot;
}

cell* simple_io::lines_to_block(cell* slot, const uint8_t* text, uint32_t length, const cell* source)
{
    if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) text += 3, length -= 3;
    uint32_t count = 0;
    for (uint32_t i = 0; i < length; i++) count += text[i] == 10;
    if (length && text[length - 1] != 10) count++;
    stack::scope scope;
    cell name = *source;
    cell* held_name = scope.push(name);
    cell* blk = block::make_at(stack::push_slot(), count);
    uint32_t start = 0;
    while (start < length) {
        uint32_t end = start;
        while (end < length && text[end] != 10) end++;
        uint32_t stop = end;
        if (end < length && stop > start && text[stop - 1] == 13) stop--;
        uint32_t remaining = 0;
        node_ref node = utf8_load_string(text + start, stop - start, 0, &remaining, false);
        if (remaining) fire(ERR_ACCESS, err::INVALID_UTF8, held_name);
        cell line{TYPE_STRING, 0, node, 0};
        block::rs_append(blk, &line);   // room for every line was made: no growth before the append
        start = end + 1;
    }
    *slot = *blk;
    return slot;
}

void simple_io::write(const cell* file, const cell* data, int64_t part, int64_t seek, bool binary, bool append,
                      bool lines)
{
    // A text or a binary goes from its own buffer to the file (a whole-size copy first would cost
    // as much as the write); lines and formed values are gathered first, since forming allocates.
    uint32_t type = cell_type(data);
    bool direct = !(lines && any_block_q(type)) && (any_string_q(type) || type == TYPE_BINARY);
    std::vector<uint8_t> bytes;
    if (lines && any_block_q(type)) {
        cell blk = *data;
        for (uint32_t i = 0; i < block::rs_length(&blk); i++) {
            cell item = block::rs_head(&blk)[i];
            value_bytes(&item, -1, binary, bytes);
            bytes.push_back(13);
            bytes.push_back(10);
        }
    } else if (!direct) {
        value_bytes(data, part, binary, bytes);
    }
    uint32_t mode = OPEN_WRITE | (append ? uint32_t(OPEN_APPEND) : 0u) | (seek >= 0 ? uint32_t(OPEN_SEEK) : 0u);
    file_handle h(open_file(file::native_path(file).c_str(), mode));
    if (!h.valid()) cannot_open(file);
    if (seek >= 0 || append) {
        LARGE_INTEGER to;
        to.QuadPart = append ? 0 : LONGLONG(seek);
        if (!SetFilePointerEx(h.handle, to, nullptr, append ? FILE_END : FILE_BEGIN)) cannot_open(file);
    }
    // From here nothing allocates series: buffer addresses hold until the writes are done.
    if (!direct) {
        write_all(h.handle, bytes.data(), bytes.size(), file);
    } else if (type == TYPE_BINARY) {
        uint64_t n = 0;
        const uint8_t* p = binary_span(data, part, &n);
        write_all(h.handle, p, n, file);
    } else {
        text_bytes(data, part, !binary, [&](const uint8_t* p, size_t n) { write_all(h.handle, p, n, file); });
    }
}

bool simple_io::delete_(const cell* file)
{
    std::wstring path = file::native_path(file);
    return dir_path_q(file) ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
}

cell* simple_io::query(cell* file)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    std::wstring path = file::native_path(file);
    bool folder_name = !path.empty() && path.back() == L'\\';
    SYSTEMTIME t;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info) ||
        (folder_name && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ||
        !FileTimeToSystemTime(&info.ftLastWriteTime, &t)) {
        *file = none_value;
        return file;
    }
    // A UTC date! with a time: zone 0.
    return date::set_with_time(file, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                               int32_t(t.wMilliseconds) * 1000000);
}

bool simple_io::rename(const cell* from, const cell* to)
{
    return MoveFileW(file::native_path(from).c_str(), file::native_path(to).c_str()) != 0;
}

bool simple_io::make_dir(const cell* file) { return CreateDirectoryW(file::native_path(file).c_str(), nullptr) != 0; }

bool simple_io::file_exists_q(const cell* file)
{
    return GetFileAttributesW(file::native_path(file).c_str()) != INVALID_FILE_ATTRIBUTES;
}

cell* simple_io::size_q(cell* file)
{
    if (dir_path_q(file)) {
        *file = none_value;
        return file;
    }
    file_handle h(open_file(file::native_path(file).c_str(), OPEN_READ));
    LARGE_INTEGER size;
    if (!h.valid() || !GetFileSizeEx(h.handle, &size)) {
        *file = none_value;
        return file;
    }
    if (size.QuadPart > 0x7FFFFFFF) {
        cell type = datatype::value_of(TYPE_INTEGER);
        fire(ERR_SCRIPT, err::TYPE_LIMIT, &type);
    }
    *file = cell{TYPE_INTEGER, 0, uint32_t(size.QuadPart), 0};
    return file;
}

void simple_io::init()
{
    // The file layer sits above the datatypes: it fills file!'s I/O slots once they are
    // registered, rather than the datatype reaching up into it.
    action_table_row& row = datatype_s.rows[TYPE_FILE];
    row.read = file_read;
    row.write = file_write;
    row.delete_ = file_delete;
    row.query = simple_io::query;
    row.rename = file_rename;
    natives_s.table[natives::N_SIZE_Q - 1] = size_q_star;
    checksum::file_reader = read_whole;
}
