// The platform layer: UTF-8 output into a real pipe put in place of standard output, the ANSI
// interpreter against a recording console, number and diagnostic printing, and the services
// (virtual memory, directory, environment, sleep and clock) with their seams.
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cmath>
#include <string>
#include <vector>

#include "runtime/hooks.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/system.h"

namespace {

std::string hooked;   // what reached the text hook list
void record_text(const char* text, uint32_t length, uint32_t) { hooked.append(text, length); }

// Keeps the platform state of the test process and gives it back afterwards.
class PlatformTest : public testing::Test {
protected:
    platform_state saved;
    void SetUp() override
    {
        saved = platform_s;
        hooks_init();
        dyn_print::add(nullptr, record_text);
        hooked.clear();
    }
    void TearDown() override
    {
        platform_s = saved;
        hooks_init();
    }
};

// ---- pipe output ---------------------------------------------------------------------------------

// Standard output becomes the write end of a pipe, as when the process runs under a pipe.
class PipeOutput : public PlatformTest {
protected:
    HANDLE read_end = nullptr, write_end = nullptr, old_stdout = nullptr;
    void SetUp() override
    {
        PlatformTest::SetUp();
        ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 1 << 16));
        old_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, write_end);
        platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
        ASSERT_FALSE(console_mode_q());
    }
    void TearDown() override
    {
        SetStdHandle(STD_OUTPUT_HANDLE, old_stdout);
        CloseHandle(write_end);
        CloseHandle(read_end);
        PlatformTest::TearDown();
    }
    std::string drain()
    {
        std::string bytes;
        DWORD available = 0;
        while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available) {
            std::string chunk(available, '\0');
            DWORD got = 0;
            if (!ReadFile(read_end, chunk.data(), available, &got, nullptr)) break;
            bytes.append(chunk.data(), got);
        }
        return bytes;
    }
};

TEST_F(PipeOutput, EuroSignArrivesAsUtf8)
{
    const char16_t text[] = u"a\u20ACb";
    print_units(text, 6, 2, false);
    EXPECT_EQ(drain(), "a\xE2\x82\xAC" "b");
}

TEST_F(PipeOutput, NewlineAddsCarriageReturnAndLineFeed)
{
    const char16_t text[] = u"\u20AC";
    print_units(text, 2, 2, true);
    EXPECT_EQ(drain(), "\xE2\x82\xAC\r\n");
}

TEST_F(PipeOutput, EveryUnitWidthEncodes)
{
    const uint8_t latin1[] = {'x', 0xE9};
    print_units(latin1, 2, 1, false);
    const char32_t wide[] = {0x1F600, 0x41};
    print_units(wide, 8, 4, false);
    EXPECT_EQ(drain(), "x\xC3\xA9\xF0\x9F\x98\x80" "A");
}

TEST_F(PipeOutput, CodePointWithoutUtf8FormBecomesReplacementCharacter)
{
    const char32_t beyond[] = {0x110000};
    print_units(beyond, 4, 4, false);
    EXPECT_EQ(drain(), "\xEF\xBF\xBD");
}

TEST_F(PipeOutput, LongTextArrivesWhole)
{
    // 1,500 characters, a third of them three bytes long: several buffer loads.
    std::u16string text;
    std::string expected;
    for (int i = 0; i < 1500; i++) {
        if (i % 3 == 0) {
            text += u'\u20AC';
            expected += "\xE2\x82\xAC";
        } else {
            text += char16_t('a' + i % 26);
            expected += char('a' + i % 26);
        }
    }
    print_units(text.data(), uint32_t(text.size() * 2), 2, true);
    EXPECT_EQ(drain(), expected + "\r\n");
}

TEST_F(PipeOutput, EscapesAreNotInterpretedOnAPipe)
{
    const uint8_t text[] = "\x1b[31mred";
    print_units(text, 8, 1, false);
    EXPECT_EQ(drain(), "\x1b[31mred");
}

TEST_F(PipeOutput, CStringBytesGoUnchangedAndToTheTextHooks)
{
    print_cstring("caf\xE9");
    EXPECT_EQ(drain(), "caf\xE9");
    EXPECT_EQ(hooked, "caf\xE9");
}

