// The drawing session on a window's render target: pen and text colours, pushes and pops of the
// state, clips, and a session that has no target bitmap. Pixels are read back from the swap chain.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "runtime/datatypes/string.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/io/lexer.h"
#include "runtime/stack.h"
#include "tests/support/fixtures.h"
#include "tests/support/values.h"
#include "view/backend/windows/gui.h"
#include "view/backend/windows/render.h"

namespace {

constexpr uint32_t RED = 0x0000FF, BLUE = 0xFF0000, WHITE = 0xFFFFFF;

struct box {
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

class GuiWindowDraw : public test::StackTest {
protected:
    HWND hwnd = nullptr;
    void SetUp() override
    {
        test::StackTest::SetUp();
        gui::init();
        hwnd = CreateWindowExW(0, L"KivBase", L"", WS_POPUP | WS_VISIBLE, 10, 10, 200, 120, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(hwnd);
    }
    void TearDown() override
    {
        DestroyWindow(hwnd);
        test::StackTest::TearDown();
    }
    // A session on the window, cleared to white, the pen black.
    void begin(gui::draw_context* ctx)
    {
        gui::draw_begin(ctx, hwnd, false);
        ASSERT_NE(ctx->target, nullptr);
        ctx->target->Clear(gui::to_dx_color(WHITE));
    }
    // Where pixels near the colour (each channel within 90) lie, read back after the session.
    box find(uint32_t color)
    {
        box b;
        if (!gui::update_layered_dib(hwnd)) return b;
        auto* rt = static_cast<gui::render_target*>(gui::record_of(hwnd)->render_target);
        for (int32_t y = 0; y < rt->dib_height; y++)
            for (int32_t x = 0; x < rt->dib_width; x++) {
                const uint8_t* p = rt->pixels + (size_t(y) * size_t(rt->dib_width) + size_t(x)) * 4;
                if (abs(p[2] - int(color & 0xFF)) > 90 || abs(p[1] - int(color >> 8 & 0xFF)) > 90 ||
                    abs(p[0] - int(color >> 16 & 0xFF)) > 90)
                    continue;
                b.left = std::min(b.left, x), b.top = std::min(b.top, y);
                b.right = std::max(b.right, x), b.bottom = std::max(b.bottom, y);
            }
        return b;
    }
    cell* text(const char* s) { return string::load_at(reinterpret_cast<const uint8_t*>(s), uint32_t(strlen(s)), stack::push_slot(), 0); }
    cell* font(const char* color)
    {
        std::string code = std::string("make object! [name: none size: 20 style: none angle: 0 color: ") + color +
                           " anti-alias?: false shadow: none state: none parent: none]";
        cell* block = stack::push_slot();
        lexer::load(reinterpret_cast<const uint8_t*>(code.data()), uint32_t(code.size()), block);
        interpreter::eval(block, false);
        return stack::top() - 1;
    }
};

TEST_F(GuiWindowDraw, TextTakesThePenColourAndAPopBringsItBack)
{
    struct row { bool push_blue; uint32_t expect; uint32_t absent; };
    for (row r : {row{false, RED, BLUE}, row{true, RED, BLUE}}) {
        gui::draw_context ctx;
        begin(&ctx);
        gui::set_pen_color(&ctx, RED, false);
        if (r.push_blue) {
            gui::draw_saved saved;
            gui::draw_push_state(&ctx, &saved);
            gui::set_pen_color(&ctx, BLUE, false);
            gui::draw_pop_state(&ctx, &saved);
        }
        gui::draw_text(&ctx, 10, 10, text("Hello"));
        gui::draw_end(&ctx, hwnd, false);
        EXPECT_FALSE(find(r.expect).empty()) << "pushed: " << r.push_blue;
        EXPECT_TRUE(find(r.absent).empty()) << "pushed: " << r.push_blue;
    }
}

TEST_F(GuiWindowDraw, AFontsColourWinsOverThePen)
{
    gui::draw_context ctx;
    begin(&ctx);
    gui::draw_font(&ctx, font("0.0.255"));
    gui::set_pen_color(&ctx, RED, false);
    gui::draw_text(&ctx, 10, 10, text("Hello"));
    gui::draw_end(&ctx, hwnd, false);
    EXPECT_FALSE(find(BLUE).empty());
    EXPECT_TRUE(find(RED).empty());
}

TEST_F(GuiWindowDraw, AClipKeepsTheGlyphsInsideAndDeepClipsAreLayers)
{
    gui::draw_context ctx;
    begin(&ctx);
    gui::set_pen_color(&ctx, RED, false);
    gui::draw_clip(&ctx, 10, 10, 30, 30);
    gui::draw_text(&ctx, 10, 10, text("WWWWWWWW"));
    gui::draw_pop_clip(&ctx);
    gui::draw_end(&ctx, hwnd, false);
    box b = find(RED);
    ASSERT_FALSE(b.empty());
    double s = gui_s.scale;
    EXPECT_GE(b.left, int(10 * s) - 1);
    EXPECT_LE(b.right, int(30 * s) + 1);
    EXPECT_LE(b.bottom, int(30 * s) + 1);

    // Forty levels: the 33rd and later are layers (refused here or not, the session goes on).
    gui::draw_context deep;
    begin(&deep);
    for (int i = 0; i < 40; i++) gui::draw_clip(&deep, 0, 0, 100, 100);
    EXPECT_EQ(deep.clip_depth, 40);
    EXPECT_EQ(deep.clip_mask, 0xFFFFFFFFu);
    gui::draw_saved saved;
    gui::draw_push_state(&deep, &saved);
    gui::draw_clip(&deep, 0, 0, 10, 10);
    gui::draw_pop_state(&deep, &saved);
    EXPECT_EQ(deep.clip_depth, 40) << "a pop takes back the clips pushed since its push";
    gui::draw_end(&deep, hwnd, false);
    EXPECT_EQ(deep.clip_depth, 0);
}

TEST_F(GuiWindowDraw, APopAfterAFailedPushOnlyTakesBackItsClips)
{
    gui::draw_context ctx;
    begin(&ctx);
    gui::set_pen_color(&ctx, RED, false);
    gui::draw_saved never;   // as a refused push leaves it
    gui::draw_clip(&ctx, 0, 0, 50, 50);
    never.clip_depth = 0;
    gui::draw_pop_state(&ctx, &never);
    EXPECT_EQ(ctx.clip_depth, 0);
    EXPECT_EQ(ctx.f.pen_color, RED) << "nothing else is restored";
    gui::draw_end(&ctx, hwnd, false);
}

TEST_F(GuiWindowDraw, WithoutATargetBitmapTheSessionDrawsNothing)
{
    gui::draw_context first;
    begin(&first);
    gui::draw_end(&first, hwnd, false);
    auto* rt = static_cast<gui::render_target*>(gui::record_of(hwnd)->render_target);
    rt->bitmap.reset();   // as a failed resize leaves it
    gui::draw_context ctx;
    gui::draw_begin(&ctx, hwnd, false);
    EXPECT_EQ(ctx.target, nullptr);
    gui::set_pen_color(&ctx, RED, false);
    gui::draw_text(&ctx, 10, 10, text("Hello"));
    gui::draw_rectangle(&ctx, 0, 0, 50, 50);
    gui::draw_end(&ctx, hwnd, false);
    gui::resize_swap_chain(rt, 200, 120);
    EXPECT_TRUE(rt->bitmap) << "the next resize makes the bitmap again";
}

TEST_F(GuiWindowDraw, BothDeviceAttemptsFailingRefuseTheTarget)
{
    gui::release_target(hwnd);
    gui::release_dx();
    gui::gx.fail_devices = 2;
    gui::draw_context ctx;
    uint32_t raised = test::raised([&] { gui::draw_begin(&ctx, hwnd, false); });
    EXPECT_EQ(raised, tv::code(ERR_ACCESS, err::NO_CREATE));
    EXPECT_EQ(ctx.target, nullptr);
    gui::gx.fail_devices = 1;   // hardware fails, WARP is taken
    EXPECT_TRUE(gui::dx_create_dev());
    EXPECT_TRUE(gui::gx.warp);
}

TEST_F(GuiWindowDraw, TheFrameClockKeepsAll64BitsOfTicks)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    int64_t mark = 0;
    gui::mark_time(&mark);
    mark = now.QuadPart - (int64_t(1) << 33);   // 2^33 ticks ago
    double ms = gui::elapsed_ms(&mark);
    EXPECT_GE(ms, double(int64_t(1) << 33) * 1000.0 / double(f.QuadPart));
}

}  // namespace
