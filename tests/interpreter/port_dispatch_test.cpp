// A port whose actor is a handle! runs the native routines of the handle's table for the series and
// port actions; a slot the table leaves empty, or a handle that is no such table, is refused as
// access/no-port-action instead of being called through.
#include <string>

#include "../datatypes/objects.h"
#include "runtime/datatypes/handle.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "support/outcome.h"

namespace {

using namespace tv;

void native_length(bool, const int32_t*) { *stack_s.arguments = integer(42); }

actions::native_port_actions length_only()
{
    actions::native_port_actions t{};
    t.slots[ACT_LENGTH_Q - ACT_APPEND] = native_length;
    return t;
}
const actions::native_port_actions table = length_only();

class PortDispatch : public Values {
protected:
    // A port! whose actor is a handle of the kind pointing to the address, pushed.
    static cell* port_with(uintptr_t address, uint32_t kind)
    {
        cell* port = tob::object_of("spec: none scheme: 'native actor: none");
        cell* actor = handle::push(address, kind);
        cell w = tob::word("actor");
        *object::select_word(port, &w) = *actor;
        cell_set_type(port, TYPE_PORT);
        return port;
    }
    // The action of the slot on the value with one extra argument, as the interpreter runs it:
    // the molded result, or "error <code>".
    static std::string run(uint32_t slot, const cell* port)
    {
        return test::outcome_of([&] {
            cell p = *port;
            stack::mark(stack_s.anon_symbol, 0, FRAME_NATIVE << FRAME_KIND_SHIFT);
            stack::push(&p);
            stack::push(&p);
            static const int32_t none_used[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
            actions::entry(slot)(false, none_used);
            std::string r = mold(stack_s.arguments);
            stack::unwind();
            return r;
        });
    }
};

TEST_F(PortDispatch, HandleActorRunsItsTableAndRefusesWhatItLacks)
{
    const std::string refused = "error " + std::to_string(code(ERR_ACCESS, err::NO_PORT_ACTION));
    struct row {
        const char* name;
        uintptr_t address;
        uint32_t kind;
        uint32_t slot;
        std::string expected;
    } rows[] = {
        {"a slot the table fills runs its routine", uintptr_t(&table), handle::KIND_PORT_ACTIONS, ACT_LENGTH_Q, "42"},
        {"an empty slot is refused", uintptr_t(&table), handle::KIND_PORT_ACTIONS, ACT_APPEND, refused},
        {"the last slot is in the table", uintptr_t(&table), handle::KIND_PORT_ACTIONS, ACT_WRITE, refused},
        {"a null table is refused", 0, handle::KIND_PORT_ACTIONS, ACT_LENGTH_Q, refused},
        {"a handle of another kind is never read as a table", uintptr_t(&table), handle::KIND_WINDOW, ACT_LENGTH_Q,
         refused},
    };
    for (const row& r : rows) {
        cell* port = port_with(r.address, r.kind);
        EXPECT_EQ(run(r.slot, port), r.expected) << r.name;
    }
}

TEST_F(PortDispatch, ActionsBeforeTheSeriesSlotsKeepThePortsOwnRoutine)
{
    cell* port = port_with(uintptr_t(&table), handle::KIND_PORT_ACTIONS);
    std::string formed = run(ACT_FORM, port);
    EXPECT_NE(formed.find("make port! ["), std::string::npos) << formed;
}

}  // namespace
