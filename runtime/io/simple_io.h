// The file layer behind file!'s read, write, delete, query and rename, `size?` and the checksum of a
// file: Windows file handles over wide paths. Must not break: every handle is closed on every path
// (file_handle), sizes are 64-bit until checked against what a series can hold, and a series'
// address is taken only after the last allocation before the OS call that fills it.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace simple_io {

// Open modes (bit flags): read alone opens an existing file; otherwise write, keeping the file's
// content when append or seek is set, else truncating it.
enum open_mode : uint32_t { OPEN_READ = 1, OPEN_WRITE = 2, OPEN_APPEND = 4, OPEN_SEEK = 8 };

// A Windows handle closed when the owner leaves scope, an unwinding error included.
struct file_handle {
    void* handle;
    explicit file_handle(void* h = reinterpret_cast<void*>(intptr_t(-1))) : handle(h) {}
    ~file_handle();
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;
    bool valid() const { return handle != reinterpret_cast<void*>(intptr_t(-1)) && handle != nullptr; }
};

// The plain text of a text value from its head, as UTF-16.
std::wstring wide_text(const cell* text);
// Whether a name names a folder: it ends with "/" or "\", or is "." or "..", or ends with "/.",
// "/..", "\." or "\..".
bool dir_path_q(const cell* file);
// A handle, or -1 (an invalid handle) when the file cannot be opened.
void* open_file(const wchar_t* name, uint32_t mode);

// A refinement's number: -1 when the refinement is absent (null, or at or below the arguments base);
// a negative or fractional-out-of-range value raises script/invalid-refine-arg naming `refinement`.
int64_t refinement_count(const cell* value, const cell* refinement);

// The routines of the file! action slots. read and query write their result into `file` (the call's
// result cell, which does not move) and return it.
cell* read(cell* file, int64_t part, int64_t seek, bool binary, bool lines);
void write(const cell* file, const cell* data, int64_t part, int64_t seek, bool binary, bool append, bool lines);
bool delete_(const cell* file);
cell* query(cell* file);
bool rename(const cell* from, const cell* to);
bool make_dir(const cell* file);
bool file_exists_q(const cell* file);
// size? of a file: none for a folder name, a file that cannot be opened or a failed size query; a
// size that integer! cannot hold raises script/type-limit.
cell* size_q(cell* file);

// Splits UTF-8 text at LF (a leading byte-order mark and a CR before each LF dropped; nothing after
// a final LF adds a line) into a new block of strings written into slot, which must not move.
// Invalid UTF-8 raises access/invalid-utf8 naming `source`.
cell* lines_to_block(cell* slot, const uint8_t* text, uint32_t length, const cell* source);
// Decodes UTF-8 file text into a new string! in slot: a leading byte-order mark dropped, every CR LF
// pair folded to LF (the buffer is changed in place). Invalid or cut UTF-8 raises
// access/invalid-utf8 naming `source`.
cell* text_to_string(cell* slot, uint8_t* text, uint32_t length, const cell* source);

// Installs the file! actions, the size? native and the checksum file reader.
void init();

}  // namespace simple_io
