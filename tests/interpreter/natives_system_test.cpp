// The clock and sleep natives through the platform's seams: the zone a time-zone bias gives (the
// sign kept apart from the hours, so offsets between -1 h and 0 and half hours come out right),
// and the sleep a wait asks for (never below 1 ms, never from an unchecked conversion).
#include <cmath>
#include <cstdint>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/interpreter/natives.h"
#include "runtime/platform.h"
#include "support/fixtures.h"

namespace {

int32_t zone_bias;
uint32_t slept;

void fake_zone(zone_data* out) { *out = zone_data{zone_bias, 0, 0, ZONE_UNKNOWN}; }
void fake_sleep(uint32_t ms) { slept = ms; }

class NativesSystem : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        saved_zone = platform_s.zone;
        saved_sleep = platform_s.sleep;
        platform_s.zone = fake_zone;
        platform_s.sleep = fake_sleep;
    }
    void TearDown() override
    {
        platform_s.zone = saved_zone;
        platform_s.sleep = saved_sleep;
        StackTest::TearDown();
    }
    void (*saved_zone)(zone_data*) = nullptr;
    void (*saved_sleep)(uint32_t) = nullptr;
};

TEST_F(NativesSystem, NowZoneKeepsTheSignApartFromTheHours)
{
    struct row {
        int32_t bias;     // minutes to add to local time for UTC
        double seconds;   // now/zone
    };
    const row rows[] = {{210, -12600.0}, {30, -1800.0}, {-345, 20700.0}, {0, 0.0}, {-60, 3600.0}};
    for (const row& r : rows) {
        zone_bias = r.bias;
        cell* slot = stack::push_slot();
        stack_s.arguments = slot;
        int32_t refs[10] = {-1, -1, -1, -1, 0, -1, -1, -1, -1, -1};   // /zone
        natives::now_star(false, refs);
        EXPECT_EQ(cell_type(slot), uint32_t(TYPE_TIME)) << r.bias;
        EXPECT_EQ(cell_float(slot), r.seconds) << r.bias;
    }
}

TEST_F(NativesSystem, WaitSleepsAtLeastOneMillisecondAndNeverConvertsAnOutOfRangeFloat)
{
    struct row {
        double seconds;
        uint32_t ms;
    };
    const row rows[] = {{0.0, 1}, {1.5, 1500}, {-3.0, 1}, {NAN, 1}, {1e300, 0xFFFFFFFEu}, {0.0004, 1}};
    for (const row& r : rows) {
        cell* slot = stack::push_slot();
        stack_s.arguments = slot;
        float_::make_at(slot, r.seconds);
        int32_t refs[1] = {-1};
        slept = 0;
        natives::wait_star(false, refs);
        EXPECT_EQ(slept, r.ms) << r.seconds;
        EXPECT_EQ(cell_type(slot), uint32_t(TYPE_NONE));
    }
}

}  // namespace
