// The Win32 toolkit with real windows and controls (under Wine on a virtual display): the
// tables, the controls' classes and places, text and state, the event stream, the Tab walk
// and dropped files.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/start_up.h"
#include "ui/window_toolkit.h"

namespace {

class WindowsToolkitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitWindows();
        InitControls();
        ASSERT_NE(NewWindow(0, 5, 5, 400, 250, u"Toolkit test", MAIN_WINDOW_FLAGS), nullptr);
        Drain();
    }
    void TearDown() override {
        FreeControls();
        CloseAllWindows();
    }

    static HWND Handle(WindowHandleType handle) { return static_cast<HWND>(handle); }
    HWND window() const { return Handle(WindowHandle(0)); }

    // Takes events with PollEvent until nothing is left; returns the codes taken.
    std::vector<int32_t> Drain() {
        std::vector<int32_t> codes;
        for (int i = 0; i < 10000; ++i) {
            const int32_t code = PollEvent();
            if (code == EVENT_NONE) break;
            codes.push_back(code);
        }
        return codes;
    }
    // Takes events until `code` (for `control`, when one is given) arrives; false if it
    // does not within five seconds.
    bool PollUntil(int32_t code, int32_t control = -1) {
        const ULONGLONG end = GetTickCount64() + 5000;
        while (GetTickCount64() < end) {
            const int32_t taken = PollEvent();
            if (taken == code && (control < 0 || EventControl() == control)) return true;
            if (taken == EVENT_NONE) Sleep(2);
        }
        return false;
    }
};

std::wstring ClassOf(HWND handle) {
    wchar_t name[64] = {};
    GetClassNameW(handle, name, 64);
    return name;
}

RECT ClientPlace(HWND control) {
    RECT rectangle;
    GetWindowRect(control, &rectangle);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rectangle), 2);
    return rectangle;
}

