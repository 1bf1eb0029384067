// event!: one value per GUI event. An event of the system computes its fields on demand from the
// message record the loop keeps for it; an event made by `make event!` carries them in a block.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "view/backend/windows/gui.h"

namespace {

const char* const code_names[event::CODE_COUNT] = {
    nullptr, "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up", "click",
    "dbl-click", "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus", "enter", "zoom", "pan",
    "rotate", "two-tap", "press-tap", "select", "change", "menu", "close", "move", "resize", "moving",
    "resizing", "time", "drawing", "scroll"};

const char* const field_names[event::FIELD_COUNT] = {
    "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?", "mid-down?", "alt-down?",
    "aux-down?", "ctrl?", "shift?", "orientation"};

// The flags in the order `flags` lists them.
const struct { const char* name; uint32_t bit; } flag_names[] = {
    {"away", event::FLAG_AWAY}, {"down", event::FLAG_DOWN}, {"mid-down", event::FLAG_MID_DOWN},
    {"alt-down", event::FLAG_ALT_DOWN}, {"aux-down", event::FLAG_AUX_DOWN}, {"control", event::FLAG_CONTROL},
    {"shift", event::FLAG_SHIFT}, {"alt", event::FLAG_ALT}, {"command", event::FLAG_COMMAND}};
constexpr uint32_t LISTED_FLAGS = 8;   // `command` is taken by make, never reported

const struct { int32_t vk; const char* name; } key_names[] = {
    {19, "pause"}, {20, "caps-lock"}, {33, "page-up"}, {34, "page-down"}, {35, "end"}, {36, "home"},
    {37, "left"}, {38, "up"}, {39, "right"}, {40, "down"}, {45, "insert"}, {46, "delete"},
    {91, "left-command"}, {92, "right-command"}, {112, "F1"}, {113, "F2"}, {114, "F3"}, {115, "F4"},
    {116, "F5"}, {117, "F6"}, {118, "F7"}, {119, "F8"}, {120, "F9"}, {121, "F10"}, {122, "F11"},
    {123, "F12"}, {144, "num-lock"}, {145, "scroll-lock"}, {160, "left-shift"}, {161, "right-shift"},
    {162, "left-control"}, {163, "right-control"}, {164, "left-alt"}, {165, "right-alt"}};

const char* const scroll_v[] = {"up", "down", "page-up", "page-down", nullptr, "track"};
const char* const scroll_h[] = {"left", "right", "page-left", "page-right", nullptr, "track"};

struct event_words {
    uint32_t codes[event::CODE_COUNT];
    uint32_t fields[event::FIELD_COUNT];
    uint32_t flags[sizeof flag_names / sizeof flag_names[0]];
    uint32_t keys[256];
    uint32_t wheel, vertical, horizontal, end, scroll_v[6], scroll_h[6];
    uint32_t type, face, window, offset, key, picked, flags_word;
};
event_words words;

bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

cell* push_word(uint32_t symbol)
{
    cell w = *word::from_symbol(symbol);
    return stack::push(&w);
}

bool made_q(const cell* e) { return (e->header & event::MADE) != 0; }

// A key event whose whole data word is a code point above U+FFFF (flag bits 16-21 are never set).
bool code_point_q(uint32_t data) { return (data & 0x001F0000u) != 0; }

uint32_t flags_of(const cell* e) { return code_point_q(e->data3) ? 0 : e->data3 & event::FLAGS_MASK; }

cell* push_point(int32_t x, int32_t y) { return point2D::push(float(gui::pixel_to_dip(x)), float(gui::pixel_to_dip(y))); }

cell* push_offset(const cell* e, const gui::message_record* r)
{
    const MSG& m = r->msg;
    HWND hwnd = gui::get_event_hwnd(&m);
    if (hwnd == HWND(-1)) hwnd = m.hwnd;
    uint32_t code = e->data1;
    POINT p;
    switch (code) {
    case event::WHEEL:
        p = {short(LOWORD(m.lParam)), short(HIWORD(m.lParam))};
        ScreenToClient(hwnd, &p);
        return push_point(p.x, p.y);
    case event::KEY: case event::KEY_DOWN: case event::KEY_UP:
        p = m.pt;
        ScreenToClient(hwnd, &p);
        return push_point(p.x, p.y);
    case event::MENU:
        return push_point(r->menu_x, r->menu_y);
    default:
        break;
    }
    bool pointer = (code >= event::DOWN && code <= event::DBL_CLICK) || code == event::OVER ||
                   (code >= event::MOVE && code <= event::RESIZING);
    if (!pointer) return stack::push(&none_value);
    if (flags_of(e) & event::FLAG_AWAY) {
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        p = {m.pt.x - origin.x, m.pt.y - origin.y};
    } else {
        p = {short(LOWORD(m.lParam)), short(HIWORD(m.lParam))};
    }
    if (code == event::RESIZE || code == event::RESIZING) {
        window_record* w = gui::record_of(hwnd);
        if (w && (w->mode & gui::MODE_PAIR))
            return pair::push(int32_t(gui::pixel_to_dip(p.x)), int32_t(gui::pixel_to_dip(p.y)));
    }
    return push_point(p.x, p.y);
}

cell* push_key(const cell* e, const gui::message_record* r)
{
    uint32_t code = e->data1;
    if (code == event::WHEEL) return push_word(words.wheel);
    if (code == event::SCROLL) {
        uint32_t request = LOWORD(r->msg.wParam);
        const uint32_t* names = r->orientation == WM_VSCROLL ? words.scroll_v : words.scroll_h;
        return push_word(request < 6 && names[request] ? names[request] : words.end);
    }
    if (code != event::KEY && code != event::KEY_DOWN && code != event::KEY_UP) return stack::push(&none_value);
    if (r->special_key == -1) {
        if (code == event::KEY && code_point_q(e->data3)) return char_::push(e->data3);
        return char_::push(e->data3 & 0xFFFF);
    }
    uint32_t sym = r->special_key >= 0 && r->special_key < 256 ? words.keys[r->special_key] : 0;
    if (sym) return push_word(sym);
    if (code == event::KEY) return stack::push(&none_value);
    return char_::push(e->data3 & 0xFFFF);
}

cell* push_picked(const cell* e, const gui::message_record* r)
{
    const MSG& m = r->msg;
    switch (e->data1) {
    case event::DOWN: case event::MID_DOWN: case event::ALT_DOWN: case event::AUX_DOWN: case event::DBL_CLICK: {
        wchar_t name[32];
        if (!GetClassNameW(m.hwnd, name, 32) || (wcscmp(name, L"KivListBox") != 0 && wcscmp(name, L"ListBox") != 0))
            return stack::push(&none_value);
        POINT p{short(LOWORD(m.lParam)), short(HIWORD(m.lParam))};
        ClientToScreen(m.hwnd, &p);
        int item = LBItemFromPt(m.hwnd, p, FALSE);
        return item < 0 ? stack::push(&none_value) : integer::push(item + 1);
    }
    case event::WHEEL: {
        int32_t delta = short(HIWORD(m.wParam));
        if (delta < -24000) delta += 30720;
        else if (delta > 24000) delta -= 30720;
        return float_::push(delta / 120.0);
    }
    case event::ZOOM: case event::PAN: case event::ROTATE: case event::TWO_TAP: case event::PRESS_TAP:
        // Gestures are not translated yet: no message of the loop carries their record.
        return stack::push(&none_value);
    case event::MENU: {
        uint32_t id = e->data3 & 0xFFFF;
        if (id == 0xFFFF || id == 0 || id >= symbol::count()) return stack::push(&none_value);
        return push_word(id);
    }
    case event::SCROLL: {
        SCROLLINFO info{sizeof info, SIF_POS | SIF_TRACKPOS, 0, 0, 0, 0, 0};
        GetScrollInfo(m.hwnd, r->orientation == WM_VSCROLL ? SB_VERT : SB_HORZ, &info);
        return integer::push(info.nTrackPos);
    }
    default:
        return integer::push(int16_t(e->data3 & 0xFFFF));
    }
}

cell* push_flags(uint32_t flags)
{
    // A new block at every call: a block kept from an earlier call keeps what it held.
    cell* blk = block::make_at(stack::push_slot(), LISTED_FLAGS);
    for (uint32_t i = 0; i < LISTED_FLAGS; i++) {
        if (!(flags & flag_names[i].bit)) continue;
        cell w = *word::from_symbol(words.flags[i]);
        block::rs_append(blk, &w);
    }
    return blk;
}

cell* push_made_field(const cell* e, int32_t index)
{
    // The block: [face window offset picked].
    static const uint32_t slot_of[] = {0, 0, 0, 1, 2, 0, 3};
    switch (index) {
    case 2: case 3: case 4: case 6:
        if (e->data2) {
            cell blk{TYPE_BLOCK, 0, e->data2, 0};
            if (block::rs_length(&blk) == 4) return stack::push(block::rs_head(&blk) + slot_of[index]);
        }
        if (index == 4) return pair::push(0, 0);
        if (index == 6) return integer::push(0);
        return stack::push(&none_value);
    case 5:
        if (code_point_q(e->data3)) return char_::push(e->data3);
        return (e->data3 & 0xFFFF) ? char_::push(e->data3 & 0xFFFF) : stack::push(&none_value);
    default:
        return stack::push(&none_value);
    }
}

// ---- actions ------------------------------------------------------------------------------------

// One level of lookup: a word bound to a context stands for its value.
cell value_of(const cell* v)
{
    uint32_t t = cell_type(v);
    if ((t == TYPE_WORD || t == TYPE_GET_WORD) && v->data1) return *word::get(v);
    return *v;
}

cell* make(cell* proto, cell* spec, uint32_t)
{
    cell made{TYPE_EVENT | event::MADE, 0, 0, 0};
    cell face = none_value, window = none_value, offset = none_value, picked = none_value;
    bool block_wanted = false;
    if (cell_type(spec) == TYPE_BLOCK) {
        uint32_t n = block::rs_length(spec);
        for (uint32_t i = 0; i + 1 < n; i++) {
            const cell* item = block::rs_head(spec) + i;
            if (cell_type(item) != TYPE_SET_WORD) continue;
            uint32_t name = item->data2;
            cell v = value_of(item + 1);
            uint32_t t = cell_type(&v);
            i++;
            if (same_symbol(name, words.type)) {
                if (t == TYPE_WORD || t == TYPE_LIT_WORD) made.data1 = event::type_code(&v);
            } else if (same_symbol(name, words.face) || same_symbol(name, words.window)) {
                if (t != TYPE_OBJECT) continue;
                (same_symbol(name, words.face) ? face : window) = v;
                block_wanted = true;
            } else if (same_symbol(name, words.offset)) {
                if (t != TYPE_PAIR && t != TYPE_POINT2D) continue;
                offset = v;
                block_wanted = true;
            } else if (same_symbol(name, words.key)) {
                if (t != TYPE_CHAR) continue;
                uint32_t c = v.data2;
                // A character above U+FFFF is kept whole: the data word is then the code point.
                if (c > 0xFFFF) made.data3 = c;
                else if (!code_point_q(made.data3)) made.data3 = (made.data3 & ~0xFFFFu) | c;
            } else if (same_symbol(name, words.flags_word)) {
                if (t != TYPE_BLOCK || code_point_q(made.data3)) continue;
                uint32_t m = block::rs_length(&v);
                for (uint32_t k = 0; k < m; k++) {
                    const cell* f = block::rs_head(&v) + k;
                    if (cell_type(f) == TYPE_WORD) made.data3 |= event::flag_bit(f);
                }
            } else if (same_symbol(name, words.picked)) {
                if (t != TYPE_INTEGER) continue;
                picked = v;
                block_wanted = true;
            }
        }
    }
    if (block_wanted) {
        stack::scope keep;
        cell* held = keep.push(face);
        keep.push(window);
        keep.push(offset);
        keep.push(picked);
        cell* blk = block::make_at(keep.push(none_value), 4);
        block::rs_append(blk, held);
        block::rs_append(blk, held + 1);
        cell zero{TYPE_PAIR, 0, 0, 0};
        block::rs_append(blk, cell_type(held + 2) == TYPE_NONE ? &zero : held + 2);
        cell none_picked{TYPE_INTEGER, 0, 0, 0};
        block::rs_append(blk, cell_type(held + 3) == TYPE_NONE ? &none_picked : held + 3);
        made.data2 = blk->data2;
    }
    *proto = made;
    return proto;
}

int32_t form(cell*, cell* buffer, cell*, int32_t part) { return string::emit_literal(buffer, "event", part); }

int32_t mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return form(value, buffer, arg, part);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool, bool, bool)
{
    if (value) {
        if (cell_type(element) == TYPE_WORD && same_symbol(element->data2, words.type) &&
            cell_type(value) == TYPE_WORD) {
            parent->data1 = event::type_code(value);
            return value;
        }
        fire(ERR_SCRIPT, err::BAD_PATH_SET, path, element);
    }
    int32_t i = cell_type(element) == TYPE_WORD ? event::field_index(element) : -1;
    if (i < 0) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    return event::field_get(parent, i);
}

