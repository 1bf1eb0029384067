// runtime::init: the start routines of the runtime's modules, in the order the later ones rely
// on (memory before datatypes, datatypes before the root block, the stacks inside the root block).
#include "runtime/runtime.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/scalars.h"
#include "runtime/datatypes/series.h"
#include "runtime/extern.h"
#include "runtime/hooks.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/reftable.h"

system_record system_rec;

void runtime::init()
{
    system_rec.booting = 1;
    hooks_init();
    platform_init();
    memory_init();
    cycle_stack_init();
    extern_init();

    datatype::tables_init();
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();

    node_frame_new(NODE_FRAME_NODES);
    series_frame_new();

    root_block_init();
    stack_s.args_node = block::make_fixed(block_alloc_tail(&root_block), stack::ARGS_CELLS)->data2;
    stack_s.frames_node = block::make_fixed(block_alloc_tail(&root_block), stack::FRAME_CELLS)->data2;

    stack::init();
    reftable_init();
    collector_init();
}