// A drop of `files` at client point `at`, as Explorer hands it to a window.
HDROP MakeDrop(const std::vector<std::wstring>& files, POINT at) {
    size_t characters = 1;
    for (const std::wstring& file : files) characters += file.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = at;
    drop->fWide = TRUE;
    auto* names = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const std::wstring& file : files) {
        std::copy(file.begin(), file.end(), names);
        names += file.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TEST_F(WindowsToolkitTest, WindowHasItsClientSizeAtItsOuterCornerAndFixedStyle) {
    RECT client;
    GetClientRect(window(), &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 250);
    // The window manager frames the window a moment after it is shown; until it has, the
    // corner may read as where Wine first put it.
    RECT outer{};
    for (int i = 0; i < 200; ++i) {
        GetWindowRect(window(), &outer);
        if (outer.left == 5 && outer.top == 5) break;
        PollEvent();
        Sleep(10);
    }
    EXPECT_EQ(outer.left, 5);
    EXPECT_EQ(outer.top, 5);
    const LONG_PTR style = GetWindowLongPtrW(window(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    wchar_t title[64] = {};
    GetWindowTextW(window(), title, 64);
    EXPECT_STREQ(title, L"Toolkit test");
    EXPECT_TRUE(IsWindowVisible(window()));
}

TEST_F(WindowsToolkitTest, NumbersAreReusedAndFreedWithTheirWindows) {
    HWND first = Handle(AddLabel(3, 10, 10, 70, 20, u"one"));
    ASSERT_NE(first, nullptr);
    HWND second = Handle(AddButton(3, 10, 40, 70, 20, u"two"));
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsWindow(first)) << "the control that held the number is destroyed";
    EXPECT_EQ(GetControlText(3), u"two");
    ASSERT_NE(AddLabel(70, 1, 1, 5, 5, u"far"), nullptr);
    EXPECT_EQ(GetControlText(70), u"far") << "the table grows past its first 50 entries";

    HWND old = window();
    ASSERT_NE(NewWindow(0, 50, 50, 200, 100, u"again", MAIN_WINDOW_FLAGS), nullptr);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_FALSE(IsWindow(second)) << "controls go with their window";
    EXPECT_EQ(GetControlText(3), u"");
    DisposeWindow(0);
    EXPECT_EQ(WindowHandle(0), nullptr);
    EXPECT_EQ(WindowHandle(20), nullptr);
    DisposeWindow(20);  // nothing there: nothing happens
}

TEST_F(WindowsToolkitTest, ControlsArePlatformClassesInTheirPlacesWithTheirNumbersAndStyles) {
    struct Expected {
        HWND handle;
        const wchar_t* className;
        LONG_PTR styleBits;
        int32_t number;
    };
    const Expected controls[] = {
        {Handle(AddLabel(17, 10, 10, 70, 20, u"Source:")), L"Static", WS_CHILD | WS_VISIBLE, 17},
        {Handle(AddTextField(7, 100, 90, 130, 18, u"", ES_NUMBER)), L"Edit",
         WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, 7},
        {Handle(AddTextField(1, 110, 190, 280, 20, u"", ES_READONLY)), L"Edit",
         WS_TABSTOP | ES_READONLY, 1},
        {Handle(AddButton(2, 10, 190, 90, 50, u"Start", BS_DEFPUSHBUTTON)), L"Button",
         WS_TABSTOP | BS_DEFPUSHBUTTON, 2},
        {Handle(AddFrame(11, 10, 70, 380, 110, u"Options")), L"Button", BS_GROUPBOX, 11},
        {Handle(AddCheckBox(10, 20, 150, 130, 20, u"Anti aliasing")), L"Button",
         WS_TABSTOP | BS_AUTOCHECKBOX, 10},
        {Handle(AddProgressBar(0, 110, 220, 280, 20, 0, 100)), PROGRESS_CLASSW, WS_CHILD, 0},
    };
    for (const Expected& control : controls) {
        ASSERT_NE(control.handle, nullptr);
        EXPECT_EQ(ClassOf(control.handle), control.className);
        EXPECT_EQ(GetWindowLongPtrW(control.handle, GWL_STYLE) & control.styleBits,
                  control.styleBits)
            << control.number;
        EXPECT_EQ(GetDlgCtrlID(control.handle), control.number);
        EXPECT_EQ(GetParent(control.handle), window());
    }
    const RECT field = ClientPlace(controls[1].handle);
    EXPECT_EQ(field.left, 100);
    EXPECT_EQ(field.top, 90);
    EXPECT_EQ(field.right - field.left, 130);
    EXPECT_EQ(field.bottom - field.top, 18);
    EXPECT_NE(GetWindowLongPtrW(controls[1].handle, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(SendMessageW(controls[6].handle, PBM_GETRANGE, FALSE, 0), 100);
    // A text that fits keeps the stock font.
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(controls[0].handle, WM_GETFONT, 0, 0)),
              GetStockObject(DEFAULT_GUI_FONT));
}

TEST_F(WindowsToolkitTest, TextThatWouldBeClippedGetsASmallerFontAndStillFits) {
    HWND box = Handle(AddCheckBox(5, 245, 90, 130, 20, u"Don't copy other streams and more"));
    ASSERT_NE(box, nullptr);
    auto font = reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0));
    EXPECT_NE(font, GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW smaller{}, stock{};
    GetObjectW(font, sizeof smaller, &smaller);
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
    EXPECT_LT(std::abs(smaller.lfHeight), std::abs(stock.lfHeight));
    EXPECT_GE(std::abs(smaller.lfHeight), std::abs(stock.lfHeight) * 3 / 4);
    SetControlText(5, u"Short");
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)),
              GetStockObject(DEFAULT_GUI_FONT));
}

TEST_F(WindowsToolkitTest, TextAndStateLiveInTheControls) {
    AddTextField(15, 90, 10, 250, 18, u"start");
    AddLabel(17, 10, 10, 70, 20, u"Source:");
    AddCheckBox(10, 20, 150, 130, 20, u"Anti aliasing");
    AddButton(2, 10, 190, 90, 50, u"Start", BS_DEFPUSHBUTTON);
    AddProgressBar(0, 110, 220, 280, 20, 0, 100);

    std::u16string longText(5000, u'x');
    longText += u" \u00fcber \U0001F3AC";
    SetControlText(15, longText);
    EXPECT_EQ(GetControlText(15), longText);
    SetControlText(15, u"");
    EXPECT_EQ(GetControlText(15), u"");
    EXPECT_EQ(GetControlText(17), u"Source:");
    EXPECT_EQ(GetControlText(44), u"");

    EXPECT_EQ(GetControlState(10), 0);
    SetControlState(10, 7);
    EXPECT_EQ(GetControlState(10), 1);
    SetControlState(10, 0);
    EXPECT_EQ(GetControlState(10), 0);

    SetControlState(0, 150);
    EXPECT_EQ(GetControlState(0), 100);
    SetControlState(0, -5);
    EXPECT_EQ(GetControlState(0), 0);
    SetControlState(0, 42);
    EXPECT_EQ(GetControlState(0), 42);

    SetControlState(15, 9);  // no state: nothing happens
    EXPECT_EQ(GetControlState(15), 0);
    EXPECT_EQ(GetControlState(17), 0);
    SetControlState(44, 1);
    SetControlText(44, u"nothing there");
    EXPECT_EQ(GetControlState(44), 0);
}

