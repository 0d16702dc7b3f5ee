// The one stream of event codes: window events wait in the FIFO queue, control reports in
// their own list, and both are fed by handling Qt's events on the calling thread.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include "ui/linux/toolkit_state.h"
#include "ui/window_toolkit.h"

namespace {

int32_t TakeControlReport(PlatformEvents& events) {
    const ControlReport report = events.pendingReports.front();
    events.pendingReports.pop_front();
    events.lastControl = report.control;
    events.notification = report.notification;
    events.eventWindow = -1;
    if (const ControlRecord* record = FindControl(report.control))
        events.eventWindow = record->window;
    return EVENT_CONTROL;
}

// Handles what Qt has waiting (in waiting mode: waits for something first). Returns whether
// anything at all was handled.
bool HandleWindowSystemEvents(bool wait) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) return false;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    if (wait) flags |= QEventLoop::WaitForMoreEvents;
    PlatformEvents& events = Toolkit().events;
    bool handled = false;
    do {
        handled = dispatcher->processEvents(flags);
    } while (wait && !handled && events.queue.entries.empty() && events.pendingReports.empty());
    // Without a running QEventLoop Qt never gets round to objects it deletes later; this is
    // the outermost level, so they can go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return handled;
}

}  // namespace

EventState& ToolkitEvents() {
    return Toolkit().events;
}

int32_t NextToolkitEvent(bool wait) {
    PlatformEvents& events = Toolkit().events;
    events.notification = -1;
    if (!events.queue.entries.empty()) return TakeQueuedEvent(events);
    if (!events.pendingReports.empty()) return TakeControlReport(events);
    const bool handled = HandleWindowSystemEvents(wait);
    if (!events.pendingReports.empty()) return TakeControlReport(events);
    if (!events.queue.entries.empty()) return TakeQueuedEvent(events);
    return handled ? EVENT_SYSTEM_ACTIVITY : EVENT_NONE;
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