struct number_row { const char* name; void (*print)(); const char* text; };
const number_row number_rows[] = {
    {"int", [] { print_int(-42); }, "-42"},
    {"int min", [] { print_int(INT32_MIN); }, "-2147483648"},
    {"hex2", [] { print_hex2(10); }, "0A"},
    {"hex8", [] { print_hex8(0xBEEF); }, "0000BEEF"},
    {"float 16", [] { print_float_16(0.1); }, "0.1"},
    {"float 16 long", [] { print_float_16(1.0 / 3); }, "0.3333333333333333"},
    {"float 7", [] { print_float_7(1.0f / 3); }, "0.3333333"},
};

TEST_F(PipeOutput, NumbersPrintFormattedAndGoToTheTextHooks)
{
    for (const auto& row : number_rows) {
        hooked.clear();
        row.print();
        EXPECT_EQ(drain(), row.text) << row.name;
        EXPECT_EQ(hooked, row.text) << row.name;
    }
}

TEST_F(PipeOutput, DiagnosticLinePrintsEachItemByItsType)
{
    rt_print_line({true, int32_t(-7), " ", char32_t(0x20AC), 1.5f, " ", 0.25, " ", diag_hex(0xAB), " end"});
    EXPECT_EQ(drain(), "true-7 \xE2\x82\xAC" "1.5 0.25 000000AB end\n");
}

// ---- the console path, against a recording console -----------------------------------------------

struct fill_call {
    bool characters;   // FillConsoleOutputCharacterW, else FillConsoleOutputAttribute
    uint32_t value;
    uint32_t count;
    int x, y;
};

struct fake_console {
    console_info info;
    std::u16string text;                 // every unit written
    std::vector<uint16_t> text_attributes;   // the attributes each unit was written with
    std::vector<uint32_t> writes;            // unit count of each write
    std::vector<uint16_t> attribute_calls;
    std::vector<fill_call> fills;
};
fake_console fake;

uint32_t fake_write(const wchar_t* units, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        fake.text += char16_t(units[i]);
        fake.text_attributes.push_back(fake.info.attributes);
    }
    fake.writes.push_back(count);
    return count;
}
void fake_set_cursor(console_point at) { fake.info.cursor = at; }
void fake_set_attributes(uint16_t attributes)
{
    fake.info.attributes = attributes;
    fake.attribute_calls.push_back(attributes);
}
void fake_fill_characters(wchar_t c, uint32_t count, console_point from)
{
    fake.fills.push_back({true, uint32_t(c), count, from.x, from.y});
}
void fake_fill_attributes(uint16_t attributes, uint32_t count, console_point from)
{
    fake.fills.push_back({false, attributes, count, from.x, from.y});
}
bool fake_get_info(console_info* info)
{
    *info = fake.info;
    return true;
}

class ConsoleOutput : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        fake = fake_console{};
        fake.info.size = {80, 25};
        fake.info.attributes = 0x07;
        fake.info.right = 79;
        fake.info.bottom = 24;
        fake.info.max_window = {80, 50};
        platform_s.console_calls = {fake_write, fake_set_cursor, fake_set_attributes, fake_fill_characters,
                                    fake_fill_attributes, fake_get_info};
        platform_s.console = true;
        platform_s.initial_attributes = 0x07;
    }
    static void write(const char* text, bool newline = false)
    {
        print_units(text, uint32_t(std::strlen(text)), 1, newline);
    }
    static void cursor_at(int x, int y) { fake.info.cursor = {int16_t(x), int16_t(y)}; }
};

TEST_F(ConsoleOutput, BoldRedOnGreenAppliesTwoCodesAtATime)
{
    write("\x1b[1;31;42mX");
    EXPECT_EQ(fake.text, u"X");
    EXPECT_EQ(fake.text_attributes, std::vector<uint16_t>{0xAC});
    EXPECT_EQ(fake.attribute_calls, (std::vector<uint16_t>{0x8F, 0x8C, 0xAC}));
}

TEST_F(ConsoleOutput, ResetRestoresTheInitialAttributes)
{
    fake.info.attributes = 0xAC;
    write("\x1b[0mY");
    EXPECT_EQ(fake.text_attributes, std::vector<uint16_t>{0x07});
}

TEST_F(ConsoleOutput, EmptySgrChangesNothing)
{
    fake.info.attributes = 0x1E;
    write("\x1b[mZ");
    EXPECT_TRUE(fake.attribute_calls.empty());
    EXPECT_EQ(fake.text, u"Z");
    EXPECT_EQ(fake.text_attributes, std::vector<uint16_t>{0x1E});
}

