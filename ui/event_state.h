// What the toolkit remembers of the events it hands out, the same on every platform: the
// window events waiting, the files dropped, and what the last event was about. Each platform's
// toolkit feeds it from its own messages; the event accessors of window_toolkit.h read it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "ui/event_queue.h"

// A drop of files on a toolkit window, waiting for its EVENT_DROP_FILES to be taken.
struct FileDrop {
    std::u16string file;
    int32_t control = -1;
};

struct EventState {
    int32_t lastControl = 0;
    int32_t eventWindow = -1;
    int32_t notification = -1;
    EventQueue queue;
    std::deque<FileDrop> pendingDrops;  // one per EVENT_DROP_FILES in the queue
    FileDrop lastDrop;
};

// Queues a window event (see QueueEvent).
void RaiseWindowEvent(int32_t code, int32_t window);
// Queues the EVENT_DROP_FILES of a drop on `window`.
void RaiseFileDrop(int32_t window, FileDrop drop);
// Takes the oldest waiting window event, and with a drop its file; EVENT_NONE when none waits.
int32_t TakeQueuedEvent(EventState& events);

// Each platform's own: its toolkit's event state, and the next event code (waiting for one,
// or EVENT_NONE at once when nothing has happened).
EventState& ToolkitEvents();
int32_t NextToolkitEvent(bool wait);
