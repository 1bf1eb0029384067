// A native called by a caller that did not check its arguments (compiled code sets check) tests
// them against its spec itself: the mandatory arguments and those of the refinements used, never
// the none cells that stand for an unused refinement's arguments.
#include <string>

#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "support/values.h"

namespace {

using namespace tv;

class NativeChecks : public Values {};

TEST_F(NativeChecks, ACallerThatDidNotCheckHasTheArgumentsChecked)
{
    struct row {
        const char* name;
        const char* window;   // new-line's cells: position, value, size
        int32_t skip;         // the window index of /skip's argument, -1 when unused
        uint32_t error;
        const char* argument;   // the argument the error names
    };
    const uint32_t EXPECT_ARG = code(ERR_SCRIPT, err::EXPECT_ARG);
    const row rows[] = {
        {"all well", "[a b] true 2", 2, 0, ""},
        {"an unused refinement's argument is not checked", "[a b] true \"x\"", -1, 0, ""},
        {"a used refinement's argument is", "[a b] true \"x\"", 2, EXPECT_ARG, "size"},
        {"a mandatory argument", "5 true 2", -1, EXPECT_ARG, "position"},
        {"the second mandatory argument", "[a b] 1 2", -1, EXPECT_ARG, "value"},
    };
    for (const row& r : rows) {
        cell* top = stack_s.top;
        call_frame* frames = stack_s.frame_top;
        cell* arguments = stack_s.arguments;
        cell* cells = read(r.window);
        cell* window = stack::mark(stack_s.anon_symbol, 0, FRAME_NATIVE << FRAME_KIND_SHIFT);
        for (uint32_t i = 0; i < 3; i++) stack::push(block::rs_head(cells) + i);
        int32_t refs[2] = {-1, r.skip};
        interpreter::catch_point point;
        uint32_t error = 0;
        std::string named;
        try {
            natives::entry(natives::N_NEW_LINE)(true, refs);
        } catch (const script_error_unwind&) {
            error = raised_error_get().code();
            cell who = raised_error_get().args[0], arg = raised_error_get().args[2];
            named = test::form(who) + " " + test::form(arg);
            point.restore();
        }
        EXPECT_EQ(error, r.error) << r.name;
        if (r.error) EXPECT_EQ(named, std::string("new-line ") + r.argument) << r.name;
        else EXPECT_EQ(cell_type(window), uint32_t(TYPE_BLOCK)) << r.name << ": the native ran";
        stack_s.frame_top = frames;
        stack_s.arguments = arguments;
        stack_s.top = top;
    }
}

}  // namespace