struct cursor_row { const char* name; const char* sequence; int from_x, from_y; int x, y; };
const cursor_row cursor_rows[] = {
    {"column then row", "\x1b[5;3H", 0, 0, 5, 3},
    {"f like H", "\x1b[7;9f", 0, 0, 7, 9},
    {"home", "\x1b[H", 10, 10, 0, 0},
    {"up stops at row 0", "\x1b[10A", 3, 4, 3, 0},
    {"up", "\x1b[2A", 3, 4, 3, 2},
    {"down stops at the last row", "\x1b[99B", 3, 4, 3, 24},
    {"right stops at the last column", "\x1b[100C", 3, 4, 79, 4},
    {"left stops at column 0", "\x1b[9D", 3, 4, 0, 4},
    {"one number before H does nothing", "\x1b[5H", 3, 4, 3, 4},
    {"unlisted final does nothing", "\x1b[5;3Z", 3, 4, 3, 4},
};

TEST_F(ConsoleOutput, CursorSequences)
{
    for (const auto& row : cursor_rows) {
        cursor_at(row.from_x, row.from_y);
        write(row.sequence);
        EXPECT_EQ(fake.info.cursor.x, row.x) << row.name;
        EXPECT_EQ(fake.info.cursor.y, row.y) << row.name;
    }
    EXPECT_TRUE(fake.text.empty());
}

TEST_F(ConsoleOutput, SaveAndRestoreTheCursor)
{
    cursor_at(12, 7);
    write("\x1b[s");
    cursor_at(0, 0);
    write("\x1b[u");
    EXPECT_EQ(fake.info.cursor.x, 12);
    EXPECT_EQ(fake.info.cursor.y, 7);
}

TEST_F(ConsoleOutput, EscapeWithoutBracketIsPrinted)
{
    write("\x1b(x");
    EXPECT_EQ(fake.text, u"\x1b(x");
    write("end\x1b");
    EXPECT_EQ(fake.text, u"\x1b(xend\x1b");
}

struct erase_row {
    const char* name;
    const char* sequence;
    uint32_t count;    // cells filled, 0 for none
    int from_x, from_y;
    int cursor_x, cursor_y;   // afterwards
};
// On an 80 x 25 buffer with the cursor at column 10, row 4.
const erase_row erase_rows[] = {
    {"2J clears all and homes", "\x1b[2J", 80 * 25, 0, 0, 0, 0},
    {"J clears from the cursor's line start down", "\x1b[J", 80 * 21, 0, 4, 10, 4},
    {"1J clears above the cursor's line", "\x1b[1J", 80 * 4, 0, 0, 10, 4},
    {"0J does nothing", "\x1b[0J", 0, 0, 0, 10, 4},
    {"K clears to the line end", "\x1b[K", 70, 10, 4, 10, 4},
    {"1K clears the line start through the cursor", "\x1b[1K", 11, 0, 4, 0, 4},
    {"2K clears the line", "\x1b[2K", 80, 0, 4, 0, 4},
    {"3K does nothing", "\x1b[3K", 0, 0, 0, 10, 4},
};

TEST_F(ConsoleOutput, EraseSequencesFillWithSpacesInTheInitialAttributes)
{
    platform_s.initial_attributes = 0x1F;
    for (const auto& row : erase_rows) {
        fake.fills.clear();
        cursor_at(10, 4);
        write(row.sequence);
        if (row.count == 0) {
            EXPECT_TRUE(fake.fills.empty()) << row.name;
        } else {
            ASSERT_EQ(fake.fills.size(), 2u) << row.name;
            for (const fill_call& f : fake.fills) {
                EXPECT_EQ(f.value, f.characters ? uint32_t(' ') : 0x1Fu) << row.name;
                EXPECT_EQ(f.count, row.count) << row.name;
                EXPECT_EQ(f.x, row.from_x) << row.name;
                EXPECT_EQ(f.y, row.from_y) << row.name;
            }
        }
        EXPECT_EQ(fake.info.cursor.x, row.cursor_x) << row.name;
        EXPECT_EQ(fake.info.cursor.y, row.cursor_y) << row.name;
    }
}

