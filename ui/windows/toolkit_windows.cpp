// Start-up of the Win32 toolkit and its numbered top-level windows.
#include <windows.h>

#include <string>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

namespace {

// Bits that the toolkit reads as its own options; they never reach the platform as styles.
constexpr DWORD TOOLKIT_OPTION_BITS = 0x1 | 0x2 | 0x8 | 0x10000000;

const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The outer size for a client area of width x height at `dpi`, for the window's style.
SIZE OuterSize(int32_t width, int32_t height, DWORD style, UINT dpi) {
    RECT rectangle{0, 0, MulDiv(width, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI),
                   MulDiv(height, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI)};
    if (dpi == USER_DEFAULT_SCREEN_DPI) {
        AdjustWindowRect(&rectangle, style, FALSE);
    } else {
        AdjustWindowRectExForDpi(&rectangle, style, FALSE, 0, dpi);
    }
    return SIZE{rectangle.right - rectangle.left, rectangle.bottom - rectangle.top};
}

void ForgetScaledFont(WindowRecord& record) {
    if (record.scaledFont != nullptr) DeleteObject(record.scaledFont);
    record.scaledFont = nullptr;
}

}  // namespace

ToolkitState& Toolkit() {
    static ToolkitState state;
    return state;
}

int32_t WindowSystemAvailable() {
    // Every interactive Windows session has a desktop to show windows on.
    return 1;
}

void InitWindows() {
    ToolkitState& state = Toolkit();
    state.windows.assign(INITIAL_WINDOW_SLOTS, WindowRecord{});
    state.events = PlatformEvents{};
    state.controlParent = -1;
    state.module = GetModuleHandleW(nullptr);
    state.icon = LoadIconW(state.module, MAKEINTRESOURCEW(1));
    state.smallIcon = static_cast<HICON>(LoadImageW(state.module, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON),
                                                    GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    state.cursor = LoadCursorW(nullptr, IDC_ARROW);
}

void SetProgramIdentity(const std::u16string&, const std::u16string&) {
    // Windows takes a program's identity from its executable: the icon is resource 1, which
    // InitWindows has loaded for every window class, and the taskbar groups by the file.
}

void MarkWithNumber(HWND handle, const wchar_t* property, int32_t number) {
    SetPropW(handle, property, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(number) + 1));
}

void RemoveNumberMark(HWND handle, const wchar_t* property) {
    RemovePropW(handle, property);
}

int32_t NumberMark(HWND handle, const wchar_t* property) {
    if (handle == nullptr) return -1;
    const auto mark = reinterpret_cast<INT_PTR>(GetPropW(handle, property));
    return mark == 0 ? -1 : static_cast<int32_t>(mark - 1);
}

int32_t WindowNumberOf(HWND handle) {
    // Up the chain of parents only: a dialog that one of our windows owns is not ours.
    while (handle != nullptr) {
        const int32_t number = NumberMark(handle, WINDOW_NUMBER_PROPERTY);
        if (number >= 0) return number;
        if ((GetWindowLongPtrW(handle, GWL_STYLE) & WS_CHILD) == 0) return -1;
        handle = GetParent(handle);
    }
    return -1;
}

WindowRecord* FindWindowRecord(int32_t number) {
    ToolkitState& state = Toolkit();
    if (number < 0 || static_cast<size_t>(number) >= state.windows.size()) return nullptr;
    WindowRecord& record = state.windows[static_cast<size_t>(number)];
    return record.handle != nullptr ? &record : nullptr;
}

HFONT ControlFontFor(WindowRecord& window) {
    const ToolkitState& state = Toolkit();
    // The stock font is made for the system's dpi (the primary screen's at log-on); a window
    // on a screen of another dpi gets its double, grown or shrunk in the same proportion.
    const UINT systemDpi = GetDpiForSystem();
    if (window.dpi == systemDpi || systemDpi == 0) return state.controlFont;
    if (window.scaledFont == nullptr) {
        LOGFONTW description{};
        GetObjectW(state.controlFont, sizeof description, &description);
        description.lfHeight =
            MulDiv(description.lfHeight, static_cast<int>(window.dpi), static_cast<int>(systemDpi));
        window.scaledFont = CreateFontIndirectW(&description);
    }
    return window.scaledFont != nullptr ? window.scaledFont : state.controlFont;
}

RECT ScaledPlace(const ControlPlace& place, UINT dpi) {
    const int scale = static_cast<int>(dpi);
    const int left = MulDiv(place.x, scale, USER_DEFAULT_SCREEN_DPI);
    const int top = MulDiv(place.y, scale, USER_DEFAULT_SCREEN_DPI);
    return RECT{left, top, left + MulDiv(place.width, scale, USER_DEFAULT_SCREEN_DPI),
                top + MulDiv(place.height, scale, USER_DEFAULT_SCREEN_DPI)};
}

