// Test entry: the runtime is started once per process, as the real entry does, then every test
// runs against it.
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    rt_install_filter();
    platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
    runtime::init();
    // Start-up is over, as at the real entry: allocations may collect, words are no longer
    // copied into the root block.
    collector_s.enabled = 1;
    system_rec.booting = 0;
    runtime::boot();
    // GoogleTest prints narrow text; the runtime put both standard streams in UTF-16 mode.
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    return RUN_ALL_TESTS();
}
