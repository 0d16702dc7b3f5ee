#include "ui/event_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int32_t> DrainCodes(EventQueue& queue) {
    std::vector<int32_t> codes;
    QueuedEvent taken;
    while (TakeEvent(queue, taken) != 0) codes.push_back(taken.code);
    return codes;
}

TEST(EventQueue, ReturnsEventsOldestFirst) {
    EventQueue queue;
    QueueEvent(queue, 3, 0);
    QueueEvent(queue, 16, 0);
    QueueEvent(queue, 5, 0);
    EXPECT_EQ(DrainCodes(queue), (std::vector<int32_t>{3, 16, 5}));
    QueuedEvent taken{77, 77};
    EXPECT_EQ(TakeEvent(queue, taken), 0);
    EXPECT_EQ(taken.code, 77) << "an empty queue leaves the output alone";
}

TEST(EventQueue, RepeatOfNewestEntryIsStoredOnce) {
    EventQueue queue;
    QueueEvent(queue, 3, 0);
    QueueEvent(queue, 3, 0);
    QueueEvent(queue, 3, 1);  // same code, another window: a new event
    QueueEvent(queue, 15, 1);
    QueueEvent(queue, 3, 1);  // not the newest any more: stored again
    QueuedEvent taken;
    std::vector<std::pair<int32_t, int32_t>> seen;
    while (TakeEvent(queue, taken) != 0) seen.emplace_back(taken.code, taken.window);
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{3, 0}, {3, 1}, {15, 1}, {3, 1}}));
}

TEST(EventQueue, RepeatAfterTakingIsStoredAgain) {
    EventQueue queue;
    QueueEvent(queue, 16, 0);
    QueuedEvent taken;
    ASSERT_EQ(TakeEvent(queue, taken), 1);
    QueueEvent(queue, 16, 0);
    EXPECT_EQ(DrainCodes(queue), (std::vector<int32_t>{16}));
}

}  // namespace
