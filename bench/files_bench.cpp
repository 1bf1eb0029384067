// Speed of the file layer (256 MB written and read back, binary and text) and of process calls
// (ms per call/wait of a child that exits at once; MB/s captured over both pipes). With python3's
// figures for the same files (bench/python-files-reference passes them in KIV_BENCH_PYTHON),
// each file line also gives Kiv's time over Python's.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/io/byte_input.h"
#include "runtime/io/process.h"
#include "runtime/io/simple_io.h"

namespace {

constexpr uint32_t FILE_BYTES = 256u << 20;
constexpr uint32_t LINE = 64;   // 63 characters and a line feed

double python_figure(const char* name)
{
    const char* all = std::getenv("KIV_BENCH_PYTHON");
    if (!all) return 0;
    std::string key = std::string(name) + "=";
    const char* found = std::strstr(all, key.c_str());
    return found ? std::atof(found + key.size()) : 0;
}

void report(const char* name, double mb_per_s)
{
    double python = python_figure(name);
    if (python > 0)
        std::printf("%-14s %8.1f MB/s   python %8.1f MB/s   time ratio %.2fx\n", name, mb_per_s, python,
                    python / mb_per_s);
    else
        std::printf("%-14s %8.1f MB/s\n", name, mb_per_s);
}

// Best of three, as MB/s of `size` bytes.
template <class F>
double speed(uint64_t size, F&& work)
{
    double best = 1e30;
    for (int i = 0; i < 3; i++) {
        double t0 = bench::now();
        work();
        double t = bench::now() - t0;
        if (t < best) best = t;
    }
    return double(size) / best / 1e6;
}

// A file! cell naming the bench's folder (KIV_BENCH_DIR, a Kiv file name) plus a name, on the stack.
cell* file_named(const char* name)
{
    const char* dir = std::getenv("KIV_BENCH_DIR");
    std::string full = std::string(dir ? dir : "") + name;
    cell* c = string::load(reinterpret_cast<const uint8_t*>(full.data()), uint32_t(full.size()), 0);
    c->header = TYPE_FILE;
    return c;
}

KIV_BENCH(files)
{
    stack::scope scope;
    std::string line(LINE - 1, 'k');
    line += '\n';
    std::string text;
    text.reserve(FILE_BYTES);
    while (text.size() < FILE_BYTES) text += line;
    cell* data = string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
    cell* bin = stack::push_slot();
    binary_of_bytes(bin, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    text.clear();
    text.shrink_to_fit();
    cell* name = file_named("kiv-bench-binary");
    report("write_binary", speed(FILE_BYTES, [&] { simple_io::write(name, bin, -1, -1, true, false, false); }));
    report("read_binary", speed(FILE_BYTES, [&] {
        cell* slot = scope.push(*name);
        simple_io::read(slot, -1, -1, true, false);
        stack::pop(1);
    }));
    simple_io::delete_(name);
    name = file_named("kiv-bench-text");
    report("write_text", speed(FILE_BYTES, [&] { simple_io::write(name, data, -1, -1, false, false, false); }));
    report("read_text", speed(FILE_BYTES, [&] {
        cell* slot = scope.push(*name);
        simple_io::read(slot, -1, -1, false, false);
        stack::pop(1);
    }));
    simple_io::delete_(name);
}

std::wstring child(const wchar_t* arguments)
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return L"\"" + path.substr(0, path.find_last_of(L'\\') + 1) + L"kiv-child.exe\" " + arguments;
}

KIV_BENCH(process)
{
    constexpr int CALLS = 20;
    ext_process::redirect none_in, none_out, none_err;
    double t0 = bench::now();
    for (int i = 0; i < CALLS; i++) {
        ext_process::run_options options;
        options.wait = true;
        ext_process::run(child(L"exit 0"), options, none_in, none_out, none_err);
    }
    std::printf("call/wait      %8.1f ms per call\n", (bench::now() - t0) * 1000 / CALLS);
    constexpr uint64_t HALF = 32u << 20;
    double mb = speed(2 * HALF, [&] {
        ext_process::redirect in, out, err;
        out.kind = err.kind = ext_process::redirect::CAPTURE;
        ext_process::run_options options;
        ext_process::run(child(L"out 33554432 err 33554432"), options, in, out, err);
    });
    std::printf("capture        %8.1f MB/s (64 MB over both pipes)\n", mb);
}

}  // namespace
