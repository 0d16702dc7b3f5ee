// Row bands: the bands cover every row once, and each round runs every band exactly once,
// on as many threads as were asked for, for many rounds in a row.
#include "avi/row_bands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(RowBands, BandsCoverEveryRowOnceInOrder) {
    for (int32_t rows : {1, 2, 7, 720, 1081}) {
        for (int bands : {1, 2, 3, 8, 2000}) {
            int32_t next = 0;
            for (int band = 0; band < bands; ++band) {
                const RowRange range = BandRows(rows, band, bands);
                EXPECT_EQ(range.first, next) << rows << " rows, band " << band << "/" << bands;
                EXPECT_GE(range.end, range.first);
                EXPECT_LE(range.end - range.first, rows / bands + 1);
                next = range.end;
            }
            EXPECT_EQ(next, rows) << rows << " rows in " << bands << " bands";
        }
    }
    EXPECT_EQ(BandRows(0, 0, 2).end, 0);
}

struct Tally {
    std::atomic<int> calls[4];
    std::atomic<int> wrongCount{0};
    std::mutex lock;
    std::set<std::thread::id> threads;
};

void Count(void* context, int band, int bands) {
    auto* tally = static_cast<Tally*>(context);
    if (bands != 4) ++tally->wrongCount;
    ++tally->calls[band];
    std::lock_guard<std::mutex> hold(tally->lock);
    tally->threads.insert(std::this_thread::get_id());
}

TEST(RowBands, EveryRoundRunsEachBandOnceOnItsOwnThread) {
    RowBands bands(4);
    ASSERT_EQ(bands.Bands(), 4);
    Tally tally;
    for (auto& c : tally.calls) c = 0;
    for (int round = 1; round <= 500; ++round) {
        bands.Run(Count, &tally);
        // Run returns only when all bands of the round are done.
        for (int band = 0; band < 4; ++band) ASSERT_EQ(tally.calls[band].load(), round);
    }
    EXPECT_EQ(tally.wrongCount.load(), 0);
    EXPECT_EQ(tally.threads.size(), 4u);
    EXPECT_TRUE(tally.threads.count(std::this_thread::get_id()));  // the caller takes band 0

    RowBands alone(1);
    EXPECT_EQ(alone.Bands(), 1);
}

}  // namespace
