// The boot: datatype words, then the embedded Kiv sources of the language evaluated in order.
// Like runtime.cpp it sits above every layer it starts: it reads sources with the lexer and runs
// them with the interpreter, and it installs the hooks that let the lower layers reach both.
#include "runtime/boot.h"

#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/io/os_info.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/lexer.h"
#include "runtime/rterror.h"
#include "runtime/system.h"

namespace {

void set_global(const char* name, const cell* value)
{
    cell w = *word::load(name);
    word::set(&w, value);
}

// Every datatype id has its word, registered or not, so that specs and typesets may name types
// whose routines come later. Made while the booting flag is set, as the type table's own words.
void datatype_words()
{
    struct booting_scope {
        uint32_t saved = system_s.booting;
        booting_scope() { system_s.booting = 1; }
        ~booting_scope() { system_s.booting = saved; }
    } booting;
    for (uint32_t id = 1; id <= TYPE_EVENT; id++) {
        cell value = datatype::value_of(id);
        set_global(datatype::name_of(id), &value);
    }
}

// `make` itself is an action its own source makes: a first one, of slot 1 and an open spec,
// serves until actions.kiv defines the real one.
void first_make()
{
    cell* spec = block::make_at(stack::push_slot(), 2);
    block::rs_append(spec, word::load("type"));
    block::rs_append(spec, word::load("spec"));
    cell* make_block = block::make_at(stack::push_slot(), 2);
    block::rs_append(make_block, spec);
    cell slot{TYPE_INTEGER, 0, ACT_MAKE, 0};
    block::rs_append(make_block, &slot);
    cell proto = datatype::value_of(TYPE_ACTION);
    cell* made = native::make(&proto, make_block, TYPE_ACTION);
    set_global("make", made);
    stack::pop(3);
}

[[noreturn]] void boot_fault(const std::string& text)
{
    std::string line = "boot: " + text;
    hooks_call_3(line.c_str(), uint32_t(line.size()), 1);
    runtime_error(RT_ASSERTION, rt_error_address());
}

// The block of source n in the boot image: the image's first value holds one block per source.
cell* image_source(uint32_t n)
{
    const cell* sources = kivbin::boot_cell(0);
    if (!sources || cell_type(sources) != TYPE_BLOCK || block::rs_length(sources) != runtime::BOOT_SOURCES)
        boot_fault("the boot image holds no sources");
    return stack::push(block::rs_head(sources) + n);
}

const char* const action_names[ACTION_SLOTS] = {
    "make", "random", "reflect", "to", "form", "mold", nullptr, nullptr, nullptr, "absolute", "add", "divide",
    "multiply", "negate", "power", "remainder", "round", "subtract", "even?", "odd?", "and~", "complement", "or~",
    "xor~", "append", "at", "back", "change", "clear", "copy", "find", "head", "head?", "index?", "insert",
    "length?", "move", "next", "pick", "poke", "put", "remove", "reverse", "select", "sort", "skip", "swap", "tail",
    "tail?", "take", "trim", "create", "close", "delete", "modify", "open", "open?", "query", "read", "rename",
    "update", "write",
};

// Each native number and action slot is named by the word the runtime expects.
void check_numbering()
{
    for (uint32_t slot = 1; slot <= ACTION_SLOTS; slot++) {
        const char* name = action_names[slot - 1];
        if (!name) continue;
        cell w = *word::load(name);
        const cell* v = word::get(&w);
        if (cell_type(v) != TYPE_ACTION || v->data1 != slot)
            boot_fault(std::string("action ") + std::to_string(slot) + " is not " + name);
    }
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; n++) {
        cell w = *word::load(natives::name_of(n));
        const cell* v = word::get(&w);
        if (cell_type(v) != TYPE_NATIVE || v->data1 != n)
            boot_fault(std::string("native ") + std::to_string(n) + " is not " + natives::name_of(n));
        natives::record(n, v);
    }
}

