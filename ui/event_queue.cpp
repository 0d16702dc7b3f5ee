#include "ui/event_queue.h"

void QueueEvent(EventQueue& queue, int32_t code, int32_t window) {
    if (!queue.entries.empty()) {
        const QueuedEvent& newest = queue.entries.back();
        if (newest.code == code && newest.window == window) return;
    }
    queue.entries.push_back(QueuedEvent{code, window});
}

int32_t TakeEvent(EventQueue& queue, QueuedEvent& taken) {
    if (queue.entries.empty()) return 0;
    taken = queue.entries.front();
    queue.entries.pop_front();
    return 1;
}
