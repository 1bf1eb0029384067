// Rendering: frames per second repainting an 800x600 rich-text face of 50 styled lines through
// Direct2D, and text box layouts and metric queries per second. Needs a display under Wine;
// without one the lines say so.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench/bench.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/io/lexer.h"
#include "runtime/stack.h"
#include "view/backend/windows/gui.h"
#include "view/backend/windows/render.h"


KIV_BENCH(render)
{
    bool ok = bench::run_source(
        "p: system/view/platform p/init "
        "rb-proto: make object! [type: 'window offset: 20x20 size: 800x600 text: none image: none "
        "color: none menu: none data: none enabled?: true visible?: true selected: none flags: none "
        "options: none parent: none pane: none state: none rate: none edge: none para: none font: none "
        "actors: none extra: none draw: none] "
        "rb-win: make rb-proto [text: \"bench\"] "
        "rb-win/state: reduce [p/make-view rb-win p/make-null-handle 0 none false] "
        "rb-text: copy \"\" rb-data: copy [] "
        "repeat i 50 [s: length? rb-text append rb-text rejoin [\"line \" i \" of the rich text, styled in parts\" \"^/\"] "
        "append rb-data reduce [to pair! reduce [s + 1 4] 'bold to pair! reduce [s + 10 8] 255.0.0]] "
        "rb-box: make rb-proto [type: 'rich-text offset: 0x0 color: 255.255.255 text: rb-text data: rb-data] "
        "rb-box/state: reduce [p/make-view rb-box first rb-win/state 0 none false] "
        "system/view/awake: func [event /with face] ['done]");
    cell box = *word::get(word::load("rb-box"));
    HWND hwnd = ok ? gui::face_handle_q(&box) : nullptr;
    if (!hwnd) {
        std::printf("render: n/a (no window: is there a display?)\n");
        return;
    }
    while (gui::do_events(true)) {}
    const int frames = 200;
    double t = bench::best_seconds(3, [&] {
        for (int i = 0; i < frames; i++) RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    });
    std::printf("render: 800x600 rich-text face of 50 styled lines: %.0f frames/s (%.2f ms each)\n", frames / t,
                t / frames * 1e3);
    const int n = 500;
    stack::scope keep;
    cell* face = keep.push(box);
    cell offset{TYPE_INTEGER, 0, 200, 0};
    t = bench::best_seconds(3, [&] {
        for (int i = 0; i < n; i++) gui::text_box_metrics(face, &offset, 4);
    });
    std::printf("render: text box layouts (line count of 50 styled lines): %.0f/s (%.1f us each)\n", n / t, t / n * 1e6);
    t = bench::best_seconds(3, [&] {
        for (int i = 0; i < n; i++) gui::text_box_metrics(face, &offset, 0);
    });
    std::printf("render: caret queries (each lays the text out): %.0f/s (%.1f us each)\n", n / t, t / n * 1e6);
    bench::run_source("p/destroy-view rb-box false p/destroy-view rb-win false");
    while (gui::do_events(true)) {}
}
