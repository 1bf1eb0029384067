// The GUI's event road: events per second through the event maker into an empty awake, the time
// from a posted key to awake, and the routing of mouse moves through the loop. Needs a display
// under Wine; without one the lines say so.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench/bench.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/io/lexer.h"
#include "runtime/stack.h"
#include "view/backend/windows/gui.h"

namespace {

int64_t counter()
{
    cell v = *word::get(word::load("gui-bench-count"));
    return int32_t(v.data2);
}

}  // namespace

KIV_BENCH(gui_events)
{
    bool ok = bench::run_source(
        "system/view/platform/init "
        "gui-bench-count: 0 "
        "gui-bench-win: make object! [type: 'window offset: 50x50 size: 200x100 text: \"bench\" image: none "
        "color: none menu: none data: none enabled?: true visible?: true selected: none flags: [all-over] "
        "options: none parent: none pane: none state: none rate: none edge: none para: none font: none "
        "actors: none extra: none draw: none] "
        "gui-bench-win/state: reduce [system/view/platform/make-view gui-bench-win "
        "system/view/platform/make-null-handle 0 none false]");
    cell win = *word::get(word::load("gui-bench-win"));
    HWND hwnd = ok ? gui::face_handle_q(&win) : nullptr;
    if (!hwnd) {
        std::printf("gui: n/a (no window: is there a display?)\n");
        return;
    }
    while (gui::do_events(true)) {}

    bench::run_source("system/view/awake: func [event /with face] ['done]");
    const int n = 100000;
    MSG m{hwnd, WM_CHAR, 'a', 1, 0, {0, 0}};
    double t = bench::best_seconds(3, [&] {
        for (int i = 0; i < n; i++) gui::make_event(&m, 0, event::KEY);
    });
    std::printf("gui: make-event into an empty awake: %.0f events/s (%.2f us each)\n", n / t, t / n * 1e6);

    bench::run_source("system/view/awake: func [event /with face] [gui-bench-count: gui-bench-count + 1 'done]");
    const int keys = 2000;
    t = bench::best_seconds(3, [&] {
        for (int i = 0; i < keys; i++) {
            int64_t before = counter();
            PostMessageW(hwnd, WM_CHAR, 'a', 1);
            while (counter() == before) gui::do_events(true);
        }
    });
    std::printf("gui: posted key to awake: %.2f us each\n", t / keys * 1e6);

    const int moves = 20000;
    t = bench::best_seconds(3, [&] {
        for (int i = 0; i < moves; i++) {
            PostMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(10 + i % 100, 10 + i % 50));
            gui::do_events(true);
        }
    });
    std::printf("gui: mouse moves routed to over events: %.2f us each (%.0f/s)\n", t / moves * 1e6, moves / t);
    bench::run_source("system/view/platform/destroy-view gui-bench-win false system/view/awake: none");
    while (gui::do_events(true)) {}
}