int32_t compare(cell*, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_EVENT) return -2;
    switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
    default: return -2;
    }
}

cell* pick(cell* value, int32_t n, cell* index)
{
    int32_t i = n;
    if (cell_type(index) == TYPE_WORD) {
        i = event::field_index(index);
        if (i < 0) fire(ERR_SCRIPT, err::CANNOT_USE, index, value);
    }
    if (i < 1 || i > event::FIELD_COUNT) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    cell e = *value;
    cell r = *event::field_get(&e, i);
    stack::pop(1);
    *value = r;
    return value;
}

void mark(const cell* c)
{
    if ((c->header & event::MADE) && c->data2) collector::mark_block(c->data2);
}

}  // namespace

void event::words_init()
{
    for (uint32_t i = 1; i < CODE_COUNT; i++) words.codes[i] = symbol::make(code_names[i]);
    for (int32_t i = 0; i < FIELD_COUNT; i++) words.fields[i] = symbol::make(field_names[i]);
    for (uint32_t i = 0; i < sizeof flag_names / sizeof flag_names[0]; i++) words.flags[i] = symbol::make(flag_names[i].name);
    for (const auto& k : key_names) words.keys[k.vk] = symbol::make(k.name);
    for (int i = 0; i < 6; i++) {
        words.scroll_v[i] = scroll_v[i] ? symbol::make(scroll_v[i]) : 0;
        words.scroll_h[i] = scroll_h[i] ? symbol::make(scroll_h[i]) : 0;
    }
    words.wheel = symbol::make("wheel");
    words.vertical = symbol::make("vertical");
    words.horizontal = symbol::make("horizontal");
    words.end = symbol::make("end");
    words.type = words.fields[0];
    words.face = words.fields[1];
    words.window = words.fields[2];
    words.offset = words.fields[3];
    words.key = words.fields[4];
    words.picked = words.fields[5];
    words.flags_word = words.fields[6];
}

