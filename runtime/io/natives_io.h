// The natives whose work lies in the io layer (checksum, compress, decompress, transcode).
#pragma once

namespace io_natives {
// Puts the routines into their slots of the natives table (after natives::init).
void init();
}  // namespace io_natives
