// Script errors: raised by category and id through fire(), never returned as codes.
// The catalogue order is fixed: an error's code is category * 100 + the id's number.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// The catalogue as one list: each category with its catalogue name and its ids, in their fixed
// order, each id with its catalogue name. The enums below and the names that start-up checks the
// loaded catalogue against are both made from it, so they cannot drift apart.
#define KIV_ERRORS_THROW(ID) ID(BREAK, "break") ID(RETURN, "return") ID(THROW, "throw") \
    ID(CONTINUE, "continue") ID(WHILE_COND, "while-cond")
#define KIV_ERRORS_NOTE(ID) ID(NO_LOAD, "no-load")
#define KIV_ERRORS_SYNTAX(ID) ID(INVALID, "invalid") ID(MISSING, "missing") ID(NO_HEADER, "no-header") \
    ID(NO_KS_HEADER, "no-ks-header") ID(BAD_HEADER, "bad-header") ID(MALCONSTRUCT, "malconstruct") \
    ID(BAD_CHAR, "bad-char")
#define KIV_ERRORS_SCRIPT(ID) ID(NO_VALUE, "no-value") ID(NEED_VALUE, "need-value") \
    ID(NOT_DEFINED, "not-defined") ID(NOT_IN_CONTEXT, "not-in-context") ID(NO_ARG, "no-arg") \
    ID(EXPECT_ARG, "expect-arg") ID(EXPECT_VAL, "expect-val") ID(EXPECT_TYPE, "expect-type") \
    ID(CANNOT_USE, "cannot-use") ID(INVALID_ARG, "invalid-arg") ID(INVALID_TYPE, "invalid-type") \
    ID(INVALID_TYPE_SPEC, "invalid-type-spec") ID(INVALID_KEY_TYPE, "invalid-key-type") \
    ID(INVALID_OP, "invalid-op") ID(NO_OP_ARG, "no-op-arg") ID(BAD_OP_SPEC, "bad-op-spec") \
    ID(INVALID_DATA, "invalid-data") ID(INVALID_PART, "invalid-part") ID(NOT_SAME_TYPE, "not-same-type") \
    ID(NOT_SAME_CLASS, "not-same-class") ID(NOT_RELATED, "not-related") ID(BAD_FUNC_DEF, "bad-func-def") \
    ID(BAD_FUNC_ARG, "bad-func-arg") ID(BAD_FUNC_EXTERN, "bad-func-extern") ID(NO_REFINE, "no-refine") \
    ID(BAD_REFINES, "bad-refines") ID(BAD_REFINE, "bad-refine") ID(DUP_REFINE, "dup-refine") \
    ID(WORD_FIRST, "word-first") ID(EMPTY_PATH, "empty-path") ID(UNSET_PATH, "unset-path") \
    ID(INVALID_PATH, "invalid-path") ID(INVALID_PATH_SET, "invalid-path-set") \
    ID(INVALID_PATH_GET, "invalid-path-get") ID(BAD_PATH_TYPE, "bad-path-type") \
    ID(BAD_PATH_TYPE2, "bad-path-type2") ID(BAD_PATH_SET, "bad-path-set") ID(BAD_FIELD_SET, "bad-field-set") \
    ID(DUP_VARS, "dup-vars") ID(PAST_END, "past-end") ID(MISSING_ARG, "missing-arg") \
    ID(OUT_OF_RANGE, "out-of-range") ID(INVALID_CHARS, "invalid-chars") ID(INVALID_COMPARE, "invalid-compare") \
    ID(WRONG_TYPE, "wrong-type") ID(INVALID_REFINE_ARG, "invalid-refine-arg") ID(TYPE_LIMIT, "type-limit") \
    ID(SIZE_LIMIT, "size-limit") ID(NO_RETURN, "no-return") ID(THROW_USAGE, "throw-usage") \
    ID(LOCKED_WORD, "locked-word") ID(PROTECTED, "protected") ID(BAD_BAD, "bad-bad") \
    ID(BAD_MAKE_ARG, "bad-make-arg") ID(BAD_TO_ARG, "bad-to-arg") ID(INVALID_MONTHS, "invalid-months") \
    ID(INVALID_SPEC_FIELD, "invalid-spec-field") ID(MISSING_SPEC_FIELD, "missing-spec-field") \
    ID(MOVE_BAD, "move-bad") ID(TOO_LONG, "too-long") ID(INVALID_CHAR, "invalid-char") \
    ID(BAD_LOOP_SERIES, "bad-loop-series") ID(WRONG_DENOM, "wrong-denom") ID(BAD_DENOM, "bad-denom") \
    ID(INVALID_OBJ_EVT, "invalid-obj-evt") ID(PARSE_RULE, "parse-rule") ID(PARSE_END, "parse-end") \
    ID(PARSE_INVALID_REF, "parse-invalid-ref") ID(PARSE_BLOCK, "parse-block") \
    ID(PARSE_UNSUPPORTED, "parse-unsupported") ID(PARSE_INFINITE, "parse-infinite") \
    ID(PARSE_STACK, "parse-stack") ID(PARSE_KEEP, "parse-keep") ID(PARSE_INTO_BAD, "parse-into-bad") \
    ID(PARSE_INTO_TYPE, "parse-into-type") ID(DRAW_INVALID, "draw-invalid") ID(DRAW_INFINITE, "draw-infinite") \
    ID(INVALID_DATA_FACET, "invalid-data-facet") ID(FACE_TYPE, "face-type") ID(NOT_WINDOW, "not-window") \
    ID(BAD_WINDOW, "bad-window") ID(NOT_LINKED, "not-linked") ID(NOT_EVENT_TYPE, "not-event-type") \
    ID(INVALID_FACET_TYPE, "invalid-facet-type") ID(VID_INVALID_SYNTAX, "vid-invalid-syntax") \
    ID(RTD_INVALID_SYNTAX, "rtd-invalid-syntax") ID(RTD_NO_MATCH, "rtd-no-match") \
    ID(REACT_BAD_FUNC, "react-bad-func") ID(REACT_NOT_ENOUGH, "react-not-enough") \
    ID(REACT_NO_MATCH, "react-no-match") ID(REACT_BAD_OBJ, "react-bad-obj") ID(REACT_GCTX, "react-gctx") \
    ID(LIB_INVALID_ARG, "lib-invalid-arg") ID(KB_INVALID_RECORD, "kb-invalid-record")
