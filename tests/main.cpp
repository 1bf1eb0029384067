// Test entry: the runtime is started once per process, as the real entry does, then every test
// runs against it.
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    rt_install_filter();
    platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
    runtime::init();
    runtime::finish_start();   // as the real entry ends its start

    // GoogleTest prints narrow text; the runtime put both standard streams in UTF-16 mode.
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    return RUN_ALL_TESTS();
}
