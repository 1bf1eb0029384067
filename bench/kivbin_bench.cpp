// Start-up and KIVBIN: the time from the process's creation to the end of the boot (the boot image
// decoded and the library evaluated), measured inside the process, with its parts; and the compact
// encoder's and decoder's speed on the library's own values, in MB of KIVBIN per second.
#include <cstdio>
#include <vector>

#include "bench/bench.h"
#include "runtime/boot_image.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/stack.h"
#include "runtime/io/kivbin.h"

namespace {

// Seconds since the process was created, on the system clock the creation time is kept in.
double seconds_since_creation()
{
    FILETIME created, ended, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    GetSystemTimePreciseAsFileTime(&now);
    auto ticks = [](FILETIME f) { return double(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime; };
    return (ticks(now) - ticks(created)) * 1e-7;
}

}  // namespace

KIV_BENCH(startup)
{
    const bench::start_times& t = bench::started;
    double since_boot = bench::now() - t.booted;
    std::printf("process creation to the end of the boot   %8.1f ms\n", (seconds_since_creation() - since_boot) * 1e3);
    std::printf("  runtime start (image decoded)            %8.1f ms\n", (t.started - t.entry) * 1e3);
    std::printf("  boot (library evaluated)                 %8.1f ms\n", (t.booted - t.started) * 1e3);
}

KIV_BENCH(kivbin)
{
    std::vector<uint8_t> image(kiv_boot_image, kiv_boot_image + kiv_boot_image_size);
    const cell* sources = kivbin::boot_cell(0);
    if (!sources) return (void)std::puts("no boot image");
    collector_hold held;   // the figures are of the codec, not of the collector
    const int rounds = 40;
    double t0 = bench::now();
    size_t written = 0;
    for (int r = 0; r < rounds; r++) written += kivbin::encode_cp(sources).size();
    double t1 = bench::now();
    size_t read = 0;
    for (int r = 0; r < rounds; r++) {
        stack::scope scope;
        cell* out = block::make_at(scope.push(cell{TYPE_UNSET, 0, 0, 0}), 4);
        kivbin::decode(image.data(), image.size(), out, kivbin::MODE_CODEC);
        read += image.size();
    }
    double t2 = bench::now();
    std::printf("image %u bytes\n", kiv_boot_image_size);
    std::printf("encode %8.1f MB/s\n", written / (t1 - t0) / 1e6);
    std::printf("decode %8.1f MB/s\n", read / (t2 - t1) / 1e6);
}