TEST_F(ConsoleOutput, ScreenBufferReport)
{
    cursor_at(3, 2);
    fake.info.attributes = 0x1E;
    write("\x1b[?");
    std::string expected =
        "Screen buffer info:\n"
        "   size______ 80x25\n"
        "   cursor____ 3x2\n"
        "   attribute_ 0000001E 00000007\n"
        "   left______ 0 top: 0\n"
        "   right_____ 79 bottom: 24\n"
        "   max_______ 80x50\n";
    EXPECT_EQ(std::string(fake.text.begin(), fake.text.end()), expected);
    EXPECT_EQ(hooked, expected);
}

TEST_F(ConsoleOutput, EscapeConsumesItsUnitsOnly)
{
    const uint8_t narrow[] = "\x1b[5;3Hrest";
    EXPECT_EQ(console_ansi_escape(narrow, 10, 1), 6u);
    const char16_t wide[] = u"\x1b[12mZ";
    EXPECT_EQ(console_ansi_escape(reinterpret_cast<const uint8_t*>(wide), 12, 2), 10u);
    const uint8_t not_csi[] = "\x1bx";
    EXPECT_EQ(console_ansi_escape(not_csi, 2, 1), 0u);
    const uint8_t cut[] = "\x1b[12";
    EXPECT_EQ(console_ansi_escape(cut, 4, 1), 4u);
}

TEST_F(ConsoleOutput, WideTextWithEscapes)
{
    const char16_t text[] = u"\u20AC\x1b[31m\u20AC";
    print_units(text, 14, 2, true);
    EXPECT_EQ(fake.text, u"\u20AC\u20AC\r\n");
    EXPECT_EQ(fake.text_attributes, (std::vector<uint16_t>{0x07, 0x04, 0x04, 0x04}));
}

TEST_F(ConsoleOutput, CharacterBeyondTheBasicPlaneIsASurrogatePair)
{
    const char32_t text[] = {0x1F600};
    print_units(text, 4, 4, false);
    EXPECT_EQ(fake.text, u"\U0001F600");
}

TEST_F(ConsoleOutput, LongTextIsWrittenInPiecesOf510Units)
{
    std::string text(1200, 'q');
    write(text.c_str(), true);
    EXPECT_EQ(fake.text, std::u16string(1200, u'q') + u"\r\n");
    EXPECT_EQ(fake.writes, (std::vector<uint32_t>{510, 510, 182}));
}

TEST_F(ConsoleOutput, CStringIsLatin1WithoutEscapes)
{
    print_cstring("\x1b[31mcaf\xE9");
    EXPECT_EQ(fake.text, u"\x1b[31mcaf\u00E9");
    EXPECT_TRUE(fake.attribute_calls.empty());
    EXPECT_EQ(hooked, "\x1b[31mcaf\xE9");
}

TEST_F(ConsoleOutput, SavedAttributesComeFromTheConsole)
{
    fake.info.attributes = 0x5A;
    console_save_attributes();
    EXPECT_EQ(platform_s.initial_attributes, 0x5A);
}

struct sgr_row { uint16_t from; uint32_t code; uint16_t to; };
const sgr_row sgr_rows[] = {
    {0x07, 0, 0x17},      // the initial attributes (0x17 in this test)
    {0x07, 1, 0x8F},   {0x8F, 31, 0x8C}, {0x8C, 42, 0xAC},
    {0x07, 4, 0x8007}, {0x1E, 7, 0xE1},  {0x8007, 7, 0x8070},
    {0x0F, 30, 0x08},  {0x00, 33, 0x06}, {0x00, 34, 0x01},  {0x00, 37, 0x07},
    {0x07, 39, 0x0F},  {0xF7, 40, 0x87}, {0x07, 46, 0x37},  {0x07, 49, 0x87},
    {0x8007, 31, 0x8004}, {0x07, 99, 0x07}, {0x07, 22, 0x07},
};

TEST_F(ConsoleOutput, SgrToAttribute)
{
    platform_s.initial_attributes = 0x17;
    for (const auto& row : sgr_rows)
        EXPECT_EQ(sgr_to_attribute(row.from, row.code), row.to) << std::hex << row.from << " code " << std::dec << row.code;
}

TEST_F(ConsoleOutput, SgrFromNegativeReadsTheConsole)
{
    fake.info.attributes = 0x70;
    EXPECT_EQ(sgr_to_attribute(-1, 34), 0x71);
}

