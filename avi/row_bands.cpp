#include "avi/row_bands.h"

#include <system_error>

RowBands::RowBands(int threads) {
    for (int band = 1; band < threads; ++band) {
        try {
            helpers_.emplace_back(&RowBands::Help, this, band);
        } catch (const std::system_error&) {
            break;
        }
    }
}

RowBands::~RowBands() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    start_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

void RowBands::Run(Work work, void* context) {
    const int bands = Bands();
    if (bands > 1) {
        std::lock_guard<std::mutex> hold(lock_);
        work_ = work;
        context_ = context;
        bands_ = bands;
        busy_ = bands - 1;
        ++round_;
    }
    start_.notify_all();
    work(context, 0, bands);
    if (bands == 1) return;
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [this] { return busy_ == 0; });
}

void RowBands::Help(int band) {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        start_.wait(hold, [&] { return stop_ || round_ != seen; });
        if (stop_) return;
        seen = round_;
        const Work work = work_;
        void* context = context_;
        const int bands = bands_;
        hold.unlock();
        work(context, band, bands);
        hold.lock();
        if (--busy_ == 0) done_.notify_one();
    }
}

RowRange BandRows(int32_t rows, int band, int bands) {
    if (rows <= 0 || bands <= 0) return {0, 0};
    const int32_t share = rows / bands, extra = rows % bands;
    const int32_t first = band * share + (band < extra ? band : extra);
    return {first, first + share + (band < extra ? 1 : 0)};
}
