// Loading speed of the lexer on generated source: words, numbers, strings and nested blocks, as
// typical code holds them; the figure is bytes of source per second, measured in the process.
#include <cstdio>
#include <string>

#include "bench/bench.h"
#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/lexer.h"

namespace {

// About `size` bytes of code in the shape of a library: functions with specs, nested blocks,
// strings, comments, paths and, when their datatypes are there, numbers.
std::string generated_source(size_t size)
{
    bool numbers = datatype_s.types[TYPE_INTEGER].name && datatype_s.types[TYPE_FLOAT].name;
    const char* step = datatype_s.types[TYPE_PATH].name ? "/" : "-";
    std::string out;
    char line[512];
    for (uint32_t i = 0; out.size() < size; i++) {
        std::snprintf(line, sizeof line,
                      "process-item-%u: func [\n"
                      "    \"Handles one item of the queue\" item [block! string!] /limit count /local result\n"
                      "][\n"
                      "    result: make block! %s ; room for the common case\n"
                      "    foreach entry item [\n"
                      "        either find [alpha beta gamma] entry%sname [\n"
                      "            append result reduce [entry%sname \"matched entry %u\" %s]\n"
                      "        ][\n"
                      "            if all [limit count > %s] [break]\n"
                      "        ]\n"
                      "    ]\n"
                      "    result\n"
                      "]\n",
                      i, numbers ? "16" : "sixteen", step, step, i, numbers ? "entry-value * 1.5" : "entry-value",
                      numbers ? "100" : "hundred");
        out += line;
    }
    return out;
}

// Seconds this thread has run, user and kernel: on a busy machine, wall time counts the others.
double thread_seconds()
{
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    auto seconds = [](FILETIME f) { return (double(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) * 1e-7; };
    return seconds(kernel) + seconds(user);
}

void measure(const char* what, const std::string& text, const lexer::scan_request& how, int rounds = 5)
{
    auto bytes = reinterpret_cast<const uint8_t*>(text.data());
    cell* out = stack::push_slot();
    double best = 1e9, cpu = thread_seconds();
    uint32_t cycles = collector_s.cycles;
    for (int r = 0; r < rounds; r++) {
        double t0 = bench::now();
        lexer::scan(out, bytes, uint32_t(text.size()), how, nullptr);
        double t = bench::now() - t0;
        if (t < best) best = t;
    }
    cpu = thread_seconds() - cpu;
    stack::pop(1);
    std::printf("%s: %.1f MB/s best, %.1f MB/s by thread time over all rounds (%.2f MB x %d, %u collections)\n",
                what, text.size() / best / 1e6, text.size() * rounds / cpu / 1e6, text.size() / 1e6, rounds,
                collector_s.cycles - cycles);
}

}  // namespace

KIV_BENCH(lexer_load)
{
    std::string text = generated_source(8000000);
    if (!datatype_s.types[TYPE_INTEGER].name) std::printf("(numbers left out: integer! is not registered)\n");
    if (!datatype_s.types[TYPE_PATH].name) std::printf("(paths left out: path! is not registered)\n");
    measure("load", text, lexer::scan_request{});
    std::string small = generated_source(256000);
    measure("load 256 KB", small, lexer::scan_request{}, 40);
    lexer::scan_request check;
    check.load = false;
    measure("scan only", text, check);
}

// The parts: known words, new names, strings and blocks (each block and string is a new series).
KIV_BENCH(lexer_parts)
{
    std::string words, names, strings, blocks;
    while (words.size() < 1000000) words += "alpha beta gamma delta result entry item count limit ";
    for (int i = 0; names.size() < 1000000; i++) names += "name-" + std::to_string(i) + " ";
    while (strings.size() < 1000000) strings += "\"some text here\" \"more\" ";
    while (blocks.size() < 1000000) blocks += "[[a] [b [c]]] ";
    measure("known words", words, lexer::scan_request{});
    measure("new names", names, lexer::scan_request{}, 1);
    measure("strings", strings, lexer::scan_request{});
    measure("blocks", blocks, lexer::scan_request{});
}

