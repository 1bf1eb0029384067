// The boot: every Kiv source of library/, view/ and console/ is one of the boot's sources, and
// after the boot every word a source sets at its top level holds a value.
#include <string>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/embedded.h"
#include "runtime/io/lexer.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

using Boot = test::StackTest;

bool boot_source_q(const std::string& name)
{
    for (uint32_t n = 0; n < runtime::BOOT_SOURCES; n++)
        if (name == runtime::boot_sources[n]) return true;
    return false;
}

TEST_F(Boot, EveryLibrarySourceIsBooted)
{
    uint32_t library = 0;
    for (const embedded_source* s = embedded_sources; s->name; s++) {
        std::string name = s->name;
        if (name.rfind("library/", 0) != 0 && name.rfind("view/", 0) != 0 && name.rfind("console/", 0) != 0)
            continue;
        library++;
        EXPECT_TRUE(boot_source_q(name)) << name << " is not among the boot's sources";
    }
    EXPECT_EQ(library, runtime::BOOT_SOURCES);
}

// The catalogue (source 0) is data: its set-words name categories, not global words.
TEST_F(Boot, NoTopLevelSetWordOfTheLibraryIsUnset)
{
    for (uint32_t n = 1; n < runtime::BOOT_SOURCES; n++) {
        const embedded_source* s = embedded::find(runtime::boot_sources[n]);
        ASSERT_NE(s, nullptr) << runtime::boot_sources[n];
        cell* code = lexer::load(s->bytes, s->length, stack::push_slot());
        for (uint32_t i = 0; i < block::rs_length(code); i++) {
            cell item = block::rs_head(code)[i];
            if (cell_type(&item) != TYPE_SET_WORD) continue;
            cell w = *word::from_symbol(item.data2);
            EXPECT_NE(cell_type(word::get(&w)), uint32_t(TYPE_UNSET))
                << runtime::boot_sources[n] << ": " << test::form(item) << " is unset";
        }
    }
}

}  // namespace
