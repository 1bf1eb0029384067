// Test entry: the runtime is started once per process, as the real entry does, then every test
// runs against it.
#include <gtest/gtest.h>

#include "runtime/collector.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    rt_install_filter();
    runtime::init();
    collector_s.enabled = 1;
    return RUN_ALL_TESTS();
}
