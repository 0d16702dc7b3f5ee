// The six kinds of numbered controls, made from the platform's own control classes inside the
// current window, and the per-control procedure that keeps their numbers and focus reports.
#include <windows.h>

#include <commctrl.h>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

namespace {

int32_t ReadButtonCheck(HWND control) {
    // A third state ("indeterminate") reads as unticked.
    return static_cast<int32_t>(SendMessageW(control, BM_GETCHECK, 0, 0) & 1);
}

void WriteButtonCheck(HWND control, int32_t value) {
    SendMessageW(control, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

int32_t ReadProgressPosition(HWND control) {
    return static_cast<int32_t>(SendMessageW(control, PBM_GETPOS, 0, 0));
}

void WriteProgressPosition(HWND control, int32_t value) {
    // The bar itself shows a value outside its range as the nearest end.
    SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

const ControlKind PUSH_BUTTON_KIND{1, ReadButtonCheck, WriteButtonCheck};
const ControlKind TEXT_FIELD_KIND{2, nullptr, nullptr};
const ControlKind LABEL_KIND{3, nullptr, nullptr};
const ControlKind CHECK_BOX_KIND{4, ReadButtonCheck, WriteButtonCheck};
const ControlKind FRAME_KIND{7, nullptr, nullptr};
const ControlKind PROGRESS_BAR_KIND{14, ReadProgressPosition, WriteProgressPosition};

constexpr DWORD LABEL_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
constexpr DWORD TEXT_FIELD_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD PUSH_BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD FRAME_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX;
constexpr DWORD CHECK_BOX_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD PROGRESS_BAR_STYLE = WS_CHILD | WS_VISIBLE;
// A text field without the sunken edge; no caller asks for it.
constexpr uint32_t FLAT_TEXT_FIELD = 0x20000;

// Every message of every control passes here first. Text fields tell their window when they
// gain or lose the focus; a control that is destroyed gives its number back.
LRESULT CALLBACK ControlProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    const int32_t number = NumberMark(control, CONTROL_NUMBER_PROPERTY);
    ControlRecord* record = FindControl(number);
    if (record == nullptr || record->handle != control) {
        // Only a control whose record has gone gets here; its class procedure is kept with it.
        const auto previous =
            reinterpret_cast<WNDPROC>(GetPropW(control, L"ReframeClassProcedure"));
        return previous != nullptr ? CallWindowProcW(previous, control, message, wParam, lParam)
                                   : DefWindowProcW(control, message, wParam, lParam);
    }
    const WNDPROC previous = record->previousProcedure;
    if (record->kind == &TEXT_FIELD_KIND && (message == WM_SETFOCUS || message == WM_KILLFOCUS)) {
        if (const WindowRecord* window = FindWindowRecord(record->window)) {
            PostMessageW(window->handle, MSG_CONTROL_FOCUS, static_cast<WPARAM>(number),
                         message == WM_SETFOCUS ? FOCUS_GAINED : FOCUS_LOST);
        }
    }
    const LRESULT result = CallWindowProcW(previous, control, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemoveNumberMark(control, CONTROL_NUMBER_PROPERTY);
        RemovePropW(control, L"ReframeClassProcedure");
        SetWindowLongPtrW(control, GWLP_ID, -1);
        *record = ControlRecord{};
    }
    return result;
}

// Makes a control of `kind` under `number` in the current window. Returns null, changing
// nothing, when there is no window to hold it or the platform refuses it.
HWND MakeControl(int32_t number, const ControlKind& kind, const wchar_t* className, DWORD style,
                 DWORD extendedStyle, ControlPlace place, const std::u16string& text,
                 INT_PTR identifier) {
    ToolkitState& state = Toolkit();
    WindowRecord* window = FindWindowRecord(state.controlParent);
    if (number < 0 || window == nullptr) return nullptr;
    const RECT rectangle = ScaledPlace(place, window->dpi);
    HWND control =
        CreateWindowExW(extendedStyle, className, reinterpret_cast<const wchar_t*>(text.c_str()),
                        style, rectangle.left, rectangle.top, rectangle.right - rectangle.left,
                        rectangle.bottom - rectangle.top, window->handle,
                        reinterpret_cast<HMENU>(identifier), state.module, nullptr);
    if (control == nullptr) return nullptr;

    const size_t slot = static_cast<size_t>(number);
    if (slot >= state.controls.size()) state.controls.resize(slot + INITIAL_CONTROL_SLOTS);
    // The control that held the number goes; its procedure frees the entry as it does.
    if (HWND old = state.controls[slot].handle) DestroyWindow(old);
    ControlRecord& record = state.controls[slot];
    record = ControlRecord{};
    record.handle = control;
    record.kind = &kind;
    record.window = state.controlParent;
    record.place = place;
    record.previousProcedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_WNDPROC));
    SetPropW(control, L"ReframeClassProcedure", reinterpret_cast<HANDLE>(record.previousProcedure));
    MarkWithNumber(control, CONTROL_NUMBER_PROPERTY, number);
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProcedure));
    SetWindowLongPtrW(control, GWLP_ID, number);
    FitControlFont(record, *window);
    return control;
}

}  // namespace

void InitControls() {
    ToolkitState& state = Toolkit();
    state.controls.assign(INITIAL_CONTROL_SLOTS, ControlRecord{});
    state.controlFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    // The progress bar's class is registered here too, so that the toolkit does not depend on
    // the requesters having been started first.
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                 ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                                     ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS |
                                     ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
}

void FreeControls() {
    // Controls live inside their windows and go when those are disposed of; the toolkit makes
    // no shared helper window that would have to go here.
}

ControlRecord* FindControl(int32_t number) {
    ToolkitState& state = Toolkit();
    if (number < 0 || static_cast<size_t>(number) >= state.controls.size()) return nullptr;
    ControlRecord& record = state.controls[static_cast<size_t>(number)];
    return record.handle != nullptr ? &record : nullptr;
}

WindowHandleType AddLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const std::u16string& text) {
    return MakeControl(number, LABEL_KIND, L"Static", LABEL_STYLE, 0, {x, y, width, height}, text,
                       -1);
}

WindowHandleType AddTextField(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                              const std::u16string& text, uint32_t flags) {
    const DWORD extended = (flags & FLAT_TEXT_FIELD) != 0 ? 0 : WS_EX_CLIENTEDGE;
    return MakeControl(number, TEXT_FIELD_KIND, L"Edit", TEXT_FIELD_STYLE | flags, extended,
                       {x, y, width, height}, text, -1);
}

WindowHandleType AddButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const std::u16string& text, uint32_t flags) {
    return MakeControl(number, PUSH_BUTTON_KIND, L"Button", PUSH_BUTTON_STYLE | flags, 0,
                       {x, y, width, height}, text, -1);
}

WindowHandleType AddFrame(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const std::u16string& text) {
    return MakeControl(number, FRAME_KIND, L"Button", FRAME_STYLE, 0, {x, y, width, height}, text,
                       -1);
}

WindowHandleType AddCheckBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             const std::u16string& text) {
    return MakeControl(number, CHECK_BOX_KIND, L"Button", CHECK_BOX_STYLE, 0, {x, y, width, height},
                       text, -1);
}

WindowHandleType AddProgressBar(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                                int32_t minimum, int32_t maximum) {
    HWND bar = MakeControl(number, PROGRESS_BAR_KIND, PROGRESS_CLASSW, PROGRESS_BAR_STYLE, 0,
                           {x, y, width, height}, std::u16string(), 0);
    if (bar != nullptr) {
        SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(minimum),
                     static_cast<LPARAM>(maximum));
    }
    return bar;
}
