// Script errors: raised by category and id through fire(), never returned as codes.
// The catalogue order is fixed: an error's code is category * 100 + the id's number.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

enum error_category : uint32_t {
    ERR_THROW = 0, ERR_NOTE, ERR_SYNTAX, ERR_SCRIPT, ERR_MATH, ERR_ACCESS, ERR_RESERVED1, ERR_RESERVED2,
    ERR_USER, ERR_INTERNAL
};

namespace err {
// throw
enum : uint32_t { BREAK, RETURN, THROW, CONTINUE, WHILE_COND };
// note
enum : uint32_t { NO_LOAD };
// syntax
enum : uint32_t { INVALID, MISSING, NO_HEADER, NO_KS_HEADER, BAD_HEADER, MALCONSTRUCT, BAD_CHAR };
// script
enum : uint32_t {
    NO_VALUE, NEED_VALUE, NOT_DEFINED, NOT_IN_CONTEXT, NO_ARG, EXPECT_ARG, EXPECT_VAL, EXPECT_TYPE,
    CANNOT_USE, INVALID_ARG, INVALID_TYPE, INVALID_TYPE_SPEC, INVALID_KEY_TYPE, INVALID_OP, NO_OP_ARG,
    BAD_OP_SPEC, INVALID_DATA, INVALID_PART, NOT_SAME_TYPE, NOT_SAME_CLASS, NOT_RELATED, BAD_FUNC_DEF,
    BAD_FUNC_ARG, BAD_FUNC_EXTERN, NO_REFINE, BAD_REFINES, BAD_REFINE, DUP_REFINE, WORD_FIRST, EMPTY_PATH,
    UNSET_PATH, INVALID_PATH, INVALID_PATH_SET, INVALID_PATH_GET, BAD_PATH_TYPE, BAD_PATH_TYPE2,
    BAD_PATH_SET, BAD_FIELD_SET, DUP_VARS, PAST_END, MISSING_ARG, OUT_OF_RANGE, INVALID_CHARS,
    INVALID_COMPARE, WRONG_TYPE, INVALID_REFINE_ARG, TYPE_LIMIT, SIZE_LIMIT, NO_RETURN, THROW_USAGE,
    LOCKED_WORD, PROTECTED, BAD_BAD, BAD_MAKE_ARG, BAD_TO_ARG, INVALID_MONTHS, INVALID_SPEC_FIELD,
    MISSING_SPEC_FIELD, MOVE_BAD, TOO_LONG, INVALID_CHAR, BAD_LOOP_SERIES, WRONG_DENOM, BAD_DENOM,
    INVALID_OBJ_EVT, PARSE_RULE, PARSE_END, PARSE_INVALID_REF, PARSE_BLOCK, PARSE_UNSUPPORTED,
    PARSE_INFINITE, PARSE_STACK, PARSE_KEEP, PARSE_INTO_BAD, PARSE_INTO_TYPE, DRAW_INVALID,
    DRAW_INFINITE, INVALID_DATA_FACET, FACE_TYPE, NOT_WINDOW, BAD_WINDOW, NOT_LINKED, NOT_EVENT_TYPE,
    INVALID_FACET_TYPE, VID_INVALID_SYNTAX, RTD_INVALID_SYNTAX, RTD_NO_MATCH, REACT_BAD_FUNC,
    REACT_NOT_ENOUGH, REACT_NO_MATCH, REACT_BAD_OBJ, REACT_GCTX, LIB_INVALID_ARG, KB_INVALID_RECORD
};
static_assert(KB_INVALID_RECORD == 93);
// math
enum : uint32_t { ZERO_DIVIDE, OVERFLOW, POSITIVE };
// access
enum : uint32_t {
    CANNOT_OPEN, CANNOT_CLOSE, INVALID_UTF8, NOT_OPEN, NO_CONNECT, NO_SCHEME, UNKNOWN_SCHEME,
    INVALID_SPEC, INVALID_PORT, INVALID_ACTOR, NO_PORT_ACTION, NO_CREATE, NO_CODEC, BAD_MEDIA, INVALID_CMD
};
// user
enum : uint32_t { MESSAGE };
// internal
enum : uint32_t {
    BAD_PATH, NOT_HERE, NO_MEMORY, WRONG_MEM, STACK_OVERFLOW, LIMIT_HIT, TOO_DEEP, NO_CYCLE, FEATURE_NA,
    NOT_DONE, INVALID_ERROR, ROUTINES, KIV_SYSTEM, DEPRECATED
};
}  // namespace err

// The error being raised: kept where the collector sees it until a handler takes it.
struct raised_error {
    uint32_t category;
    uint32_t id;
    uint32_t arg_count;
    cell args[3];
    uint32_t code() const { return category * 100 + id; }
};

// What unwinds the C++ stack for a script error. Handlers read raised_error_get().
struct script_error_unwind {};

// Raises category/id with up to three argument values (null for none). Never returns.
[[noreturn]] void fire(uint32_t category, uint32_t id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
                       const cell* arg3 = nullptr);
// fire with script/bad-make-arg.
[[noreturn]] void fire_error_arg(const cell* arg1, const cell* arg2);
const raised_error& raised_error_get();
raised_error& raised_error_slot();   // for the collector: the argument cells are roots
