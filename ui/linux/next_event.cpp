// The one stream of event codes: window events wait in the FIFO queue, control reports in
// their own list, and both are fed by handling Qt's events on the calling thread.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <utility>

#include "ui/linux/toolkit_state.h"
#include "ui/window_toolkit.h"

namespace {

int32_t TakeControlReport(EventState& events) {
    const ControlReport report = events.pendingReports.front();
    events.pendingReports.pop_front();
    events.lastControl = report.control;
    events.notification = report.notification;
    events.eventWindow = -1;
    if (const ControlRecord* record = FindControl(report.control))
        events.eventWindow = record->window;
    return EVENT_CONTROL;
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

// Handles what Qt has waiting (in waiting mode: waits for something first). Returns whether
// anything at all was handled.
bool HandleWindowSystemEvents(bool wait) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) return false;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    if (wait) flags |= QEventLoop::WaitForMoreEvents;
    EventState& events = Toolkit().events;
    bool handled = false;
    do {
        handled = dispatcher->processEvents(flags);
    } while (wait && !handled && events.queue.entries.empty() && events.pendingReports.empty());
    // Without a running QEventLoop Qt never gets round to objects it deletes later; this is
    // the outermost level, so they can go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return handled;
}

int32_t NextEvent(bool wait) {
    EventState& events = Toolkit().events;
    events.notification = -1;
    if (!events.queue.entries.empty()) return TakeQueuedEvent(events);
    if (!events.pendingReports.empty()) return TakeControlReport(events);
    const bool handled = HandleWindowSystemEvents(wait);
    if (!events.pendingReports.empty()) return TakeControlReport(events);
    if (!events.queue.entries.empty()) return TakeQueuedEvent(events);
    return handled ? EVENT_SYSTEM_ACTIVITY : EVENT_NONE;
}

}  // namespace

void RaiseWindowEvent(int32_t code, int32_t window) {
    QueueEvent(Toolkit().events.queue, code, window);
}

void RaiseControlReport(int32_t control, int32_t notification) {
    std::deque<ControlReport>& reports = Toolkit().events.pendingReports;
    // Typing fast gives one change report per key; one waiting report says it all.
    if (notification == NOTIFY_TEXT_CHANGED && !reports.empty() &&
        reports.back().control == control && reports.back().notification == notification) {
        return;
    }
    reports.push_back(ControlReport{control, notification});
}

void RaiseFileDrop(int32_t window, FileDrop drop) {
    EventState& events = Toolkit().events;
    events.pendingDrops.push_back(std::move(drop));
    // Each drop names its own file, so unlike repaints two drops in a row stay two events.
    events.queue.entries.push_back(QueuedEvent{EVENT_DROP_FILES, window});
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
