// The event accessors of the window toolkit, written once over the platforms' event state.
#include "ui/event_state.h"

#include <utility>

#include "ui/window_toolkit.h"

void RaiseFileDrop(int32_t window, FileDrop drop) {
    EventState& events = ToolkitEvents();
    events.pendingDrops.push_back(std::move(drop));
    // Each drop names its own file, so unlike repaints two drops in a row stay two events.
    events.queue.entries.push_back(QueuedEvent{EVENT_DROP_FILES, window});
}

int32_t TakeQueuedEvent(EventState& events) {
    QueuedEvent taken;
    if (TakeEvent(events.queue, taken) == 0) return EVENT_NONE;
    events.eventWindow = taken.window;
    if (taken.code == EVENT_DROP_FILES && !events.pendingDrops.empty()) {
        events.lastDrop = std::move(events.pendingDrops.front());
        events.pendingDrops.pop_front();
    }
    return taken.code;
}

void RaiseWindowEvent(int32_t code, int32_t window) {
    QueueEvent(ToolkitEvents().queue, code, window);
}

int32_t WaitEvent() {
    return NextToolkitEvent(true);
}

int32_t PollEvent() {
    return NextToolkitEvent(false);
}

int32_t EventControl() {
    return ToolkitEvents().lastControl;
}

int32_t EventNotification() {
    return ToolkitEvents().notification;
}

int32_t EventWindow() {
    return ToolkitEvents().eventWindow;
}

std::u16string DroppedFile() {
    return ToolkitEvents().lastDrop.file;
}

int32_t DroppedOnControl() {
    return ToolkitEvents().lastDrop.control;
}
