// The boot: the last step of start-up, after the collector is on. The datatype words get their
// datatype! values, then the Kiv sources that make the language (the error catalogue, the
// typesets, the actions, the natives, the operators) are loaded from the executable and
// evaluated in a fixed order, and their numbering is checked against the runtime's tables.
#pragma once

namespace runtime {
// Raises what the boot sources raise; a numbering that disagrees with the runtime's tables is a
// fatal runtime error.
void boot();
}  // namespace runtime
