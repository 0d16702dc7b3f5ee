// The Win32 toolkit's own records: the numbered window and control tables, the operation
// table of each control kind and the process-wide event state. Only the toolkit's Windows
// sources include this header; everything else goes through window_toolkit.h.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ui/event_state.h"

// One shared table of operations per kind. A missing state operation means the kind has no
// state: it reads as 0 and ignores writes.
struct ControlKind {
    int32_t code;  // 1 button, 2 text field, 3 label, 4 check box, 7 frame, 14 progress bar
    int32_t (*readState)(HWND control);
    void (*writeState)(HWND control, int32_t value);
};

// Where the caller placed a control, in the 96-dpi pixels the shell lays its window out in;
// the platform rectangle is this scaled to the window's dots per inch.
struct ControlPlace {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct ControlRecord {
    HWND handle = nullptr;  // null: the number is free
    const ControlKind* kind = nullptr;
    WNDPROC previousProcedure = nullptr;  // the control class's own procedure
    int32_t window = -1;                  // number of the window that holds the control
    ControlPlace place;
};

struct WindowRecord {
    HWND handle = nullptr;  // null: the number is free
    HACCEL accelerators = nullptr;
    std::wstring className;
    bool minimizedOrMaximized = false;  // decides whether a restored size is a restore
    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    HFONT scaledFont = nullptr;  // the control font for a dpi other than 96, owned here
};

// The message words of the last event, and a code that a message's handling raised.
struct PlatformEvents : EventState {
    int32_t pendingCode = 0;
    WPARAM wordOne = 0;
    LPARAM wordTwo = 0;
};

constexpr size_t INITIAL_WINDOW_SLOTS = 16;
constexpr size_t INITIAL_CONTROL_SLOTS = 50;

// Private messages and commands between the toolkit's parts.
constexpr UINT MSG_CONTROL_FOCUS = 13103;  // wParam: control number, lParam: FOCUS_GAINED/LOST
constexpr WORD CMD_FOCUS_NEXT = 64001;
constexpr WORD CMD_FOCUS_PREVIOUS = 64002;

struct ToolkitState {
    std::vector<WindowRecord> windows;
    std::vector<ControlRecord> controls;
    PlatformEvents events;
    int32_t controlParent = -1;  // window number that receives new controls
    HINSTANCE module = nullptr;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    HCURSOR cursor = nullptr;
    HFONT controlFont = nullptr;  // the stock GUI font, never deleted
};

ToolkitState& Toolkit();

// Window properties that mark the toolkit's windows and controls, carrying their numbers
// (stored plus one, so that number 0 is told apart from no mark).
inline constexpr const wchar_t* WINDOW_NUMBER_PROPERTY = L"ReframeWindowNumber";
inline constexpr const wchar_t* CONTROL_NUMBER_PROPERTY = L"ReframeControlNumber";

void MarkWithNumber(HWND handle, const wchar_t* property, int32_t number);
void RemoveNumberMark(HWND handle, const wchar_t* property);
// The number `handle` is marked with, or -1.
int32_t NumberMark(HWND handle, const wchar_t* property);
// Number of the toolkit window that `handle` is or lies in (walking up its parents), or -1.
int32_t WindowNumberOf(HWND handle);
WindowRecord* FindWindowRecord(int32_t number);
ControlRecord* FindControl(int32_t number);

// The window procedure of every toolkit window.
LRESULT CALLBACK ToolkitWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Takes the files of a WM_DROPFILES and queues its EVENT_DROP_FILES.
void HandleDroppedFiles(int32_t window, HDROP drop);

// Moves the keyboard focus to the next (or previous) tab-stop control of the active window.
void FocusNextControl(bool forward);

// Font and rectangles for a window's dots per inch: the stock font at the system's dpi, and
// the caller's own pixels at 96.
HFONT ControlFontFor(WindowRecord& window);
RECT ScaledPlace(const ControlPlace& place, UINT dpi);
// Gives a control the font of its window, made smaller only when the control's text would
// otherwise be clipped.
void FitControlFont(ControlRecord& control, WindowRecord& window);
// Lays the controls of `number` out again for its current dpi (after WM_DPICHANGED).
void RelayoutControls(int32_t number);