void event::init()
{
    datatype::register_type(TYPE_EVENT, 0, "event!", {
        .make = make, .form = form, .mold = mold, .eval_path = eval_path, .compare = compare, .pick = pick,
        .mark = mark});
}

int32_t event::field_index(const cell* word)
{
    for (int32_t i = 0; i < FIELD_COUNT; i++)
        if (same_symbol(word->data2, words.fields[i])) return i + 1;
    return -1;
}

uint32_t event::type_code(const cell* word)
{
    for (uint32_t i = 1; i < CODE_COUNT; i++)
        if (same_symbol(word->data2, words.codes[i])) return i;
    cell w = *word;
    w.header = TYPE_WORD;
    fire(ERR_SCRIPT, err::NOT_EVENT_TYPE, &w);
}

uint32_t event::flag_bit(const cell* word)
{
    for (uint32_t i = 0; i < sizeof flag_names / sizeof flag_names[0]; i++)
        if (same_symbol(word->data2, words.flags[i])) return flag_names[i].bit;
    return 0;
}

uint32_t event::symbol_of_code(uint32_t code) { return code > 0 && code < CODE_COUNT ? words.codes[code] : 0; }

cell* event::field_get(const cell* event_value, int32_t index)
{
    cell e = *event_value;   // what follows allocates
    uint32_t flags = flags_of(&e);
    switch (index) {
    case 1: return e.data1 ? push_word(words.codes[e.data1 < CODE_COUNT ? e.data1 : 0]) : stack::push(&none_value);
    case 7: return push_flags(flags);
    case 8: return logic::push((flags & FLAG_AWAY) != 0);
    case 9: return logic::push((flags & FLAG_DOWN) != 0);
    case 10: return logic::push((flags & FLAG_MID_DOWN) != 0);
    case 11: return logic::push((flags & FLAG_ALT_DOWN) != 0);
    case 12: return logic::push((flags & FLAG_AUX_DOWN) != 0);
    case 13: return logic::push((flags & FLAG_CONTROL) != 0);
    case 14: return logic::push((flags & FLAG_SHIFT) != 0);
    default: break;
    }
    if (made_q(&e)) return push_made_field(&e, index);
    const gui::message_record* r = gui::record_of(&e);
    if (!r) return stack::push(&none_value);
    switch (index) {
    case 2: {
        HWND hwnd = gui::get_event_hwnd(&r->msg);
        cell face = hwnd == HWND(-1) ? none_value : gui::get_face_obj(hwnd);
        return stack::push(&face);
    }
    case 3: {
        HWND hwnd = gui::get_event_hwnd(&r->msg);
        cell face = hwnd == HWND(-1) ? none_value : gui::get_face_obj(GetAncestor(hwnd, GA_ROOTOWNER));
        return stack::push(&face);
    }
    case 4: return push_offset(&e, r);
    case 5: return push_key(&e, r);
    case 6: return push_picked(&e, r);
    case 15:
        if (e.data1 != SCROLL) return stack::push(&none_value);
        return push_word(r->orientation == WM_VSCROLL ? words.vertical : words.horizontal);
    default: return stack::push(&none_value);
    }
}
