// error!: an object of ten fixed fields naming its kind by a category and an id of the error
// catalogue, made from a code, a block or a text, and formed as the "*** ..." lines the console
// prints. The catalogue is Kiv source (library/errors.kiv) loaded at start-up and checked against
// the runtime's own list (runtime/errors.h): the runtime names errors by catalogue position.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// The fields of every error, in this order.
enum error_field : uint32_t {
    EF_CODE, EF_TYPE, EF_ID, EF_ARG1, EF_ARG2, EF_ARG3, EF_NEAR, EF_WHERE, EF_STACK, EF_FILES, ERROR_FIELDS
};

struct error_state {
    cell catalog;     // the errors object: one field per category, each a category object
    cell prototype;   // the ten fields, all none
    cell state;       // the system's state object (stack-trace, source-files), none until it exists
    uint32_t stack_trace_symbol, source_files_symbol;
};
extern error_state error_s;

namespace error {
// Installed by the evaluator: the code position being evaluated (left none without one), the
// call-stack block of a stamped frame, and the text of that trace.
extern void (*near_hook)(cell* out);
extern void (*trace_in_hook)(cell* block, int32_t frame, int32_t level);
extern int32_t (*form_trace_hook)(cell* buffer, int32_t frame, int32_t level, int32_t part);

void init();
// Builds the catalogue from its source block (pairs of a category's set-word and its block of
// fields) and the prototype. Nothing is checked here: see check_catalog.
void load_catalog(const cell* source);
// Compares the loaded catalogue with the runtime's list of categories and ids; false with the
// first difference described in `problem` when they differ in any name, count or code.
bool check_catalog(char* problem, size_t size);

// New errors, pushed on the argument stack. create names the error by catalogue position and
// stores each argument given (null: left none).
cell* create(uint32_t category, uint32_t id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
             const cell* arg3 = nullptr);
void set_where(cell* error, const cell* value);
uint32_t get_type(const cell* error);   // symbol ids of the type and id words
uint32_t get_id(const cell* error);
inline uint32_t stack_index() { return EF_STACK; }
void set_stack(cell* error);
int32_t form_message(const cell* message, cell* buffer, const cell* error, int32_t part);

cell* make(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* error, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* error, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
}  // namespace error
