// The Windows back end of the GUI: the event! datatype, the message loop and event translation,
// the window classes and their procedures, set-up, DPI and screens, and the routines behind
// system/view/platform. Everything runs on the one GUI thread, re-entered by nested loops.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace interpreter { struct catch_point; }

// ---- event! -------------------------------------------------------------------------------------
// Event cell: header 54, bit 0x1000 set for an event made by `make event!`. data1 the event code
// (1-35, 0 for none). An event of the system: data2 the 1-based number of a message record the
// back end owns (never an address); a made event: data2 the node of its block [face window offset
// picked], or 0. data3 the data word: low 16 bits a character, index or id, bits 22-31 flags; for a
// key event of a character above U+FFFF the whole word is the code point.
namespace event {
constexpr uint32_t MADE = 0x1000;
enum code : uint32_t {
    DOWN = 1, UP, MID_DOWN, MID_UP, ALT_DOWN, ALT_UP, AUX_DOWN, AUX_UP, CLICK, DBL_CLICK, WHEEL, OVER,
    KEY, KEY_DOWN, KEY_UP, IME, FOCUS, UNFOCUS, ENTER, ZOOM, PAN, ROTATE, TWO_TAP, PRESS_TAP, SELECT,
    CHANGE, MENU, CLOSE, MOVE, RESIZE, MOVING, RESIZING, TIME, DRAWING, SCROLL, CODE_COUNT = 36
};
constexpr uint32_t FLAG_AUX_DOWN = 0x00400000u, FLAG_ALT_DOWN = 0x00800000u, FLAG_MID_DOWN = 0x01000000u,
                   FLAG_DOWN = 0x02000000u, FLAG_AWAY = 0x04000000u, FLAG_CONTROL = 0x10000000u,
                   FLAG_SHIFT = 0x20000000u, FLAG_ALT = 0x40000000u, FLAG_COMMAND = 0x80000000u;
constexpr uint32_t FLAGS_MASK = 0xF7C00000u;
constexpr int32_t FIELD_COUNT = 15;

void init();   // registers event! (id 54)
void words_init();
// The field index (1-15) of a field word; -1 when the word names none.
int32_t field_index(const cell* word);
// Pushes the value of field 1-15 of the event.
cell* field_get(const cell* event, int32_t index);
uint32_t type_code(const cell* word);   // raises script/not-event-type for an unknown word
uint32_t flag_bit(const cell* word);    // 0 for a word that names no flag
uint32_t symbol_of_code(uint32_t code); // 0 for code 0 or one out of range
}  // namespace event

// ---- per-window record --------------------------------------------------------------------------
// Every window of the back end's classes carries one pointer after the extra bytes of the class it
// derives from, to this record: nothing here is squeezed into a 32-bit slot, and a superclassed
// control keeps its own extra bytes untouched.
struct window_record {
    uint32_t face_ref;         // reference slot of the face (0: none linked)
    int32_t show_pending;
    HCURSOR cursor_icon;
    void* draw_context;
    void* render_target;
    HFONT font;                // window: its default GUI font
    int32_t capture_count;     // base faces
    HCURSOR cursor;
    uint32_t cursor_self;      // 1: a base face applies the cursor itself
    int32_t size_move_code;    // window: MOVING or RESIZING of the running size-move loop
    HWND caret_owner;
    HWND host;
    int32_t client_origin;     // x << 16 | (y & 0xFFFF), 0 until computed
    bool origin_known;
    uint32_t mode;             // MODE_* bits
    int32_t last_position;     // y << 16 | (x & 0xFFFF)
    intptr_t per_type;
    bool freed;                // the face was released: a late WM_CLOSE only destroys
    uint32_t face_flags;
    bool in_client;            // base faces: the pointer is in the client area
};

namespace gui {
constexpr uint32_t MODE_PAIR = 0x10, MODE_IME = 0x08, MODE_RICH = 0x04, MODE_CARET = 0x02, MODE_CLIP = 0x01;

// One message record per nesting level of make-event: an event of the system names its record by
// number, and the record stays the back end's (a kept event reads the next event's message, never
// a dead frame).
struct message_record {
    MSG msg;
    int32_t special_key;     // the key's word code, or -1 for a character key
    uint32_t code_point;     // a character joined from a surrogate pair, else 0
    uint32_t orientation;    // WM_VSCROLL or WM_HSCROLL for scroll events
    int32_t menu_x, menu_y;
};

}  // namespace gui