TEST_F(WindowsToolkitTest, ClosingIsReportedOnceAndLeavesTheWindowOpen) {
    PostMessageW(window(), WM_CLOSE, 0, 0);
    // The message that led to the close is no close itself: reported twice, a close used
    // during a job (whose pumps discard it) would still end the tool afterwards. The window
    // manager's own events may come in between on a busy machine.
    int closes = WaitEvent() == EVENT_CLOSE_WINDOW ? 1 : 0;
    const ULONGLONG end = GetTickCount64() + 1000;
    while (GetTickCount64() < end) {
        const int32_t code = PollEvent();
        if (code == EVENT_CLOSE_WINDOW) {
            ++closes;
            EXPECT_EQ(EventWindow(), 0);
        }
        if (code == EVENT_NONE) Sleep(5);
    }
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(IsWindow(window()));
}

TEST_F(WindowsToolkitTest, WindowEventsAreQueuedOnceInARowAndInTheirOrder) {
    SetWindowPos(window(), nullptr, 30, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(window(), nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    std::vector<int32_t> codes = Drain();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), EVENT_MOVE_WINDOW), 1);

    ShowWindow(window(), SW_MINIMIZE);
    codes = Drain();
    EXPECT_NE(std::find(codes.begin(), codes.end(), EVENT_MINIMIZE_WINDOW), codes.end());
    ShowWindow(window(), SW_RESTORE);
    codes = Drain();
    const auto restore = std::find(codes.begin(), codes.end(), EVENT_RESTORE_WINDOW);
    ASSERT_NE(restore, codes.end());
    EXPECT_NE(std::find(restore, codes.end(), EVENT_SIZE_WINDOW), codes.end());
}

TEST_F(WindowsToolkitTest, ControlReportsArriveAsControlEvents) {
    AddButton(13, 350, 10, 40, 18, u"...");
    AddCheckBox(4, 245, 120, 130, 20, u"Don't copy audio streams");
    AddTextField(14, 90, 40, 250, 20, u"");

    PostMessageW(GetDlgItem(window(), 13), BM_CLICK, 0, 0);
    EXPECT_TRUE(PollUntil(EVENT_CONTROL, 13));
    EXPECT_EQ(EventNotification(), BN_CLICKED);

    PostMessageW(GetDlgItem(window(), 4), BM_CLICK, 0, 0);
    ASSERT_TRUE(PollUntil(EVENT_CONTROL, 4));
    EXPECT_EQ(GetControlState(4), 1) << "ticked before the event arrives";

    // A change made by the program is reported too, after one more message.
    SetControlText(14, u"C:\\clip.avi");
    PostMessageW(window(), WM_NULL, 0, 0);
    EXPECT_TRUE(PollUntil(EVENT_CONTROL, 14));

    SetFocus(GetDlgItem(window(), 14));
    bool gained = false;
    for (int i = 0; i < 50 && !gained; ++i) {
        if (PollUntil(EVENT_CONTROL, 14)) gained = EventNotification() == FOCUS_GAINED;
    }
    EXPECT_TRUE(gained);

    // A menu command.
    PostMessageW(window(), WM_COMMAND, MAKEWPARAM(77, 0), 0);
    EXPECT_TRUE(PollUntil(EVENT_MENU, 77));
}

