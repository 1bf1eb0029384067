// Loading speed of the lexer on generated source: words, numbers, strings and nested blocks, as
// typical code holds them; the figure is bytes of source per second, measured in the process.
#include <algorithm>
#include <cstdio>
#include <string>

#include "bench/bench.h"
#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
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

// Best MB/s of several rounds, by wall time and by this thread's time. Each round starts from a
// collected heap without the previous round's values, as a program's load would: the values land
// in memory that is fresh or reused as the collector leaves it.
template <class F>
void measure_with(const char* what, size_t size, int rounds, F&& scan)
{
    cell* out = stack::push_slot();
    double wall = 1e9, cpu = 1e9;
    uint32_t cycles = 0;
    for (int r = 0; r < rounds; r++) {
        *out = cell{TYPE_UNSET, 0, 0, 0};
        collector::do_cycle();
        uint32_t before = collector_s.cycles;
        double t0 = bench::now(), c0 = thread_seconds();
        scan(out);
        wall = std::min(wall, bench::now() - t0);
        cpu = std::min(cpu, thread_seconds() - c0);
        cycles += collector_s.cycles - before;
    }
    stack::pop(1);
    // Thread time counts in steps of the scheduler's tick: a round shorter than that reads as 0.
    char by_thread[32] = "-";
    if (cpu > 0) std::snprintf(by_thread, sizeof by_thread, "%.1f", size / cpu / 1e6);
    std::printf("%s: %.1f MB/s, %s MB/s by thread time (best of %d, %.2f MB, %u collections)\n", what,
                size / wall / 1e6, by_thread, rounds, size / 1e6, cycles);
}

void measure(const char* what, const std::string& text, const lexer::scan_request& how, int rounds = 5)
{
    auto bytes = reinterpret_cast<const uint8_t*>(text.data());
    measure_with(what, text.size(), rounds,
                 [&](cell* out) { lexer::scan(out, bytes, uint32_t(text.size()), how, nullptr); });
}

// What a first touch of fresh memory costs on this machine: the values of a large load land in
// such memory, so this bounds how fast it can be.
void fresh_memory_cost()
{
    const size_t n = 32u << 20;
    double t0 = bench::now();
    auto* p = static_cast<volatile uint8_t*>(VirtualAlloc(nullptr, n, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!p) return;
    for (size_t i = 0; i < n; i += 4096) p[i] = 1;
    double t1 = bench::now();
    for (size_t i = 0; i < n; i += 64) p[i] = 2;
    double t2 = bench::now();
    VirtualFree(const_cast<uint8_t*>(p), 0, MEM_RELEASE);
    std::printf("(fresh memory here: %.1f ms per 10 MB at the first touch, %.2f ms when touched again)\n",
                (t1 - t0) * 10 / 32 * 1e3, (t2 - t1) * 10 / 32 * 1e3);
}

}  // namespace

KIV_BENCH(lexer_load)
{
    if (!datatype_s.types[TYPE_INTEGER].name) std::printf("(numbers left out: integer! is not registered)\n");
    if (!datatype_s.types[TYPE_PATH].name) std::printf("(paths left out: path! is not registered)\n");
    // A small input shows what each token costs; a large one what grows with the input (the
    // output stack, the names met, the memory the values take).
    std::string small = generated_source(100000);
    measure("load 100 KB", small, lexer::scan_request{}, 40);
    std::string text = generated_source(30000000);
    measure("load 30 MB", text, lexer::scan_request{}, 4);
    lexer::scan_request check;
    check.load = false;
    measure("scan only 30 MB", text, check, 4);
    // As transcode reads a string! (the text of a large ASCII one where it lies).
    cell* source = string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
    measure_with("transcode of a 30 MB string", text.size(), 4,
                 [&](cell* out) { lexer::scan_from_string(out, source, -1, lexer::scan_request{}, nullptr); });
    stack::pop(1);
    fresh_memory_cost();
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
