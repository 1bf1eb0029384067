// System and time natives: now, wait, recycle, stats, to-local-file and the environment. They
// reach Windows only through the platform layer (its clock, zone and sleep seams), and convert a
// double to an integer only after checking that it fits.
#include <cctype>
#include <cmath>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/stats.h"
#include "runtime/unicode.h"

namespace {

inline cell* base() { return stack_s.arguments; }
inline bool used(const int32_t* refs, int i) { return refs[i] >= 0; }

// An integer! when the number fits, else a float!.
void number_result(cell* slot, double value)
{
    if (value >= -2147483648.0 && value <= 2147483647.0) integer::make_at(slot, int32_t(value));
    else float_::make_at(slot, value);
}

// ---- dates --------------------------------------------------------------------------------------

enum now_refinement { R_YEAR, R_MONTH, R_DAY, R_TIME, R_ZONE, R_DATE, R_WEEKDAY, R_YEARDAY, R_PRECISE, R_UTC };

// Text of a string or the name of a word, as UTF-16 for the operating system.
std::wstring os_name(cell* var)
{
    cell text = *var;
    if (any_word_q(cell_type(&text))) text = *word::as_string(&text);
    cell* held = stack::push(&text);
    std::wstring name = string_to_utf16(held);
    stack::pop(1);
    return name;
}

}  // namespace

void natives::now_star(bool, const int32_t* refs)
{
    int32_t chosen = 0;
    for (int i = R_YEAR; i <= R_PRECISE; i++) chosen += used(refs, i);
    if (used(refs, R_TIME) && used(refs, R_PRECISE)) chosen--;
    if (chosen > 1) fire(ERR_SCRIPT, err::BAD_REFINES);
    bool utc = used(refs, R_UTC);
    uint32_t packed = os_get_time(utc);
    cell* out = base();
    if (used(refs, R_DATE)) return void(date::make_at(out, packed & ~(date::HAS_TIME | date::ZONE_MASK), 0.0));
    // The clock gives UTC seconds of the day and the local date: the local time of day is moved
    // into 0 .. 24 h, then stored as UTC on that local date.
    double zone = date::zone_seconds(packed & date::ZONE_MASK);
    double t = os_now(used(refs, R_PRECISE)) + zone;
    if (t < 0) t += 86400.0;
    if (t >= 86400.0) t -= 86400.0;
    date::make_at(out, packed | date::HAS_TIME, t - zone);
    // /precise alone gives the whole date, its time with the fraction of a second.
    static constexpr struct {
        now_refinement refinement;
        int32_t field;
    } fields[] = {{R_YEAR, date::F_YEAR}, {R_MONTH, date::F_MONTH},     {R_DAY, date::F_DAY},
                  {R_ZONE, date::F_ZONE}, {R_TIME, date::F_TIME},       {R_WEEKDAY, date::F_WEEKDAY},
                  {R_YEARDAY, date::F_YEARDAY}};
    for (const auto& f : fields)
        if (used(refs, f.refinement)) return void(*out = *date::get_field(out, f.field));
}

void (*natives::wait_events_hook)() = nullptr;

void natives::wait_star(bool, const int32_t*)
{
    cell* v = base();
    uint32_t t = cell_type(v);
    double seconds;
    if (t == TYPE_INTEGER) seconds = integer_of(v);
    else if (t == TYPE_FLOAT || t == TYPE_TIME || t == TYPE_PERCENT) seconds = cell_float(v);
    else fire(ERR_SCRIPT, err::INVALID_ARG, v);
    os_sleep(seconds);   // below 1 ms, NaN and negatives sleep 1 ms; the longest sleep is bounded
    if (natives::wait_events_hook) natives::wait_events_hook();
    none::make_at(base());
}

void natives::recycle_star(bool, const int32_t* refs)
{
    if (used(refs, 0) || used(refs, 1)) {
        collector_s.enabled = used(refs, 0) ? 1 : 0;
        unset::make_at(base());
        return;
    }
    collector::do_cycle();
    number_result(base(), memory::stats(nullptr, 1));
}

void natives::stats_star(bool, const int32_t* refs)
{
    if (used(refs, 0) || used(refs, 1)) {
        cell* blk = block::make_at(stack::push_slot(), 8);
        memory::stats(blk, 2);
        if (!used(refs, 0)) {
            *base() = *blk;
            return;
        }
        // /show hands the figures to the library's printer and answers nothing.
        cell data = *blk;
        natives::call_library("show-memory-stats", &data, 1);
        unset::make_at(base());
        return;
    }
    number_result(base(), memory::stats(nullptr, 1));
}

void natives::to_local_file_star(bool, const int32_t* refs)
{
    std::string path = string::utf8_copy(base());
    std::string out;
    size_t k = 0;
    // A leading one-letter folder is a drive: /c/x becomes c:\x.
    if (path.size() >= 2 && path[0] == '/' && std::isalpha(static_cast<unsigned char>(path[1])) &&
        (path.size() == 2 || path[2] == '/')) {
        out += path[1];
        out += ':';
        k = 2;
        if (path.size() == 2) out += '\\';
    }
    bool relative = out.empty() && (path.empty() || path[0] != '/');
    for (; k < path.size(); k++) out += path[k] == '/' ? '\\' : path[k];
    if (used(refs, 0) && relative) {
        uint32_t length = 0;
        wchar_t* dir = os_get_current_dir(&length);
        std::string prefix;
        for (uint32_t i = 0; i < length; i++) {
            uint8_t bytes[4];
            prefix.append(reinterpret_cast<char*>(bytes), utf8_encode_char(uint32_t(dir[i]), bytes));
        }
        rt_free(dir);
        if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
        out = prefix + out;
    }
    string::load_at(reinterpret_cast<const uint8_t*>(out.data()), uint32_t(out.size()), base(), 0);
}

void natives::set_env_star(bool, const int32_t*)
{
    std::wstring name = os_name(base());
    cell* value = base() + 1;
    if (cell_type(value) == TYPE_NONE) {
        os_set_env(name.c_str(), nullptr);
    } else {
        std::wstring text = string_to_utf16(value);
        os_set_env(name.c_str(), text.c_str());
    }
    *base() = *value;
}

void natives::get_env_star(bool, const int32_t*)
{
    std::wstring name = os_name(base());
    uint32_t size = os_get_env(name.c_str(), nullptr, 0);
    if (size < 1) {
        none::make_at(base());
        return;
    }
    std::wstring value(size, L'\0');
    uint32_t n = os_get_env(name.c_str(), value.data(), size);
    if (n >= size) n = 0;   // changed between the two calls: nothing trustworthy was copied
    string::load_at(reinterpret_cast<const uint8_t*>(value.data()), n * 2, base(), -1);
}
