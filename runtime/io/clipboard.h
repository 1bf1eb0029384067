// The clipboard: text, file lists and images exchanged with other programs. Reading copies the
// system's data out and closes the clipboard before any Kiv allocation; writing prepares every
// global block first and frees what the system did not take.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace clipboard {

// The first format present (text, file list, PNG/JFIF/GIF, DIBV5, bitmap) as a value into out (a
// rooted cell); none when the clipboard holds none of them or stays busy.
cell* read(cell* out);
// Places the value (none empties); false when the clipboard stays busy or a format was refused.
// A value of another datatype raises script/invalid-arg.
bool write(const cell* value);

// ---- block layouts, on plain memory ---------------------------------------------------------------
// A DROPFILES block: the 20-byte header (list at 20, wide), each path with its NUL, a final NUL.
std::vector<uint8_t> dropfiles_block(const std::vector<std::u16string>& paths);
// A 124-byte BITMAPV5HEADER (top-down, 32 bits, BI_BITFIELDS, alpha mask) and the pixels
// (0xAARRGGBB words, rows from the top).
std::vector<uint8_t> dibv5_block(uint32_t width, uint32_t height, const uint32_t* pixels);
// The pixels of a DIBV5 block of `size` bytes, rows from the top. False, reading nothing past the
// block, when the header is not the 32-bit alpha form or claims more pixels than the block holds.
bool dibv5_pixels(const uint8_t* block, size_t size, uint32_t* width, uint32_t* height,
                  std::vector<uint32_t>* pixels);
// File names between the system's form ("C:\a\b") and file! text ("/C/a/b").
std::u16string to_native_path(const std::u16string& file);
std::u16string to_kiv_path(const std::u16string& native);

}  // namespace clipboard
