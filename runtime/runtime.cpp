// runtime::init: the start routines of the runtime's modules, in the order the later ones rely
// on (memory before datatypes, datatypes before the root block, the stacks inside the root block).
#include "runtime/runtime.h"

#include <cstdio>
#include <new>

#include "runtime/casefold.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/action.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/vector.h"
#include "runtime/boot.h"
#include "runtime/boot_image.h"
#include "runtime/errors.h"
#include "runtime/extern.h"
#include "runtime/hashtable.h"
#include "runtime/hooks.h"
#include "runtime/image_layer.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/parse.h"
#include "runtime/stack.h"
#include "runtime/io/checksum.h"
#include "runtime/io/os_info.h"
#include "runtime/io/process.h"
#include "runtime/io/simple_io.h"
#include "runtime/io/http.h"
#include "runtime/io/compress.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/lexer.h"
#include "runtime/io/library_routines.h"
#include "runtime/io/natives_io.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"
#include "runtime/random.h"
#include "runtime/reftable.h"
#include "runtime/rterror.h"
#include "view/backend/windows/gui.h"

system_state system_s;

namespace {

void keep_series(node_ref node) { collector::keep(node); }

void mark_table(node_ref table) { hashtable_gc_mark(table, keep_series, collector::mark_block); }

// Roots that live outside the root block: the symbol index, the global context and the series a
// mold or compare is walking through.
void mark_runtime_roots()
{
    if (symbol_s.table) mark_table(symbol_s.table);
    if (context_s.global) collector::mark_context(context_s.global);
    cycle_stack_mark(collector::mark_block);
}

// The error catalogue: the first source of the boot image. One that does not load, or differs from
// the runtime's own list of errors, ends start-up: the runtime would raise errors by the wrong
// positions.
void load_error_catalogue()
{
    char problem[256];
    std::snprintf(problem, sizeof problem, "%s does not load", runtime::boot_sources[0]);
    cell* out = runtime::source_hook(0);
    bool loaded = true;
    try {
        error::load_catalog(out);
    } catch (const script_error_unwind&) {
        loaded = false;
        std::snprintf(problem, sizeof problem, "%s does not load: error %u", runtime::boot_sources[0],
                      raised_error_get().code());
    }
    stack::pop(1);
    if (loaded && error::check_catalog(problem, sizeof problem)) return;
    rt_print_line({"*** error catalogue: ", static_cast<const char*>(problem)});
    runtime_error(RT_ASSERTION, rt_error_address());
}

}  // namespace

void runtime::init()
{
    system_s.booting = 1;
    hooks_init();
    platform_init();
    random_::init();
    memory_init();
    cycle_stack_init();
    machine_stack_init();
    extern_init();

    datatype::tables_init();
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();   // after series!, whose routines it inherits
    url::init();      // after string!, whose routines it inherits
    file::init();     // after url!, whose routines it inherits
    integer::init();
    char_::init();    // after integer!, whose routines it inherits
    float_::init();
    symbol::init();
    context::init();
    word::init();
    lit_word::init();
    set_word::init();
    get_word::init();
    refinement::init();
    native::init();
    action::init();
    op::init();
    path::init();
    lit_path::init();
    set_path::init();
    get_path::init();
    function::init();
    routine::init();
    paren::init();
    hash::init();     // after block!, whose routines it inherits
    map::init();
    vector::init();   // after string!, under which it is registered
    issue::init();
    triple::init();
    typeset::init();
    bitset::init();
    time_::init();    // after float!, whose routines it inherits
    object::init();
    error::init();   // after object!, whose routines it inherits
    pair::init();
    percent::init();  // after float!
    tuple::init();
    binary::init();   // after string!
    tag::init();
    email::init();
    handle::init();   // after integer!
    port::init();     // after object!, whose routines it inherits
    ref::init();
    point2D::init();
    point3D::init();
    date::init();
    money::init();
    wic_init();       // the imaging factory and the handle class "image", before image!
    image::init();

    node_frame_new(NODE_FRAME_NODES);
    series_frame_new();

    root_block_init();
    stack_s.args_node = block::make_fixed(block_alloc_tail(&root_block), stack::ARGS_CELLS)->data2;
    stack_s.frames_node = block::make_fixed(block_alloc_tail(&root_block), stack::FRAME_CELLS)->data2;
    stack::init();   // before the symbol table: building a table keeps its parts on the stack
    symbol::block_init();

    context::global_init();
    casefold_init();
    symbol::table_init();
    context::words_init();
    word::words_init();
    runtime_words_init();
    refinement_words_init();
    natives::init();
    actions::init();
    parse::init();
    ownership_init();
    checksum::init();
    simple_io::init();   // after the natives and datatypes whose slots it fills
    simple_io::http_init();   // url!'s read and write, likewise
    ext_process::init();
    platform::init();
    compress::init_words();
    lexer::init();
    io_natives::init();
    library_routines::init();   // after the io layer, whose services its entries call
    gui::module_init();         // the GUI back end: event!, its routines, wait's pass of the loop
    kivbin::init();
    // The library's values, with the collector held off (the first stage, which makes the image,
    // reads the sources as text instead).
    if (runtime::image_sources_q()) kivbin::boot_load(kiv_boot_image, kiv_boot_image_size);
    interpreter::init();
    load_error_catalogue();

    reftable_init();
    collector::init();
    collector::hashtable_mark_hook = mark_table;
    collector::register_marker(mark_runtime_roots);
}

void runtime::finish_start()
{
    collector_s.enabled = 1;
    system_s.booting = 0;
}

void runtime::start()
{
    // The outermost catch. Nothing handles a script error yet while the runtime starts (no memory,
    // a full root block): it is a failure to start, runtime error 94, as an allocation failure is,
    // never an exception that reaches std::terminate.
    try {
        init();
        finish_start();
    } catch (const script_error_unwind&) {
        runtime_error(RT_NO_MEMORY, rt_error_address());
    } catch (const std::bad_alloc&) {
        runtime_error(RT_NO_MEMORY, rt_error_address());
    } catch (const system_throw_unwind&) {
        rt_top_handler();
    }
}
