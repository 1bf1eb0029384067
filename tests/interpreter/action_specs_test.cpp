// An action's spec admits, as its first argument, every datatype that fills the action's slot:
// otherwise the argument check refuses a value before its own routine could run.
#include <string>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "support/values.h"

namespace {

// The action words in slot order, spelt from the slot list's C++ names.
std::string action_word(const char* field)
{
    std::string n = field;
    if (n.size() > 2 && n.compare(n.size() - 2, 2, "_q") == 0) n.replace(n.size() - 2, 2, "?");
    if (n.size() > 2 && n.compare(n.size() - 2, 2, "_t") == 0) n.replace(n.size() - 2, 2, "~");
    if (n.back() == '_') n.pop_back();   // delete_: a C++ keyword's spelling
    for (char& c : n)
        if (c == '_') c = '-';
    return n;
}

const char* const slot_fields[] = {
#define ACTION_SLOT(id, field, signature) #field,
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
};

class ActionSpecs : public tv::Values {};

TEST_F(ActionSpecs, EveryTypeThatFillsASlotIsAdmittedByItsFirstArgument)
{
    // Only the types a script can hold (not the abstract parents nor the tests' stand-ins).
    cell any_type_word = *word::load("any-type!");
    cell any_type = *word::get(&any_type_word);
    ASSERT_EQ(cell_type(&any_type), uint32_t(TYPE_TYPESET));
    for (uint32_t slot = 1; slot <= sizeof slot_fields / sizeof slot_fields[0]; slot++) {
        if (slot >= 7 && slot <= 9) continue;   // eval-path, set-path and compare have no word
        std::string name = action_word(slot_fields[slot - 1]);
        cell w = *word::load(name.c_str());
        cell action = *word::get(&w);
        ASSERT_EQ(cell_type(&action), uint32_t(TYPE_ACTION)) << name;
        node_ref cache = interpreter::arg_cache(&action);
        series_buffer* s = series_of(cache);
        const cell* first = nullptr;
        for (uint32_t i = 0; i < (s->tail - s->head) >> 4 && !first; i++)
            if (cell_type(&at<cell>(s->head)[i]) == TYPE_TYPESET) first = &at<cell>(s->head)[i];
        ASSERT_NE(first, nullptr) << name;
        for (uint32_t t = 1; t <= datatype_s.max_type; t++) {
            bool admitted = typeset_has(first, t);
            if (action_present(t, slot) && typeset_has(&any_type, t)) {
                EXPECT_TRUE(admitted) << name << " refuses " << datatype::name_of(t);
            }
        }
    }
}

}  // namespace
