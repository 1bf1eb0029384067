// A 1 MB text placed on the clipboard and read back: the best round trip's time (needs a display
// under Wine; without one the line says so).
#include <cstdio>
#include <string>

#include "bench/bench.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/io/clipboard.h"

KIV_BENCH(clipboard_text)
{
    std::string text(1 << 20, 'a');
    for (size_t i = 0; i < text.size(); i += 61) text[i] = char('A' + i % 26);
    cell* value = string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                                  stack::push_slot(), 0);
    bool ok = true;
    double t = bench::best_seconds(3, [&] {
        ok = ok && clipboard::write(value);
        cell* back = clipboard::read(stack::push_slot());
        ok = ok && cell_type(back) == TYPE_STRING;
        stack::pop(1);
    });
    if (ok)
        std::printf("clipboard: 1 MB text round trip %.1f ms\n", t * 1e3);
    else
        std::printf("clipboard: 1 MB text round trip n/a (no clipboard: is there a display?)\n");
    stack::pop(1);
}
