// The front ends of `compress` and `decompress`: the method words, the input bytes, the output
// binary sized by the codec and the one retry. Must not break: the output is allocated before the
// input's address is taken, since the allocation may move the input.
#pragma once
#include "runtime/cell.h"

namespace compress {
void init_words();   // zlib, deflate, gzip

// data (a cell that does not move: the call's result slot) receives the new binary!.
void native(cell* data, const cell* method);
}  // namespace compress

namespace decompress {
// size is null when /size is not used.
void native(cell* data, const cell* method, const cell* size);
}  // namespace decompress
