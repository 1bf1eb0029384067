// The runtime's vocabulary, the mold cycle markers and the mold indentation.
#include "support/values.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/symbol.h"

namespace {

using namespace tv;
using RuntimeWords = Values;

TEST_F(RuntimeWords, MoldCycleMarkers)
{
    struct row {
        uint32_t type;
        const char* mold;
    };
    const row rows[] = {
        {TYPE_BLOCK, "[...]"}, {TYPE_HASH, "[...]"}, {TYPE_PAREN, "(...)"}, {TYPE_MAP, "#[...]"},
        {TYPE_OBJECT, "make object! [...]"}, {TYPE_PATH, "..."}, {TYPE_SET_PATH, "..."},
    };
    const node_ref node = 44;
    for (const row& r : rows) {
        // An object names its context in word 1; the series kinds their node in word 2.
        cell value = r.type == TYPE_OBJECT ? cell{r.type, node, 0, 0} : cell{r.type, 0, node, 0};
        for (bool molding : {true, false}) {
            cell* buffer = new_buffer();
            int32_t budget = 4;
            EXPECT_FALSE(mold_cycle_check(&value, buffer, &budget, molding));
            cycle_scope inside(node);
            EXPECT_TRUE(mold_cycle_check(&value, buffer, &budget, molding));
            std::string expected = molding ? r.mold : "...";
            EXPECT_EQ(string::utf8_copy(buffer), expected);
            EXPECT_EQ(budget, 4 - int32_t(expected.size()));
        }
    }
}

TEST_F(RuntimeWords, MoldIndent)
{
    cell* buffer = new_buffer();
    EXPECT_EQ(mold_indent(buffer, 2, 10), 2);
    EXPECT_EQ(string::utf8_copy(buffer), "        ");
}

// The vocabulary is made at start-up. Its words and refinements are root-block cells, which never
// move, so holding their addresses for the process's life is safe.
TEST_F(RuntimeWords, RuntimeVocabulary)
{
    auto in_root_block = [](const cell* c) {
        return c >= block::rs_head(&root_block) && c < block::rs_tail(&root_block);
    };
    struct row {
        rt_word which;
        const char* name;
    };
    const row words[] = {
        {W_WINDOWS, "Windows"}, {W_PIPE, "|"}, {W_END, "end"}, {W_AT, "at"}, {W_PUT_ED, "put-ed"},
        {W_SWAPED, "swaped"}, {W_ON_DEEP_CHANGE_STAR, "on-deep-change*"}, {W_ANON_TAG, "<anon>"},
        {W_THROW, "throw"}, {W_APPLIED_TAG, "<applied>"},
    };
    for (const row& r : words) {
        const cell* w = rt_word_cell(r.which);
        EXPECT_EQ(cell_type(w), uint32_t(TYPE_WORD)) << r.name;
        EXPECT_EQ(w->data1, context_s.global) << r.name;
        EXPECT_TRUE(in_root_block(w)) << r.name;
        cell copy = *w;
        EXPECT_EQ(form(&copy), r.name);
    }
    // Words made from the vocabulary's symbols carry those very ids.
    EXPECT_EQ(rt_word_cell(W_TO)->data2, rt_symbol_id(SYM_TO));
    EXPECT_EQ(rt_word_cell(W_MACOS)->data2, rt_symbol_id(SYM_MACOS));
    EXPECT_EQ(rt_symbol_id(SYM_SPEC), symbol::make("spec"));
    EXPECT_EQ(rt_symbol_id(SYM_NO_TRACE), symbol::make("no-trace"));
    EXPECT_EQ(rt_symbol_id(SYM_CODE), symbol::make("code"));

    // A value stored through a vocabulary word is found by name.
    cell browse = *rt_word_cell(W_BROWSE);
    cell five = integer(5);
    word::set(&browse, &five);
    EXPECT_EQ(word::get(word::load("browse"))->data2, 5u);
    word::set(&browse, &unset_value);

    const char* refinements[] = {"local", "extern", "compare", "part", "skip", "with", "seek"};
    for (uint32_t r = 0; r < REF_COUNT; r++) {
        const cell* ref = rt_refinement_word(rt_refinement(r));
        EXPECT_EQ(cell_type(ref), uint32_t(TYPE_REFINEMENT)) << refinements[r];
        EXPECT_EQ(ref->data1, 0u) << "bound to no context";
        EXPECT_TRUE(in_root_block(ref));
        cell copy = *ref;
        EXPECT_EQ(mold(&copy), std::string("/") + refinements[r]);
    }
}

}  // namespace