#define KIV_ERRORS_MATH(ID) ID(ZERO_DIVIDE, "zero-divide") ID(OVERFLOW, "overflow") ID(POSITIVE, "positive")
#define KIV_ERRORS_ACCESS(ID) ID(CANNOT_OPEN, "cannot-open") ID(CANNOT_CLOSE, "cannot-close") \
    ID(INVALID_UTF8, "invalid-utf8") ID(NOT_OPEN, "not-open") ID(NO_CONNECT, "no-connect") \
    ID(NO_SCHEME, "no-scheme") ID(UNKNOWN_SCHEME, "unknown-scheme") ID(INVALID_SPEC, "invalid-spec") \
    ID(INVALID_PORT, "invalid-port") ID(INVALID_ACTOR, "invalid-actor") ID(NO_PORT_ACTION, "no-port-action") \
    ID(NO_CREATE, "no-create") ID(NO_CODEC, "no-codec") ID(BAD_MEDIA, "bad-media") ID(INVALID_CMD, "invalid-cmd")
#define KIV_ERRORS_NONE(ID)
#define KIV_ERRORS_USER(ID) ID(MESSAGE, "message")
#define KIV_ERRORS_INTERNAL(ID) ID(BAD_PATH, "bad-path") ID(NOT_HERE, "not-here") ID(NO_MEMORY, "no-memory") \
    ID(WRONG_MEM, "wrong-mem") ID(STACK_OVERFLOW, "stack-overflow") ID(LIMIT_HIT, "limit-hit") \
    ID(TOO_DEEP, "too-deep") ID(NO_CYCLE, "no-cycle") ID(FEATURE_NA, "feature-na") ID(NOT_DONE, "not-done") \
    ID(INVALID_ERROR, "invalid-error") ID(ROUTINES, "routines") ID(KIV_SYSTEM, "kiv-system") \
    ID(DEPRECATED, "deprecated")

#define KIV_ERROR_CATEGORIES(CATEGORY) \
    CATEGORY(THROW, "throw", KIV_ERRORS_THROW) CATEGORY(NOTE, "note", KIV_ERRORS_NOTE) \
    CATEGORY(SYNTAX, "syntax", KIV_ERRORS_SYNTAX) CATEGORY(SCRIPT, "script", KIV_ERRORS_SCRIPT) \
    CATEGORY(MATH, "math", KIV_ERRORS_MATH) CATEGORY(ACCESS, "access", KIV_ERRORS_ACCESS) \
    CATEGORY(RESERVED1, "reserved1", KIV_ERRORS_NONE) CATEGORY(RESERVED2, "reserved2", KIV_ERRORS_NONE) \
    CATEGORY(USER, "user", KIV_ERRORS_USER) CATEGORY(INTERNAL, "internal", KIV_ERRORS_INTERNAL)

enum error_category : uint32_t {
#define KIV_CATEGORY_ENUM(id, name, ids) ERR_##id,
    KIV_ERROR_CATEGORIES(KIV_CATEGORY_ENUM)
#undef KIV_CATEGORY_ENUM
    ERROR_CATEGORIES
};

// The ids of each category, numbered from 0 in catalogue order.
namespace err {
#define KIV_ID_ENUM(id, name) id,
#define KIV_CATEGORY_IDS(category, name, ids) enum : uint32_t { ids(KIV_ID_ENUM) };
KIV_ERROR_CATEGORIES(KIV_CATEGORY_IDS)
#undef KIV_CATEGORY_IDS
#undef KIV_ID_ENUM
static_assert(KB_INVALID_RECORD == 93 && DEPRECATED == 13 && INVALID_CMD == 14);
}  // namespace err

// The names of the list, for the start-up check: per category its name and its ids' names.
struct error_category_names {
    const char* name;
    const char* const* ids;
    uint32_t count;
};
extern const error_category_names error_names[ERROR_CATEGORIES];

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
// arg_count of a raise whose args[0] is an error! value made beforehand, raised as it is.
constexpr uint32_t RAISED_VALUE = 4;
// Raises an error! value as it is (`do` of an error), category and id given from its code.
[[noreturn]] void fire_value(const cell* error, uint32_t category, uint32_t id);
// fire with script/bad-make-arg.
[[noreturn]] void fire_error_arg(const cell* arg1, const cell* arg2);
// Called with the error recorded, just before it unwinds (the tracer's error event); null when
// no one watches. Installed by the interpreter layer.
extern void (*error_raised_hook)();
const raised_error& raised_error_get();
raised_error& raised_error_slot();   // for the collector: the argument cells are roots
