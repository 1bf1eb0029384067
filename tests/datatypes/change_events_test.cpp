// The change actions of blocks, strings and bitsets tell an owning object before and after each
// change, with the pair of words the event names.
#include "datatypes/objects.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/ownership.h"

namespace {

using tob::calls;

class ChangeEvents : public tob::Objects {
protected:
    // The action word of each recorded call (the handler's fourth argument).
    static std::vector<std::string> actions()
    {
        std::vector<std::string> out;
        for (const std::string& c : calls) {
            size_t at = 0;
            for (int i = 0; i < 4 && at != std::string::npos; i++) at = c.find(" | ", at + (i ? 3 : 0));
            size_t end = c.find(" | ", at + 3);
            out.push_back(c.substr(at + 3, end - at - 3));
        }
        return out;
    }
    cell* owned(cell* series)
    {
        cell* o = tob::with_handlers("s: none", nullptr, "owner word target action value index part");
        cell w = tob::word("s");
        ownership_set(series, o, &w);
        calls.clear();
        return series;
    }
    cell* push(cell c) { return stack::push(&c); }
};

}  // namespace

TEST_F(ChangeEvents, EachActionSendsItsPair)
{
    stack::push_slot();
    cell* b = owned(tv::read("b a none"));
    cell* x = push(test::integer(1));
    block::append(push(*b), x, nullptr, false, nullptr);
    block::insert(push(*b), x, nullptr, false, nullptr);
    block::change(push(*b), x, nullptr, false, nullptr);
    block::put(push(*b), x, push(test::integer(2)), false);
    block::sort(push(*b), false, nullptr, nullptr, nullptr, false, false, false);
    block::swap(push(*b), tv::read("z"));
    block::trim(push(*b), false, false, false, false, false, nullptr);
    const std::vector<std::string> block_events = {"append", "appended", "insert", "inserted", "change", "changed",
                                                   "put",    "put-ed",   "sort",   "sorted",   "swap",   "swaped",
                                                   "trim",   "trimmed"};
    EXPECT_EQ(actions(), block_events);

    cell* s = string::make_at(stack::push_slot(), 8);
    string::concatenate_literal(s, "ba");
    owned(s);
    cell* c = push(cell{TYPE_CHAR, 0, 'x', 0});
    string::append(push(*s), c, nullptr, false, nullptr);
    string::insert(push(*s), c, nullptr, false, nullptr);
    string::change(push(*s), c, nullptr, false, nullptr);
    string::sort(push(*s), false, nullptr, nullptr, nullptr, false, false, false);
    string::trim(push(*s), false, false, false, false, false, nullptr);
    const std::vector<std::string> string_events = {"append", "appended", "insert", "inserted", "change",
                                                    "changed", "sort", "sorted", "trim", "trimmed"};
    EXPECT_EQ(actions(), string_events);

    cell* bits = owned(bitset::make_from_spec(push(test::integer(8)), bitset::CALLER_MAKE));
    bitset::append(bits, x, nullptr, false, nullptr);
    bitset::poke(push(*bits), 0, x, push(none_value));
    bitset::remove(bits, nullptr, x);
    bitset::clear(bits);
    const std::vector<std::string> bitset_events = {"insert", "inserted", "poke",    "poked",
                                                    "remove", "removed",  "clear",   "cleared"};
    EXPECT_EQ(actions(), bitset_events);
}
