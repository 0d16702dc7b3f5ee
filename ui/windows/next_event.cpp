// The one stream of event codes: window events wait in the FIFO queue; everything else comes
// from handling one platform message of the thread per call.
#include <windows.h>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

namespace {

// A waiting window event; a code that a message raised meanwhile is dropped with it.
int32_t TakeWindowEvent(PlatformEvents& events) {
    events.pendingCode = 0;
    return TakeQueuedEvent(events);
}

// A message handled without raising an event is returned as its own number, except where that
// number is one of the codes callers act on: a posted WM_CLOSE (16) or WM_DROPFILES (563) has
// already queued its EVENT_CLOSE_WINDOW or EVENT_DROP_FILES, and must not be reported twice.
int32_t MessageCode(UINT message) {
    for (const int32_t code : {EVENT_CLOSE_WINDOW, EVENT_CONTROL, EVENT_DROP_FILES}) {
        if (message == static_cast<UINT>(code)) return EVENT_SYSTEM_ACTIVITY;
    }
    return static_cast<int32_t>(message);
}

}  // namespace

EventState& ToolkitEvents() {
    return Toolkit().events;
}

int32_t NextToolkitEvent(bool wait) {
    PlatformEvents& events = Toolkit().events;
    events.notification = -1;
    if (!events.queue.entries.empty()) return TakeWindowEvent(events);

    MSG message{};
    if (wait) {
        if (GetMessageW(&message, nullptr, 0, 0) == -1) return EVENT_NONE;
    } else if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
        return EVENT_NONE;
    }
    // Tab and Shift+Tab are the accelerators of every toolkit window.
    bool translated = false;
    HWND active = GetActiveWindow();
    if (const WindowRecord* window = FindWindowRecord(NumberMark(active, WINDOW_NUMBER_PROPERTY))) {
        if (window->accelerators != nullptr)
            translated = TranslateAcceleratorW(active, window->accelerators, &message) != 0;
    }
    if (!translated) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (events.pendingCode != 0) {
        const int32_t code = events.pendingCode;
        events.pendingCode = 0;
        return code;
    }
    events.wordOne = message.wParam;
    events.wordTwo = message.lParam;
    return MessageCode(message.message);
}