class PlatformDeathTest : public PlatformTest {};

TEST_F(PlatformDeathTest, UnitOtherThanOneTwoOrFourIsRuntimeError101)
{
    ASSERT_TRUE(rt_test_mode());
    const uint8_t text[] = "abc";
    EXPECT_EXIT(print_units(text, 3, 3, false), testing::ExitedWithCode(101), "no value matched in SWITCH");
}

// ---- start ---------------------------------------------------------------------------------------

TEST_F(PlatformTest, StartPutsStandardStreamsInUtf16Mode)
{
    platform_init();
    // _setmode answers the mode it replaces (the runtime library names every UTF-16 mode
    // _O_WTEXT there); the test entry wants text mode back.
    for (FILE* stream : {stdout, stderr}) {
        int previous = _setmode(_fileno(stream), _O_TEXT);
        EXPECT_TRUE(previous == _O_U16TEXT || previous == _O_WTEXT) << std::hex << previous;
    }
}

TEST_F(PlatformTest, GdiplusStartsOnceOnFirstUse)
{
    platform_gdiplus_start();
    uintptr_t token = platform_s.gdiplus_token;
    EXPECT_NE(token, 0u);
    platform_gdiplus_start();
    EXPECT_EQ(platform_s.gdiplus_token, token);
}

// ---- services ------------------------------------------------------------------------------------

std::vector<uint32_t> slept;
void record_sleep(uint32_t ms) { slept.push_back(ms); }

TEST_F(PlatformTest, SleepIsAtLeastOneMillisecond)
{
    struct row { double seconds; uint32_t ms; };
    const row rows[] = {{0.0001, 1}, {2.5, 2500}, {0.0015, 1}, {0.0, 1}, {-3.0, 1}, {NAN, 1},
                        {0.0129, 12}, {1e12, 0xFFFFFFFEu}};
    platform_s.sleep = record_sleep;
    for (const row& r : rows) {
        slept.clear();
        os_sleep(r.seconds);
        ASSERT_EQ(slept.size(), 1u);
        EXPECT_EQ(slept[0], r.ms) << r.seconds;
    }
}

zone_data zone_given;
void give_zone(zone_data* out) { *out = zone_given; }

struct zone_row { const char* name; zone_data zone; uint32_t packed; };
const zone_row zone_rows[] = {
    {"UTC+05:30", {-330, 0, 0, ZONE_UNKNOWN}, 5 << 2 | 2},
    {"UTC-03:00", {180, 0, 0, ZONE_UNKNOWN}, (0x10 | 3) << 2},
    {"UTC-03:30", {210, 0, 0, ZONE_UNKNOWN}, (0x10 | 3) << 2 | 2},
    {"UTC-00:30 keeps its sign", {30, 0, 0, ZONE_UNKNOWN}, 0x10 << 2 | 2},
    {"UTC+05:45", {-345, 0, 0, ZONE_UNKNOWN}, 5 << 2 | 3},
    {"UTC+14:00", {-840, 0, 0, ZONE_UNKNOWN}, 14 << 2},
    {"UTC", {0, 0, 0, ZONE_UNKNOWN}, 0},
    {"UTC-01:00 in daylight time is UTC", {60, 0, -60, ZONE_DAYLIGHT}, 0},
    {"UTC+01:00 in daylight time is +02:00", {-60, 0, -60, ZONE_DAYLIGHT}, 2 << 2},
    {"daylight bias ignored in standard time", {-60, 0, -60, ZONE_STANDARD}, 1 << 2},
    {"standard bias counts in standard time", {-60, -30, -60, ZONE_STANDARD}, 1 << 2 | 2},
};

TEST_F(PlatformTest, LocalTimeZonePacking)
{
    platform_s.zone = give_zone;
    for (const auto& row : zone_rows) {
        zone_given = row.zone;
        SYSTEMTIME before, after;
        GetLocalTime(&before);
        uint32_t packed = os_get_time(false);
        GetLocalTime(&after);
        EXPECT_EQ(packed & 0x7F, row.packed) << row.name;
        uint32_t date = packed >> 7;
        uint32_t date_before = uint32_t(before.wYear) << 10 | uint32_t(before.wMonth) << 5 | before.wDay;
        uint32_t date_after = uint32_t(after.wYear) << 10 | uint32_t(after.wMonth) << 5 | after.wDay;
        EXPECT_TRUE(date == date_before || date == date_after) << row.name;
    }
}

