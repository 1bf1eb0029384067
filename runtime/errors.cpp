// Raising script errors. The error is recorded in one rooted slot and the C++ stack unwinds to the
// nearest handler; the evaluator turns the record into an error! value where it catches it.
#include "runtime/errors.h"

namespace {
raised_error pending;

#define KIV_ID_NAME(id, name) name,
#define KIV_CATEGORY_ID_NAMES(category, name, ids) const char* const category##_ids[] = {ids(KIV_ID_NAME) nullptr};
KIV_ERROR_CATEGORIES(KIV_CATEGORY_ID_NAMES)
#undef KIV_CATEGORY_ID_NAMES
#undef KIV_ID_NAME
}  // namespace

const error_category_names error_names[ERROR_CATEGORIES] = {
#define KIV_CATEGORY_ROW(category, name, ids) {name, category##_ids, sizeof category##_ids / sizeof(char*) - 1},
    KIV_ERROR_CATEGORIES(KIV_CATEGORY_ROW)
#undef KIV_CATEGORY_ROW
};

void (*error_raised_hook)() = nullptr;

void fire(uint32_t category, uint32_t id, const cell* arg1, const cell* arg2, const cell* arg3)
{
    pending.category = category;
    pending.id = id;
    pending.arg_count = 0;
    const cell* args[3] = {arg1, arg2, arg3};
    for (uint32_t i = 0; i < 3; i++) {
        if (!args[i]) {
            pending.args[i] = cell{TYPE_UNSET, 0, 0, 0};
            continue;
        }
        pending.args[i] = *args[i];
        pending.arg_count = i + 1;
    }
    if (error_raised_hook) error_raised_hook();
    throw script_error_unwind{};
}

void fire_value(const cell* error, uint32_t category, uint32_t id)
{
    pending.category = category;
    pending.id = id;
    pending.arg_count = RAISED_VALUE;
    pending.args[0] = *error;
    pending.args[1] = pending.args[2] = cell{TYPE_UNSET, 0, 0, 0};
    if (error_raised_hook) error_raised_hook();
    throw script_error_unwind{};
}

void fire_error_arg(const cell* arg1, const cell* arg2) { fire(ERR_SCRIPT, err::BAD_MAKE_ARG, arg1, arg2); }

const raised_error& raised_error_get() { return pending; }
raised_error& raised_error_slot() { return pending; }
