// url!: a string that molds percent-encoded and joins path steps with one slash; the percent
// coding that enhex, dehex and the lexer use. Reading and writing over HTTP come with the HTTP
// service. A url cell is a string cell (type 9); its routines read code points by index.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace url {

enum percent_table : uint32_t { PERCENT_PATH = 0, PERCENT_STRICT = 1 };

// Whether a byte below 0x80 stands for itself under the table (never a byte of 0x80 or more).
bool plain_q(uint8_t byte, uint32_t table);
// Appends the value's text from its head, as UTF-8 bytes, to out: a byte in the table as its
// character, any other as %XX (upper-case digits).
void encode_percent(const cell* value, cell* out, uint32_t table);
// Appends the value's text to out with every complete %XX escape decoded (an escaped UTF-8
// sequence as one code point); incomplete or invalid escapes stay as they are.
void decode_percent(const cell* value, cell* out);

cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
// Joining a url or file with a path step (also file!'s); setting raises script/bad-path-set.
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);

void init();
}  // namespace url
