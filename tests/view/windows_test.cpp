// The window record of the back end's classes: a whole pointer, after the extra bytes of the class a
// superclassed control derives from, so the control's own data and the record never overlap.
#include <gtest/gtest.h>
#include <windows.h>

#include "view/backend/windows/gui.h"

namespace {

int base_extra(const wchar_t* name)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExW(nullptr, name, &wc) ? wc.cbWndExtra : -1;
}

int own_extra(const wchar_t* name)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExW(GetModuleHandleW(nullptr), name, &wc) ? wc.cbWndExtra : -1;
}

}  // namespace

TEST(GuiWindowRecord, ControlsKeepTheirExtraBytesBeforeTheRecord)
{
    gui::init();
    const int ptr = int(sizeof(LONG_PTR));
    for (auto [ours, system] : {std::pair{L"KivButton", L"BUTTON"}, std::pair{L"KivArea", L"EDIT"},
                                std::pair{L"KivListBox", L"ListBox"}, std::pair{L"KivCombo", L"ComboBox"}}) {
        int base = base_extra(system);
        ASSERT_GE(base, 0);
        EXPECT_EQ(own_extra(ours), (base + ptr - 1) / ptr * ptr + ptr) << "class " << static_cast<const void*>(ours);
    }
    EXPECT_EQ(own_extra(L"KivWindow"), 80 + ptr);
}

TEST(GuiWindowRecord, ARecordSurvivesTheControlsOwnData)
{
    gui::init();
    HWND button = CreateWindowExW(0, L"KivButton", L"b", WS_POPUP | BS_AUTOCHECKBOX, 0, 0, 40, 20, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(button);
    window_record* r = gui::record_of(button);
    ASSERT_NE(r, nullptr);
    r->mode = 0x5A;
    // The button keeps its check state and font in its own extra bytes.
    SendMessageW(button, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(button, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), 0);
    EXPECT_EQ(gui::record_of(button), r);
    EXPECT_EQ(r->mode, 0x5Au);
    EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(gui::has_face_q(button));
    DestroyWindow(button);
    EXPECT_EQ(gui::record_of(button), nullptr);
}

// A face timer can tick while no message is being dispatched (inside a system modal loop, after a
// window procedure let go of the message): its event then takes the back end's own record.
TEST(GuiWindowRecord, ATimerTickWithNoCurrentMessage)
{
    gui::init();
    HWND window = CreateWindowExW(0, L"KivWindow", L"w", WS_POPUP, 0, 0, 40, 20, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    MSG* saved = gui_s.current_msg;
    gui_s.current_msg = nullptr;
    gui::timer_proc(window, WM_TIMER, 1, 0);
    ASSERT_NE(gui_s.current_msg, nullptr);
    EXPECT_EQ(gui_s.current_msg->hwnd, window);
    gui_s.current_msg = saved;
    DestroyWindow(window);
}
