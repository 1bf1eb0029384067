// Requests to a loopback server (bench/http-loopback starts it and passes its address in
// KIV_HTTP_BENCH_URL): requests per second over 1,000 small GETs, and MB/s of one 64 MB body read
// as binary!. Without the variable the lines say so.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/stack.h"
#include "runtime/io/http.h"
#include "runtime/memory.h"

namespace {

cell* push_url(const std::string& text)
{
    cell* url = string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                                stack::push_slot(), 0);
    url->header = TYPE_URL;
    return url;
}

const char* base_url()
{
    const char* base = std::getenv("KIV_HTTP_BENCH_URL");
    if (!base) std::printf("http: n/a (run bench/http-loopback, which starts the loopback server)\n");
    return base;
}

}  // namespace

KIV_BENCH(http_requests)
{
    const char* base = base_url();
    if (!base) return;
    stack::scope scope;
    cell* url = push_url(std::string(base) + "/lines");
    uint32_t get = symbol::make("get");
    cell* slot = stack::push_slot();
    constexpr int COUNT = 1000;
    int failed = 0;
    double t0 = bench::now();
    for (int i = 0; i < COUNT; i++) {
        simple_io::request_http(slot, get, url, nullptr, nullptr, false, false, false);
        failed += cell_type(slot) != TYPE_STRING;
    }
    double t = bench::now() - t0;
    std::printf("http: %d small GETs in %.2f s, %.0f requests/s%s\n", COUNT, t, COUNT / t,
                failed ? " (some failed)" : "");
}

KIV_BENCH(http_body)
{
    const char* base = base_url();
    if (!base) return;
    stack::scope scope;
    constexpr uint32_t SIZE = 64u << 20;
    cell* url = push_url(std::string(base) + "/bytes/" + std::to_string(SIZE));
    uint32_t get = symbol::make("get");
    cell* slot = stack::push_slot();
    bool ok = true;
    double t = bench::best_seconds(3, [&] {
        simple_io::request_http(slot, get, url, nullptr, nullptr, true, false, false);
        ok = ok && cell_type(slot) == TYPE_BINARY && series_used_bytes(series_of(slot->data2)) == SIZE;
        *slot = none_value;
    });
    if (ok)
        std::printf("http: 64 MB body as binary! in %.3f s, %.1f MB/s\n", t, 64.0 / t);
    else
        std::printf("http: 64 MB body n/a (the request failed)\n");
}
