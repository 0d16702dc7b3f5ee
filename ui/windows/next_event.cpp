// The one stream of event codes: window events wait in the FIFO queue; everything else comes
// from handling one platform message of the thread per call.
#include <windows.h>

#include <utility>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

namespace {

int32_t TakeQueuedEvent(EventState& events) {
    QueuedEvent taken;
    if (TakeEvent(events.queue, taken) == 0) return EVENT_NONE;
    events.eventWindow = taken.window;
    events.pendingCode = 0;
    if (taken.code == EVENT_DROP_FILES && !events.pendingDrops.empty()) {
        events.lastDrop = std::move(events.pendingDrops.front());
        events.pendingDrops.pop_front();
    }
    return taken.code;
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

int32_t NextEvent(bool wait) {
    EventState& events = Toolkit().events;
    events.notification = -1;
    if (!events.queue.entries.empty()) return TakeQueuedEvent(events);

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

}  // namespace

void RaiseWindowEvent(int32_t code, int32_t window) {
    QueueEvent(Toolkit().events.queue, code, window);
}

int32_t WaitEvent() {
    return NextEvent(true);
}

int32_t PollEvent() {
    return NextEvent(false);
}

int32_t EventControl() {
    return Toolkit().events.lastControl;
}

int32_t EventNotification() {
    return Toolkit().events.notification;
}

int32_t EventWindow() {
    return Toolkit().events.eventWindow;
}

std::u16string DroppedFile() {
    return Toolkit().events.lastDrop.file;
}

int32_t DroppedOnControl() {
    return Toolkit().events.lastDrop.control;
}