TEST_F(PlatformTest, UtcTimeHasZoneZero)
{
    platform_s.zone = give_zone;
    zone_given = {-330, 0, 0, ZONE_UNKNOWN};
    SYSTEMTIME st;
    GetSystemTime(&st);
    uint32_t packed = os_get_time(true);
    EXPECT_EQ(packed & 0x7F, 0u);
    EXPECT_EQ(packed >> 17, st.wYear);
    EXPECT_EQ((packed >> 12) & 0x1F, st.wMonth);
}

TEST_F(PlatformTest, NowCountsSecondsOfTheUtcDay)
{
    double whole = os_now(false);
    double precise = os_now(true);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_GE(whole, 0.0);
    EXPECT_LT(precise, 86400.0);
    // The same second, or the next one; at midnight the day starts again.
    double gap = precise - whole;
    EXPECT_TRUE((gap >= 0 && gap < 2) || whole > 86398) << whole << " " << precise;
}

TEST_F(PlatformTest, VirtualMemoryIsCommittedWithTheAskedProtection)
{
    auto* p = static_cast<uint8_t*>(vm_alloc(100000, false));
    p[99999] = 7;
    MEMORY_BASIC_INFORMATION mbi;
    ASSERT_TRUE(VirtualQuery(p, &mbi, sizeof mbi));
    EXPECT_EQ(mbi.Protect, DWORD(PAGE_READWRITE));
    EXPECT_EQ(mbi.State, DWORD(MEM_COMMIT));
    vm_free(p);
    void* code = vm_alloc(4096, true);
    ASSERT_TRUE(VirtualQuery(code, &mbi, sizeof mbi));
    EXPECT_EQ(mbi.Protect, DWORD(PAGE_EXECUTE_READWRITE));
    vm_free(code);
}

TEST_F(PlatformTest, VirtualMemoryFailuresThrowTheirCodes)
{
    system_s.thrown = 0;
    EXPECT_THROW(vm_alloc(size_t(1) << (sizeof(void*) == 8 ? 62 : 31), false), system_throw_unwind);
    EXPECT_EQ(system_s.thrown, THROW_VM_ALLOC);
    int local = 0;
    EXPECT_THROW(vm_free(&local), system_throw_unwind);
    EXPECT_EQ(system_s.thrown, THROW_VM_FREE);
}

TEST_F(PlatformTest, CurrentDirectoryRoundTrip)
{
    uint32_t length = 0;
    wchar_t* original = os_get_current_dir(&length);
    wchar_t expected[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, expected);
    EXPECT_EQ(length, n);
    EXPECT_EQ(std::wstring(original), std::wstring(expected));

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    ASSERT_TRUE(platform::set_current_dir(temp));
    uint32_t temp_length = 0;
    wchar_t* now = os_get_current_dir(&temp_length);
    std::wstring temp_dir(temp);
    if (temp_dir.size() > 3 && temp_dir.back() == L'\\') temp_dir.pop_back();
    EXPECT_EQ(std::wstring(now), temp_dir);
    EXPECT_EQ(temp_length, temp_dir.size());
    EXPECT_FALSE(platform::set_current_dir(L"Q:\\no\\such\\folder"));
    EXPECT_TRUE(platform::set_current_dir(original));
    rt_free(now);
    rt_free(original);
}

TEST_F(PlatformTest, EnvironmentVariables)
{
    ASSERT_TRUE(os_set_env(L"KIV_PLATFORM_TEST", L"\u20AC value"));
    wchar_t buffer[32];
    EXPECT_EQ(os_get_env(L"KIV_PLATFORM_TEST", buffer, 32), 7u);
    EXPECT_EQ(std::wstring(buffer), L"\u20AC value");
    wchar_t small[4];
    EXPECT_EQ(os_get_env(L"KIV_PLATFORM_TEST", small, 4), 8u);   // the size needed, with the NUL
    ASSERT_TRUE(os_set_env(L"KIV_PLATFORM_TEST", nullptr));
    EXPECT_EQ(os_get_env(L"KIV_PLATFORM_TEST", buffer, 32), 0u);
}

}  // namespace
