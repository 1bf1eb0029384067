// action!: a generic action entry as a value. It takes every routine from native! (action
// slots, make included, which picks the action entry table by the requested type).
#pragma once

namespace action {
void init();
}  // namespace action
