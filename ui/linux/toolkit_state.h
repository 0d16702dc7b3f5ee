// The toolkit's own records on top of Qt: the numbered window and control tables, the
// operation table of each control kind, and the process-wide event state. Only the
// toolkit's sources include this header; everything else goes through window_toolkit.h.
#pragma once

#include <QFont>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ui/event_state.h"

class ToolkitWindow;

// One shared table of operations per kind. A missing state operation means the kind has no
// state: it reads as 0 and ignores writes.
struct ControlKind {
    int32_t code;  // 1 button, 2 text field, 3 label, 4 check box, 7 frame, 14 progress bar
    bool tabStop;  // visited by the Tab walk
    int32_t (*readState)(QWidget* control);
    void (*writeState)(QWidget* control, int32_t value);
};

struct ControlRecord {
    QPointer<QWidget> handle;  // empty: the number is free
    const ControlKind* kind = nullptr;
    int32_t window = -1;         // number of the window that holds the control
    uint64_t creationOrder = 0;  // the Tab walk follows this order
};

struct WindowRecord {
    QPointer<ToolkitWindow> handle;     // empty: the number is free
    bool minimizedOrMaximized = false;  // decides whether a normal state is a restore
};

// A control's report (click, toggle, text change, focus change) waiting to be returned as
// EVENT_CONTROL. Reports are kept in order rather than overwriting one another: Qt may
// handle several window-system messages in one pass, and a click must not be lost to a
// focus report that the same pass produced.
struct ControlReport {
    int32_t control;
    int32_t notification;
};

struct PlatformEvents : EventState {
    std::deque<ControlReport> pendingReports;
};

constexpr size_t INITIAL_WINDOW_SLOTS = 16;
constexpr size_t INITIAL_CONTROL_SLOTS = 50;

struct ToolkitState {
    std::vector<WindowRecord> windows;
    std::vector<ControlRecord> controls;
    PlatformEvents events;
    int32_t controlParent = -1;  // window number that receives new controls
    uint64_t nextCreationOrder = 1;
    QFont controlFont;
};

ToolkitState& Toolkit();

// Properties that mark Qt widgets as the toolkit's own, carrying their numbers.
inline constexpr const char* WINDOW_NUMBER_PROPERTY = "reframeWindowNumber";
inline constexpr const char* CONTROL_NUMBER_PROPERTY = "reframeControlNumber";
// Marks a text field into which only digits can be typed.
inline constexpr const char* DIGITS_ONLY_PROPERTY = "reframeDigitsOnly";

// Number of the toolkit window that `widget` belongs to (walking up its parents), or -1.
int32_t WindowNumberOf(const QWidget* widget);
// Number of the control `widget` is, or -1.
int32_t ControlNumberOf(const QWidget* widget);
ControlRecord* FindControl(int32_t number);
ToolkitWindow* FindWindow(int32_t number);

void RaiseControlReport(int32_t control, int32_t notification);
// Lets files be dropped on the toolkit's windows and their controls.
void InstallDropRules();

// Moves the keyboard focus to the next (or previous) tab-stop control of `window`.
void FocusNextControl(int32_t window, bool forward);
// The application-wide keyboard rules: the Tab walk, digits-only fields, no Enter clicks.
void InstallKeyboardRules();
// Number of the control that has the keyboard focus, or -1.
int32_t FocusedControl();
