// The window toolkit the shell is written against: numbered windows, six kinds of numbered
// controls, text and state access, and one stream of integer event codes read by blocking
// (WaitEvent) or by polling (PollEvent). Only plain types cross this header, so another
// platform's window services can be put behind the same operations.
#pragma once

#include <cstdint>
#include <string>

// The platform object behind a window or control; 0 (nullptr) means "none".
using WindowHandleType = void*;

// Event codes. The shell acts on EVENT_CLOSE_WINDOW and EVENT_CONTROL only.
constexpr int32_t EVENT_NONE = 0;  // PollEvent: nothing was waiting
constexpr int32_t EVENT_MOVE_WINDOW = 3;
constexpr int32_t EVENT_SIZE_WINDOW = 5;
constexpr int32_t EVENT_REPAINT = 15;
constexpr int32_t EVENT_CLOSE_WINDOW = 16;
constexpr int32_t EVENT_CONTROL = 13100;
constexpr int32_t EVENT_MENU = 13101;
constexpr int32_t EVENT_ACTIVATE_WINDOW = 13104;
constexpr int32_t EVENT_MINIMIZE_WINDOW = 13107;
constexpr int32_t EVENT_MAXIMIZE_WINDOW = 13108;
constexpr int32_t EVENT_RESTORE_WINDOW = 13109;
// Files were dropped on a window: DroppedFile and DroppedOnControl tell what and where.
constexpr int32_t EVENT_DROP_FILES = 563;
// Window-system activity was handled but raised none of the events above.
constexpr int32_t EVENT_SYSTEM_ACTIVITY = 13199;

// Notification codes of a text field's focus reports (see EventNotification).
constexpr int32_t FOCUS_GAINED = 14000;
constexpr int32_t FOCUS_LOST = 14001;
// Notification codes of the other control reports.
constexpr int32_t NOTIFY_CLICKED = 0;           // button clicked, check box toggled
constexpr int32_t NOTIFY_TEXT_CHANGED = 0x300;  // a text field's text changed

// Style bits the callers pass, with the values the Windows toolkit uses for them. Where
// windows.h is included these are its own macros, of the same values.
#ifndef WS_CAPTION
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;  // button: default-button look only
constexpr uint32_t ES_READONLY = 0x800;     // text field: the user cannot change it
constexpr uint32_t ES_NUMBER = 0x2000;      // text field: only digits can be typed
constexpr uint32_t WS_MAXIMIZEBOX = 0x10000;
constexpr uint32_t WS_MINIMIZEBOX = 0x20000;
constexpr uint32_t WS_THICKFRAME = 0x40000;  // sizing border
constexpr uint32_t WS_SYSMENU = 0x80000;     // system menu and close box
constexpr uint32_t WS_CAPTION = 0xC00000;    // title bar
#endif

// Start-up. InitWindows also brings up the window system itself (on Linux the Qt
// application object), so it must come before anything else of this header. Qt is given
// only a program name, never the command line: the tool's own parameters are file names
// and must not be taken for window-system options.
void InitWindows();
void InitControls();

// Names the program to the desktop (its application id, which matches the desktop file)
// and gives every window the icon made of the PNG files in `iconFolder`, a folder of the
// program's own resources. Call after InitWindows.
void SetProgramIdentity(const std::u16string& applicationId, const std::u16string& iconFolder);

// 1 when a window system can be reached at all (a display is named); 0 otherwise. Lets the
// program say so plainly instead of letting the window system abort the process.
int32_t WindowSystemAvailable();

// Windows. NewWindow places the outer top-left corner at (x, y) and makes the client area
// exactly width x height; the window is shown at once and receives the controls made next.
WindowHandleType NewWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const std::u16string& title, uint32_t flags);
WindowHandleType WindowHandle(int32_t number);
int32_t BeginControls(WindowHandleType window);
void DisposeWindow(int32_t number);
void CloseAllWindows();

// Controls, placed in pixels inside the current window's client area (outer size).
WindowHandleType AddLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const std::u16string& text);
WindowHandleType AddTextField(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                              const std::u16string& text, uint32_t flags = 0);
WindowHandleType AddButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const std::u16string& text, uint32_t flags = 0);
WindowHandleType AddFrame(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const std::u16string& text);
WindowHandleType AddCheckBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             const std::u16string& text);
WindowHandleType AddProgressBar(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                                int32_t minimum, int32_t maximum);
void FreeControls();

// Text and state. A number without a control reads as empty text and state 0; writes to it
// do nothing.
std::u16string GetControlText(int32_t number);
void SetControlText(int32_t number, const std::u16string& text);
int32_t GetControlState(int32_t number);
void SetControlState(int32_t number, int32_t value);

// Events. WaitEvent blocks until there is an event; PollEvent never blocks and returns
// EVENT_NONE when nothing was waiting. Both read the same stream.
int32_t WaitEvent();
int32_t PollEvent();
// Control number of the last EVENT_CONTROL; its notification (FOCUS_GAINED, FOCUS_LOST or
// -1 for other reports, reset by every event call).
int32_t EventControl();
int32_t EventNotification();
// Number of the window of the last event, -1 when it belonged to none.
int32_t EventWindow();

// Of the last EVENT_DROP_FILES: the first dropped local file (several files dropped: the
// first is taken), and the control it was dropped on, -1 for the window itself. Other event
// calls leave them as they are.
std::u16string DroppedFile();
int32_t DroppedOnControl();