TEST_F(WindowsToolkitTest, DroppedFilesNameTheFirstFileAndTheControlUnderThePointer) {
    AddTextField(14, 90, 40, 250, 20, u"");
    AddFrame(11, 10, 70, 380, 110, u"Options");
    AddTextField(7, 100, 90, 130, 18, u"", ES_NUMBER);

    const std::wstring first = L"C:\\Videos\\\u03b1 clip.avi";
    PostMessageW(window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({first, L"C:\\other.avi"}, POINT{100, 45})), 0);
    ASSERT_TRUE(PollUntil(EVENT_DROP_FILES));
    EXPECT_EQ(DroppedFile(), std::u16string(first.begin(), first.end()));
    EXPECT_EQ(DroppedOnControl(), 14);
    EXPECT_EQ(EventWindow(), 0);

    // On the frame's background: the window; on a field inside the frame: that field.
    PostMessageW(window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({L"C:\\a.avi"}, POINT{300, 170})), 0);
    PostMessageW(window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({L"C:\\b.avi"}, POINT{110, 95})), 0);
    ASSERT_TRUE(PollUntil(EVENT_DROP_FILES));
    EXPECT_EQ(DroppedFile(), u"C:\\a.avi");
    EXPECT_EQ(DroppedOnControl(), -1);
    ASSERT_TRUE(PollUntil(EVENT_DROP_FILES));
    EXPECT_EQ(DroppedFile(), u"C:\\b.avi");
    EXPECT_EQ(DroppedOnControl(), 7);
}

// The shell's own window: Tab visits the fields, buttons and boxes in their order of
// creation, and Enter starts nothing.
class WindowsShellKeysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StartUpShell();
        ASSERT_NE(BuildMainWindow(), nullptr);
        main = static_cast<HWND>(WindowHandle(0));
        SetForegroundWindow(main);
        SetActiveWindow(main);
        SetFocus(nullptr);
        Pump();
    }
    void TearDown() override { ShutDownShell(); }

    void Pump() {
        for (int i = 0; i < 10000 && PollEvent() != EVENT_NONE; ++i) {
        }
    }
    // Presses a key as the keyboard would: it goes to the window with the focus.
    void Press(UINT key, bool shift = false) {
        if (shift) {
            BYTE keys[256];
            GetKeyboardState(keys);
            keys[VK_SHIFT] = 0x80;
            SetKeyboardState(keys);
        }
        HWND target = GetFocus() != nullptr ? GetFocus() : main;
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        Pump();
        if (shift) {
            BYTE keys[256];
            GetKeyboardState(keys);
            keys[VK_SHIFT] = 0;
            SetKeyboardState(keys);
        }
    }
    int32_t Focused() const { return GetFocus() != nullptr ? GetDlgCtrlID(GetFocus()) : -1; }

    HWND main = nullptr;
};

TEST_F(WindowsShellKeysTest, TabWalksForwardAndBackAndEnterStartsNothing) {
    ASSERT_EQ(GetActiveWindow(), main);
    const std::vector<int32_t> order = {15, 14, 13, 12, 7, 6, 10, 5, 4, 3, 2, 1, 15};
    for (int32_t expected : order) {
        Press(VK_TAB);
        EXPECT_EQ(Focused(), expected);
    }
    // Backward from the source field wraps to the status line, then walks back.
    Press(VK_TAB, true);
    EXPECT_EQ(Focused(), 1);
    Press(VK_TAB, true);
    EXPECT_EQ(Focused(), 2);
    // With nothing focused, backward starts at the last candidate.
    SetFocus(nullptr);
    Press(VK_TAB, true);
    EXPECT_EQ(Focused(), 1);

    // Enter in a field: no click of the default button reaches the stream.
    SetFocus(GetDlgItem(main, 7));
    Pump();
    HWND field = GetDlgItem(main, 7);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(field, WM_CHAR, L'\r', 1);
    bool started = false;
    for (int i = 0; i < 200; ++i) {
        const int32_t code = PollEvent();
        if (code == EVENT_CONTROL && EventControl() == 2) started = true;
        if (code == EVENT_NONE) break;
    }
    EXPECT_FALSE(started);
}

TEST_F(WindowsShellKeysTest, DigitsOnlyInTheSizeFields) {
    HWND width = GetDlgItem(main, 7);
    SetFocus(width);
    for (wchar_t c : std::wstring(L"3a2-0")) PostMessageW(width, WM_CHAR, c, 1);
    Pump();
    EXPECT_EQ(GetControlText(7), u"320");
}

}  // namespace
