// The window procedure of the toolkit's windows: turns the platform's window messages into the
// toolkit's event codes, queued or left as the pending code of the current event call.
#include <windows.h>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

namespace {

void HandleSize(WPARAM sizeType, int32_t number) {
    WindowRecord* record = FindWindowRecord(number);
    switch (sizeType) {
        case SIZE_MINIMIZED:
            if (record != nullptr) record->minimizedOrMaximized = true;
            RaiseWindowEvent(EVENT_MINIMIZE_WINDOW, number);
            return;
        case SIZE_MAXIMIZED:
            if (record != nullptr) record->minimizedOrMaximized = true;
            RaiseWindowEvent(EVENT_MAXIMIZE_WINDOW, number);
            break;
        case SIZE_RESTORED:
            if (record != nullptr && record->minimizedOrMaximized) {
                record->minimizedOrMaximized = false;
                RaiseWindowEvent(EVENT_RESTORE_WINDOW, number);
            }
            break;
        default:
            break;
    }
    RaiseWindowEvent(EVENT_SIZE_WINDOW, number);
}

void HandleCommand(WPARAM wParam, LPARAM lParam) {
    PlatformEvents& events = Toolkit().events;
    if (lParam != 0) {
        // From a control: none of the kinds keeps a command for itself, every report is an event.
        events.pendingCode = EVENT_CONTROL;
        events.notification = HIWORD(wParam);
        events.lastControl = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        return;
    }
    const WORD command = LOWORD(wParam);
    if (HIWORD(wParam) != 0 && command == CMD_FOCUS_NEXT) {
        FocusNextControl(true);
    } else if (HIWORD(wParam) != 0 && command == CMD_FOCUS_PREVIOUS) {
        FocusNextControl(false);
    } else {
        events.pendingCode = EVENT_MENU;
        events.lastControl = command;
    }
}

BOOL CALLBACK SendToChild(HWND child, LPARAM message) {
    SendMessageW(child, static_cast<UINT>(message), 0, 0);
    return TRUE;
}

// A move to a screen of another dpi: the window takes the size Windows suggests, which keeps
// the client area the same number of 96-dpi pixels, and its controls follow.
void HandleDpiChange(int32_t number, HWND window, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(number);
    if (record == nullptr) return;
    record->dpi = HIWORD(wParam) != 0 ? HIWORD(wParam) : USER_DEFAULT_SCREEN_DPI;
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RelayoutControls(number);
}

}  // namespace

LRESULT CALLBACK ToolkitWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        MarkWithNumber(window, WINDOW_NUMBER_PROPERTY,
                       static_cast<int32_t>(reinterpret_cast<INT_PTR>(creation->lpCreateParams)));
    }
    PlatformEvents& events = Toolkit().events;
    const int32_t number = WindowNumberOf(window);
    events.eventWindow = number;
    switch (message) {
        case WM_CLOSE:
            // The window stays open: closing is the caller's decision.
            RaiseWindowEvent(EVENT_CLOSE_WINDOW, number);
            return 0;
        case WM_MOVE:
            RaiseWindowEvent(EVENT_MOVE_WINDOW, number);
            return 0;
        case WM_SIZE:
            HandleSize(wParam, number);
            return 0;
        case WM_ACTIVATE:
            // The default handling would hand the focus to a control; the toolkit never does.
            if (LOWORD(wParam) != 0) RaiseWindowEvent(EVENT_ACTIVATE_WINDOW, number);
            return 1;
        case WM_ERASEBKGND:
            RaiseWindowEvent(EVENT_REPAINT, number);
            break;
        case WM_COMMAND:
            HandleCommand(wParam, lParam);
            return 0;
        case MSG_CONTROL_FOCUS:
            events.pendingCode = EVENT_CONTROL;
            events.lastControl = static_cast<int32_t>(wParam);
            events.notification = static_cast<int32_t>(lParam);
            return 0;
        case WM_SYSCOLORCHANGE:
            EnumChildWindows(window, SendToChild, WM_SYSCOLORCHANGE);
            break;
        case WM_DROPFILES:
            HandleDroppedFiles(number, reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_DPICHANGED:
            HandleDpiChange(number, window, wParam, lParam);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