// The system object's links to the runtime: the catalogue and the error prototype the runtime
// made from source 0, the global context as system/words (class -1, and the context's own owner,
// so `context?` of a global word gives it), and the state object that error forming reads.
void link_system()
{
    cell system = *word::get(word::load("system"));
    if (cell_type(&system) != TYPE_OBJECT) boot_fault("the library makes no system object");
    stack::scope keep;
    cell* held = keep.push(system);
    cell catalog = object::field_of(held, "catalog");
    cell standard = object::field_of(held, "standard");
    if (cell_type(&catalog) != TYPE_OBJECT || cell_type(&standard) != TYPE_OBJECT)
        boot_fault("system/catalog or system/standard is not an object");
    context::put_value(catalog.data1, symbol::make("errors"), &error_s.catalog);
    context::put_value(standard.data1, symbol::make("error"), &error_s.prototype);
    cell words{TYPE_OBJECT, context_s.global, uint32_t(-1), 0};
    *context::owner_of(context_s.global) = words;
    context::put_value(held->data1, symbol::make("words"), &words);
    error_s.state = object::field_of(held, "state");
}

// The command line as the library's start-up splits it: its raw text goes to system/script/args.
void extract_boot_args()
{
    cell script = object::system_field({"script"});
    if (cell_type(&script) != TYPE_OBJECT) boot_fault("system/script is not an object");
    stack::scope keep;
    cell* held = keep.push(script);
    cell* line = platform::get_cmdline(keep.push(unset_value));
    context::put_value(held->data1, symbol::make("args"), line);
    natives::call_library("extract-boot-args", nullptr, 0);
}

// ---- hooks for the lower layers -----------------------------------------------------------------

cell* load_text(const cell* text)
{
    cell* out = stack::push_slot();
    lexer::scan_from_string(out, text, -1, lexer::scan_request{}, nullptr);
    return out;
}

}  // namespace

// Each source may use the words of the ones before it while it is evaluated; the system object
// comes last, since its fields hold functions and values of every other source.
const char* const runtime::boot_sources[BOOT_SOURCES] = {
    "library/errors.kiv", "library/base.kiv", "library/typesets.kiv", "library/actions.kiv", "library/natives.kiv",
    "library/ops.kiv", "library/reflection.kiv", "library/routines.kiv", "library/predicates.kiv",
    "library/core.kiv", "library/helpers.kiv", "library/conversions.kiv", "library/files.kiv",
    "library/system.kiv", "library/json.kiv", "library/csv.kiv", "library/codecs.kiv", "library/url.kiv",
    "library/loading.kiv", "library/preprocessor.kiv", "library/scripts.kiv", "library/cache.kiv",
    "library/shortcuts.kiv", "library/reactivity.kiv", "library/help.kiv", "library/tracing.kiv",
    "view/faces.kiv", "view/fonts.kiv", "view/rich-text.kiv", "view/utils.kiv", "view/events.kiv",
    "view/view.kiv", "view/windows.kiv", "view/handlers.kiv", "view/vid/vid.kiv", "view/vid/layout.kiv",
    "view/platform.kiv",
    "console/console.kiv", "console/terminal.kiv", "console/shell.kiv",
};

cell* (*runtime::source_hook)(uint32_t n) = image_source;

bool runtime::image_sources_q() { return source_hook == image_source; }

void runtime::boot()
{
    // The boot sources are the same in every run: the stress mode's collection at every
    // allocation would only repeat itself here, at the start of every test process.
    struct unstressed {
        uint32_t every = collector_s.stress_every;
        unstressed() { collector_s.stress_every = 0; }
        ~unstressed() { collector_s.stress_every = every; }
    } natural;
    interpreter_s.load_text = load_text;
    datatype_words();
    first_make();
    // The functions the sources make are the library: trace events leave their bodies out.
    struct library_scope {
        library_scope() { system_s.library = 1; }
        ~library_scope() { system_s.library = 0; }
    } library;
    for (uint32_t n = 1; n < BOOT_SOURCES; n++) {   // the catalogue, source 0, is read at start
        cell* code = source_hook(n);
        interpreter::eval(code, false);
        stack::pop(2);
    }
    check_numbering();
    link_system();
    kivbin::register_callables();
    extract_boot_args();
}
