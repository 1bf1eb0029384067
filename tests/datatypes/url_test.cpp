// url! and file!: percent coding, molds, making from parts, joining path steps, and the native
// form of file names; a fuzz of the percent decoder over random escapes.
#include <gtest/gtest.h>

#include <random>

#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

class UrlFile : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        stack::push_slot();
    }
    // UTF-8 text as a value of the type.
    cell* text(const std::string& t, uint32_t type = TYPE_STRING)
    {
        cell* s = string::load(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()), 0);
        cell_set_type(s, type);
        return s;
    }
    std::string utf8(const cell* s) { return string::utf8_copy(s); }
    std::string encode(const std::string& t, uint32_t table)
    {
        cell* out = text("");
        url::encode_percent(text(t), out, table);
        return utf8(out);
    }
    std::string decode(const std::string& t)
    {
        cell* out = text("");
        url::decode_percent(text(t), out);
        return utf8(out);
    }
};

}  // namespace

TEST_F(UrlFile, PercentCoding)
{
    EXPECT_EQ(encode("a b/c", url::PERCENT_STRICT), "a%20b%2Fc");
    EXPECT_EQ(encode("a b/c", url::PERCENT_PATH), "a%20b/c");
    EXPECT_EQ(encode("\xC3\xA9", url::PERCENT_PATH), "%C3%A9");
    const std::pair<const char*, const char*> cases[] = {
        {"%C3%A9", "\xC3\xA9"}, {"%C3", "%C3"}, {"%G1", "%G1"}, {"a%", "a%"}, {"%FF", "%FF"},
        {"%41", "A"}, {"%A9", "\xC2\xA9"}, {"%e2%82%ac!", "\xE2\x82\xAC!"}, {"%E2%82", "%E2\xC2\x82"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(decode(in), out) << in;
}

TEST_F(UrlFile, Molds)
{
    EXPECT_EQ(tv::mold(text("my file.txt", TYPE_FILE)), "%\"my file.txt\"");
    EXPECT_EQ(tv::mold(text("a;b", TYPE_FILE)), "%\"a;b\"");
    EXPECT_EQ(tv::mold(text("a/b.txt", TYPE_FILE)), "%a/b.txt");
    EXPECT_EQ(tv::mold(text("", TYPE_FILE)), "%\"\"");
    EXPECT_EQ(tv::mold(text("http://a b", TYPE_URL)), "http://a%20b");
    EXPECT_EQ(tv::mold(text("http://\xC3\xA9", TYPE_URL)), "http://%C3%A9");
    EXPECT_EQ(test::form_at(text("http://\xC3\xA9", TYPE_URL)), "http://\xC3\xA9");
}

TEST_F(UrlFile, MakeFromPartsAndJoinSteps)
{
    cell* parts = tv::read("http example 8080 a");
    EXPECT_EQ(utf8(url::to(nullptr, parts, TYPE_URL)), "http://example:8080/a");
    cell* empty = tv::read("");
    EXPECT_EQ(raised([&] { url::to(nullptr, empty, TYPE_URL); }), 300u + err::BAD_TO_ARG);
    cell* path = tv::read("x");
    struct row {
        const char* parent;
        const char* step;
        const char* joined;
    };
    const row rows[] = {{"http://a/", "/x", "http://a/x"}, {"http://a", "x", "http://a/x"}, {"http://a/", "x", "http://a/x"}};
    for (const row& r : rows) {
        cell* parent = text(r.parent, TYPE_URL);
        cell* out = url::eval_path(parent, text(r.step), nullptr, path, nullptr, nullptr, 0, false, true, false, false);
        EXPECT_EQ(utf8(out), r.joined);
        EXPECT_EQ(cell_type(out), TYPE_URL);
        EXPECT_EQ(utf8(parent), r.parent) << "the parent is not changed";
    }
    EXPECT_EQ(raised([&] { url::eval_path(text("a", TYPE_FILE), text("b"), text("c"), path, nullptr, nullptr, 0, false, false, false, false); }),
              300u + err::BAD_PATH_SET);
}

TEST_F(UrlFile, NativeFormOfFileNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/c/dir/f.txt", "c:\\dir\\f.txt"}, {"/c", "c:\\"}, {"/", "\\"}, {"/srv/share/a", "\\\\srv\\share\\a"},
        {"//srv/a", "\\srv\\a"}, {"dir/f", "dir\\f"}, {"", ""},
    };
    for (const auto& [in, out] : cases) {
        cell* native = text("");
        file::to_os_form(text(in, TYPE_FILE), native, false);
        EXPECT_EQ(utf8(native), out) << in;
    }
    cell* dir = file::current_dir();
    std::string d = utf8(dir);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.back(), '\\');
    cell* full = text("");
    file::to_os_form(text("dir/f", TYPE_FILE), full, true);
    EXPECT_EQ(utf8(full), d + "dir\\f");
}

// Random escapes, hex digits and raw bytes: the decoder stays within its input and gives back
// valid text; encoding then decoding gives the text back.
TEST_F(UrlFile, PercentDecoderFuzz)
{
    std::mt19937 rng(99);
    const char alphabet[] = {'%', '%', '%', 'C', '3', 'A', '9', 'e', 'F', 'f', '0', 'G', 'a', '/', ' '};
    for (int i = 0; i < 3000; i++) {
        stack::scope held;
        std::string in;
        for (uint32_t n = rng() % 12; n > 0; n--) {
            uint32_t pick = rng() % 20;
            if (pick < sizeof alphabet) in += alphabet[pick];
            else in += pick < 18 ? "\xC3\xA9" : "\xE2\x82\xAC";
        }
        std::string out = decode(in);
        cell* loaded = text(out);
        EXPECT_EQ(utf8(loaded), out) << in;
        EXPECT_EQ(decode(encode(in, url::PERCENT_STRICT)), in);
    }
}