struct gui_state {
    cell event_cell;                 // the one event of the system, reused for every event
    std::vector<gui::message_record> records;
    uint32_t depth;                  // make-event nesting
    MSG* current_msg;
    MSG static_msg;                  // current_msg's record when no message is dispatched
    int32_t loop_depth;              // blocking loops running
    int32_t exit_requests;           // exits asked for and not yet taken by a loop
    int32_t windows;                 // top-level windows of faces alive
    int32_t special_key;
    uint32_t last_code_point;
    int32_t modifier_override;
    int32_t last_move_lparam;
    HWND hover_window;
    int32_t ime_composing;
    int32_t zoom_base;
    int32_t menu_x, menu_y;
    // set-up
    bool ready;
    DWORD process_id;
    HDC screen_dc;
    HINSTANCE instance;
    uint32_t major, minor, build, product;
    bool pre_vista, win8, win10, composition;
    int32_t dpi;
    double scale;
    int32_t dpi_nesting;
    struct monitor { HMONITOR handle; float scale; int32_t dpi; };
    std::vector<monitor> monitors;   // grows with the screens
    HFONT default_font;
    bool dark_entry_found;
    bool dark_at_start;
    uint32_t font_class, com_class;
    uint32_t size_move;              // 1 between WM_ENTERSIZEMOVE and WM_EXITSIZEMOVE
    // test hooks (checked builds)
    void (*wndproc_probe)(HWND, UINT);
};
extern gui_state gui_s;

namespace gui {
// A routine of a system DLL looked up by name or ordinal.
template <class F>
F proc(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

void module_init();   // from the runtime's start: routines, event!, the collector marker, wait
void init();          // gui/init

// The loop.
bool do_events(bool no_wait);
int32_t process_message(MSG* msg);
int32_t make_event(MSG* msg, int32_t value, uint32_t code);
MSG* make_current_msg();
void CALLBACK timer_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
void send_event_os(const cell* event, bool post);
void request_exit();                 // one blocking loop ends per request
void window_gone();                  // a top-level window of a face was destroyed
message_record* record_of(const cell* event);

// Windows and their faces.
void register_classes(HINSTANCE module);
void unregister_classes(HINSTANCE module);
window_record* record_of(HWND hwnd);
bool has_face_q(HWND hwnd);
cell get_face_obj(HWND hwnd);   // none when the window holds no face
HWND get_event_hwnd(const MSG* msg);
cell facet(const cell* face, uint32_t n);
void set_facet(const cell* face, uint32_t n, const cell* value);
bool face_type_is(const cell* face, const char* name);
HWND face_handle_q(const cell* face);
uint32_t get_flags(const cell* flags_value);
LRESULT CALLBACK window_wnd_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
HWND make_window_view(const cell* face, HWND parent);
void destroy_window_view(const cell* face);

// DPI and screens.
int32_t dip_to_pixel(double length);
double pixel_to_dip(int32_t pixels);
void set_dpi(int32_t dpi);
int32_t enter_dpi_context(HWND hwnd);
void leave_dpi_context(int32_t saved);
int32_t window_dpi(HWND hwnd);
void place_on_monitor(double x, double y, double w, double h);
bool support_dark_mode_q();
void set_dark_mode(HWND hwnd, bool dark, bool is_window);

// Base faces.
struct base_state {
    bool painting;                 // a base face's paint is running
    HWND last_painted;             // the window painted or made last
    int64_t frame_mark;            // when the last layered frame was drawn
    std::vector<HWND> deferred;    // windows whose paint came inside another paint
    int64_t paints, drawing_events;
};
extern base_state base_s;
LRESULT CALLBACK base_wnd_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK base_internal_wnd_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
HWND make_base_view(const cell* face, HWND parent);
void update_base(HWND hwnd);
bool opaque_color_q(const cell* color);

// Runs f with every C++ exception caught: the entry guard of window procedures, the timer
// procedure and enumeration callbacks. A script error is printed, anything else reported as a
// runtime error; true when f finished.
bool guarded(void (*f)(void*), void* data);
// A script error caught at a callback's edge: taken from the catch point and printed (print-error).
void print_caught(interpreter::catch_point& point);
}  // namespace gui
