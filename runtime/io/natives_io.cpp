// The natives whose work lies in this layer: the front ends of checksum, compress and decompress.
// The natives table sits below (interpreter), so this layer puts its routines into their slots
// when it starts, replacing the not-done stand-ins.
#include "runtime/io/natives_io.h"

#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"

namespace {

inline cell* base() { return stack_s.arguments; }
inline cell* ref_arg(const int32_t* refs, int i) { return refs[i] >= 0 ? base() + refs[i] : nullptr; }

// base[0] is the call's result slot on the argument stack: it never moves.
void checksum_star(bool, const int32_t* refs) { checksum::native(base(), base() + 1, ref_arg(refs, 0)); }
void compress_star(bool, const int32_t*) { compress::native(base(), base() + 1); }
void decompress_star(bool, const int32_t* refs) { decompress::native(base(), base() + 1, ref_arg(refs, 0)); }

}  // namespace

void io_natives::init()
{
    natives::install(natives::N_CHECKSUM, checksum_star);
    natives::install(natives::N_COMPRESS, compress_star);
    natives::install(natives::N_DECOMPRESS, decompress_star);
}
