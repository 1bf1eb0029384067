// Command line, environment, type check and OS description. The release names are a table by
// version; mended: a 6.1 server is "Windows Server 2008 R2" (there was never an "R1").
#include "runtime/io/os_info.h"

#include <windows.h>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

struct release {
    uint32_t major, minor;
    const char* workstation;
    const char* server;
};
const release releases[] = {
    {5, 0, "2000", "2000"},          {5, 1, "XP", "XP"},
    {5, 2, "Server 2003", "Server 2003 R2"}, {6, 0, "Vista", "Server 2008"},
    {6, 1, "7", "Server 2008 R2"},   {6, 2, "8", "Server 2012"},
    {6, 3, "8.1", "Server 2012 R2"},
};

struct arch {
    uint32_t code;
    const char* name;
};
const arch arches[] = {{0, "x86-32"}, {5, "ARM"}, {6, "IA-64"}, {9, "x86-64"}, {12, "ARM64"}};

cell string_of_wide(const std::wstring& text)
{
    node_ref node = utf16_load_string(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), nullptr,
                                      false);
    return cell{TYPE_STRING, 0, node, 0};
}

cell string_of_utf8(const std::string& text)
{
    node_ref node = utf8_load_string(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, nullptr,
                                     false);
    return cell{TYPE_STRING, 0, node, 0};
}

}  // namespace

platform::version_record platform::os_version()
{
    OSVERSIONINFOEXA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    version_record v{0, 0, 0, 0, false, {}};
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return v;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    v.build = info.dwBuildNumber;
    v.service_pack_major = info.wServicePackMajor;
    v.server = info.wProductType != VER_NT_WORKSTATION;
    v.service_pack = info.szCSDVersion;
    return v;
}

std::string platform::os_name(const version_record& v)
{
    std::string name = "Windows ";
    const char* found = nullptr;
    for (const release& r : releases)
        if (r.major == v.major && r.minor == v.minor) found = v.server ? r.server : r.workstation;
    if (found) name += found;
    else if (!v.server) name += v.build < 22000 ? "10" : "11";
    else name += v.build >= 20285 ? "Server 2022" : v.build < 17134 ? "Server 2016" : "Server 2019";
    if (!v.service_pack.empty()) name += " " + v.service_pack;
    return name;
}

const char* platform::arch_name(uint32_t code)
{
    for (const arch& a : arches)
        if (a.code == code) return a.name;
    return "Unknown";
}

uint32_t platform::native_arch_code()
{
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

std::vector<std::pair<std::wstring, std::wstring>> platform::split_env(const wchar_t* block)
{
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    if (!block) return pairs;
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        std::wstring text = entry;
        size_t eq = text.find(L'=', 1);   // a leading "=" belongs to the name
        if (eq == std::wstring::npos) pairs.emplace_back(text, L"");
        else pairs.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    }
    return pairs;
}

cell* platform::get_cmdline(cell* slot)
{
    *slot = string_of_wide(GetCommandLineW());
    return slot;
}

cell* platform::env_block(cell* slot)
{
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        pairs = split_env(block);
        FreeEnvironmentStringsW(block);
    }
    stack::scope scope;
    cell* blk = block::make_at(stack::push_slot(), uint32_t(pairs.size() * 2));
    for (const auto& [name, value] : pairs) {
        // Room for every pair was made: appending never grows the block.
        cell n = string_of_wide(name);
        block::rs_append(blk, &n);
        cell v = string_of_wide(value);
        block::rs_append(blk, &v);
    }
    *slot = *blk;
    return slot;
}

cell* platform::list_env(cell* slot)
{
    make_fn make = actions_of(TYPE_MAP).make;
    if (!make) fire(ERR_INTERNAL, err::NOT_DONE);
    stack::scope scope;
    cell* pairs = env_block(stack::push_slot());
    cell* proto = scope.push(datatype::value_of(TYPE_MAP));
    *slot = *make(proto, pairs, TYPE_MAP);
    return slot;
}

cell* platform::get_os_info(cell* slot, const version_record& v, uint32_t arch_code)
{
    stack::scope scope;
    cell* spec = block::make_at(stack::push_slot(), 8);
    auto field = [&](const char* name, cell value) {   // a copy: loading the name may move its source
        cell w = *word::load(name);
        w.header = TYPE_SET_WORD;
        block::rs_append(spec, &w);
        block::rs_append(spec, &value);
    };
    cell name = string_of_utf8(os_name(v));
    field("name", name);
    field("arch", *word::load(arch_name(arch_code)));
    // tuple!: the byte count in header bits 19-22, the bytes from word 1 on.
    cell version{TYPE_TUPLE | 3u << 19, 0, 0, 0};
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&version.data1);
    bytes[0] = uint8_t(v.major), bytes[1] = uint8_t(v.minor), bytes[2] = uint8_t(v.service_pack_major);
    field("version", version);
    field("build", cell{TYPE_INTEGER, 0, v.build, 0});
    *slot = *object::make_from_spec(spec, nullptr, true);
    return slot;
}

void platform::check_type(const cell* value, uint32_t type)
{
    if (cell_type(value) == type) return;
    cell copy = *value;
    fire(ERR_SCRIPT, err::INVALID_ARG, &copy);
}

void platform::init()
{
    natives_s.table[natives::N_LIST_ENV - 1] = [](bool, const int32_t*) { list_env(stack::arguments()); };
}
