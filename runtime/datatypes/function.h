// function!: a callable with a spec block and a body bound to a context of its own. This module
// owns the spec checker shared with the func and function natives, the maker, the local-word
// collection of the function native, the locals of a call, reflection, form, mold and compare.
// There is no compiled code: the machine-entry cells of the more block stay unset.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// function! cell: header 24, plus TRACE / NO_TRACE from the spec's attribute block; data1 the
// context node (kind 1, values on the argument stack while a call runs; its owner cell holds a
// copy of the function); data2 the spec node (the spec from its first value); data3 the more node.
namespace function {
constexpr uint32_t NO_TRACE = 0x200, TRACE = 0x400;
// The more block's cells: the body (a deep copy, bound), the argument cache (unset until the
// evaluator builds it), two machine entries (unset), and the op! made from the function.
enum more_cell : uint32_t { MORE_BODY, MORE_CACHE, MORE_ENTRY, MORE_OP, MORE_ENTRY2, MORE_CELLS };

void init();

// Installed by the evaluator: the one way code below it calls Kiv code (change handlers, port
// actors, sort comparisons), interpreter::call_value. Null until the evaluator starts.
extern cell (*call_hook)(const cell* callable, const cell* name, const cell* args, uint32_t count, bool whole);

// Checks a spec block from its head; returns its TRACE / NO_TRACE flags. Raises script/bad-func-def
// (the spec), script/invalid-type-spec (a type block value), script/no-value (an unset type word)
// or script/dup-vars (the later of two words of one name).
uint32_t validate_spec(const cell* spec);
// Makes a function of the spec and a deep copy of the body, bound to a new context unless one is
// given (then the copy stays unbound); leaves it on the argument stack's top. Returns the context.
node_ref push(const cell* spec, const cell* body, node_ref context, uint32_t flags);
// The function native's locals: the set-words of the body (deep) and the words that foreach,
// remove-each and repeat set, less the spec's own words; they are appended to the spec after
// /local (added when missing). A spec holding /extern is cut there first. Returns the collected
// words, a block pushed on the argument stack.
cell* collect_body_words(cell* spec, const cell* body);
// The local slots of a spec read from head: 1 for /local and 1 per word! after it; without
// /local 0, or -1 when strict.
int32_t count_locals(node_ref spec, uint32_t head, bool strict);
// The default locals of a call: false (the /local flag), then n - 1 nones.
void init_locals(uint32_t n);

cell* make(cell* proto, cell* spec, uint32_t type);
cell* reflect(cell* value, cell* field);   // the result is written into value
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
// Same datatype only; equality and sort codes order by the more node, so only a function itself
// equals it (routine! shares this).
int32_t compare(cell* value1, cell* value2, int32_t op);
}  // namespace function
