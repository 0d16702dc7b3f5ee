// The toolkit's FIFO of window events: (event code, window number) pairs in the order they
// were raised. A repeat of the newest entry is not stored again, so a burst of moves or
// repaints reaches the caller as one event.
#pragma once

#include <cstdint>
#include <deque>

struct QueuedEvent {
    int32_t code = 0;
    int32_t window = -1;
};

struct EventQueue {
    std::deque<QueuedEvent> entries;
};

// Appends (code, window) unless the newest entry is exactly that pair.
void QueueEvent(EventQueue& queue, int32_t code, int32_t window);
// Takes the oldest entry into `taken`; 0 when the queue is empty.
int32_t TakeEvent(EventQueue& queue, QueuedEvent& taken);
