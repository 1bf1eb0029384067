// op!: an infix callable made from any two-argument native!, action!, function! or routine!.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// op! cell: the wrapped callable's four words, with the header 23 | wrapped type << 16. An op! of
// a function! or routine! is also stored in cell 3 of that callable's more block.
namespace op {
constexpr uint32_t WRAPPED_SHIFT = 16;

void init();
// Whether a spec declares exactly two arguments: words counted up to /local, /extern or
// return:, a lit-word or get-word only after a word, no other refinement.
bool two_args_q(const cell* spec);
// spec is the callable to wrap; the op! is written into proto.
cell* make(cell* proto, cell* spec, uint32_t type);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace op
