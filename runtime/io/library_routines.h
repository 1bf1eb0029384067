// The C++ entries of the library's routine words: the type predicates, process exit, the quiet
// setters, shifts, stack and output introspection, tuple builders, UTF-8 counting, the current
// directory, the clipboard, standard output, the console's title, the kivbin and image codecs, the
// collector's state (system/state/GC) and JSON's string escapes. Library and console source name
// each entry in `make routine!`; nothing here is reached any other way.
#pragma once

namespace library_routines {
// Fills the routines table; while booting, after the io layer started.
void init();
}  // namespace library_routines
