// Test entry: the runtime is started once per process, as the real entry does, then every test
// runs against it.
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "runtime/boot.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    rt_install_filter();
    platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
    // For the start's failure path (tests/runtime/start.sh): refuse the n-th request for system
    // memory made while the runtime starts.
    char refuse[16];
    DWORD n = GetEnvironmentVariableA("KIV_TEST_REFUSE_MEMORY", refuse, sizeof refuse);
    if (n > 0 && n < sizeof refuse) memory_fail_virtual_after(uint32_t(std::strtoul(refuse, nullptr, 10)));
    runtime::start();   // as the real entry starts
    // Only the start's requests are refused: the boot, which has no catch of its own here, makes
    // more of them as the library grows.
    memory_fail_virtual_after(0);
    runtime::boot();

    // GoogleTest prints narrow text; the runtime put both standard streams in UTF-16 mode.
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    return RUN_ALL_TESTS();
}