void RelayoutControls(int32_t number) {
    WindowRecord* window = FindWindowRecord(number);
    if (window == nullptr) return;
    ForgetScaledFont(*window);
    for (ControlRecord& control : Toolkit().controls) {
        if (control.handle == nullptr || control.window != number) continue;
        const RECT place = ScaledPlace(control.place, window->dpi);
        SetWindowPos(control.handle, nullptr, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
        FitControlFont(control, *window);
    }
}

WindowHandleType NewWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const std::u16string& title, uint32_t flags) {
    ToolkitState& state = Toolkit();
    if (number < 0 || state.windows.empty()) return nullptr;
    if (FindWindowRecord(number) != nullptr) DisposeWindow(number);
    const size_t slot = static_cast<size_t>(number);
    if (slot >= state.windows.size()) state.windows.resize(slot + INITIAL_WINDOW_SLOTS);
    WindowRecord record;

    // A class of the window's own, so that each window carries its own class resources.
    record.className = L"Reframe.Window." + std::to_wstring(number);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = ToolkitWindowProcedure;
    windowClass.hInstance = state.module;
    windowClass.hIcon = state.icon;
    windowClass.hIconSm = state.smallIcon;
    windowClass.hCursor = state.cursor;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = record.className.c_str();
    if (RegisterClassExW(&windowClass) == 0) return nullptr;

    DWORD style = static_cast<DWORD>(flags) & ~TOOLKIT_OPTION_BITS;
    if (style == 0) style = WS_CAPTION;
    const SIZE outer = OuterSize(width, height, style, USER_DEFAULT_SCREEN_DPI);
    // The number travels with the creation, so the messages of the creation itself already
    // belong to the window (WM_NCCREATE marks it).
    HWND window = CreateWindowExW(0, record.className.c_str(), AsWide(title), style, x, y, outer.cx,
                                  outer.cy, nullptr, nullptr, state.module,
                                  reinterpret_cast<LPVOID>(static_cast<INT_PTR>(number)));
    if (window == nullptr) {
        UnregisterClassW(record.className.c_str(), state.module);
        return nullptr;
    }
    record.handle = window;
    MarkWithNumber(window, WINDOW_NUMBER_PROPERTY, number);
    // On a screen of more than 96 dpi the window and its controls grow with it: the program
    // declares itself aware of each monitor's dpi, so Windows does not blur it by stretching.
    record.dpi = GetDpiForWindow(window);
    if (record.dpi == 0) record.dpi = USER_DEFAULT_SCREEN_DPI;
    if (record.dpi != USER_DEFAULT_SCREEN_DPI) {
        const SIZE scaled = OuterSize(width, height, style, record.dpi);
        SetWindowPos(window, nullptr, 0, 0, scaled.cx, scaled.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Files dragged from Explorer arrive as WM_DROPFILES.
    DragAcceptFiles(window, TRUE);

    ACCEL keys[2] = {{FVIRTKEY | FNOINVERT, VK_TAB, CMD_FOCUS_NEXT},
                     {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, CMD_FOCUS_PREVIOUS}};
    record.accelerators = CreateAcceleratorTableW(keys, 2);
    state.windows[slot] = std::move(record);
    ShowWindow(window, SW_SHOWNORMAL);
    state.controlParent = number;
    return window;
}

WindowHandleType WindowHandle(int32_t number) {
    const WindowRecord* record = FindWindowRecord(number);
    return record != nullptr ? record->handle : nullptr;
}

int32_t BeginControls(WindowHandleType) {
    // NewWindow has already made its window the parent of the controls that follow.
    return 1;
}

void DisposeWindow(int32_t number) {
    WindowRecord* found = FindWindowRecord(number);
    if (found == nullptr) return;
    ToolkitState& state = Toolkit();
    WindowRecord record = std::move(*found);
    *found = WindowRecord{};
    if (HWND owner = GetWindow(record.handle, GW_OWNER)) SetActiveWindow(owner);
    RemoveNumberMark(record.handle, WINDOW_NUMBER_PROPERTY);
    // The controls free their numbers as they are destroyed with the window.
    DestroyWindow(record.handle);
    for (ControlRecord& control : state.controls) {
        if (control.handle != nullptr && control.window == number) control = ControlRecord{};
    }
    UnregisterClassW(record.className.c_str(), state.module);
    if (record.accelerators != nullptr) DestroyAcceleratorTable(record.accelerators);
    ForgetScaledFont(record);
    if (state.controlParent == number) state.controlParent = -1;
}

void CloseAllWindows() {
    ToolkitState& state = Toolkit();
    for (size_t number = 0; number < state.windows.size(); ++number) {
        DisposeWindow(static_cast<int32_t>(number));
    }
    state.events = PlatformEvents{};
}
