// file!: a url-like string naming a file of the local system, molded with a leading "%" (quoted
// when a character needs it), and its native Windows form. Reading, writing and queries come with
// the file services.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"

namespace file {

cell* push(const cell* value);
// Appends the native form of the name to out: /c/dir gives c:\dir, /srv/share gives \\srv\share,
// every "/" a "\"; a relative name follows the current directory when full.
void to_os_form(const cell* value, cell* out, bool full);
// The same native form as UTF-16, for the Windows calls of the file layer and the codecs.
std::wstring native_path(const cell* value);
// The native form as NUL-terminated UTF-16 in the conversion buffer (valid until its next use).
wchar_t* to_os_path(const cell* value);
// A new string! of the current directory, ending in "\", pushed.
cell* current_dir();

int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);

void init();
}  // namespace file
