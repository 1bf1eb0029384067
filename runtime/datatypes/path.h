// The four path kinds: blocks of access steps (a/b/1) under their own type ids. They share the
// block's cells and routines; make, to, form and mold are their own, and each kind but path!
// only changes the mold's prefix or suffix.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace path {
void init();
// A number gives an empty path of that room (0 counts as 1); a block kind, a path of copies of
// its values. Both serve all four kinds: type is the one requested.
cell* make(cell* proto, cell* spec, uint32_t type);
// An object, map or typeset becomes the single step of a path; anything else as block! does it.
cell* to(cell* proto, cell* spec, uint32_t type);
// The steps joined by "/".
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
// The cell becomes a path! and a copy of it is pushed.
cell* push(cell* c);
}  // namespace path

namespace lit_path {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace lit_path

namespace set_path {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace set_path

namespace get_path {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace get_path
