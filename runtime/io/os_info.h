// Small platform routines behind natives and library words: the process command line, the
// environment as name/value pairs, a routine argument's type check, and the description of the
// operating system (name, processor architecture, version, build). The version record and the
// environment block come in as plain data, so tests can give them.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>
#include "runtime/cell.h"

namespace platform {

// What the version query reports.
struct version_record {
    uint32_t major, minor, build;
    uint32_t service_pack_major;
    bool server;                 // a product type other than workstation
    std::string service_pack;    // "Service Pack 1", or empty
};
version_record os_version();
// "Windows 11", "Windows Server 2008 R2", "Windows 7 Service Pack 1", ...
std::string os_name(const version_record& v);
// The architecture word's text for a processor-architecture code ("x86-64", "ARM64", "Unknown").
const char* arch_name(uint32_t code);
uint32_t native_arch_code();

// Splits an environment block (entries "name=value", each ended by a zero unit, the block by an
// empty entry) at the first "=" that has a character before it, so "=C:=C:\work" names "=C:".
std::vector<std::pair<std::wstring, std::wstring>> split_env(const wchar_t* block);

// Each writes its result into slot (which must not move) and returns it.
cell* get_cmdline(cell* slot);
// The environment as a block of name, value, name, value... strings.
cell* env_block(cell* slot);
// The environment as a map! (internal/not-done while map! is not registered).
cell* list_env(cell* slot);
// The OS description object: name (string!), arch (word!), version (tuple! of 3 bytes), build
// (integer!).
cell* get_os_info(cell* slot, const version_record& v, uint32_t arch_code);
// script/invalid-arg with the cell unless it is of the type.
void check_type(const cell* value, uint32_t type);

void init();

}  // namespace platform
