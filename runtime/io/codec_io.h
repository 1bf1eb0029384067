// The codecs of system/codecs as the file and url actions reach them (read/as, write/as): a codec
// is found by its name, and its decode or encode is called through the evaluator.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace codec_io {

// The codec that an /as word names, into out (a rooted cell). False when it names none: the words
// utf-8 and utf8 then mean plain text, any other raises access/no-codec with the word.
bool find(const cell* name, cell* out);
// The codec's decode of data; the result into out (which may be data).
cell* decode(const cell* codec, const cell* data, cell* out);
// The codec's encode of value for where (a file!, url! or none); the result into out.
cell* encode(const cell* codec, const cell* value, const cell* where, cell* out);

}  // namespace codec_io
