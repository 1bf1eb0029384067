// port!: an object (fields spec, scheme, actor, awake, state, data, extra) standing for a resource
// reached through a scheme. Every series and port action on a port is forwarded to the function
// of the same name in the port's actor object, with the action's arguments in spec order.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace port {

constexpr uint32_t PORT_CLASS = 2;

void init();

// make port!: the spec object (or a fresh copy of system/standard/url-parts) with its scheme word
// selects the scheme in system/schemes, whose actor becomes the port's. Pushed.
cell* make(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);

// The port's actor object; anything else raises access/invalid-port.
cell get_actor(const cell* port);
// Calls the actor's function named by the action with the `count` argument cells at args (on the
// argument stack): the result is written to out. An actor without such a function raises
// access/no-port-action naming the action.
cell* call_actor(const cell* actor, const char* action, cell* args, uint32_t count, cell* out);

cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
cell* write(cell* target, cell* data, bool binary, bool lines, bool info, bool append, cell* part, cell* seek,
            cell* allow, cell* as);

}  // namespace port
