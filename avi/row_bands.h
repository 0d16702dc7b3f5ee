// A few helper threads that share out the rows of one frame: Run() cuts the work into bands,
// the calling thread takes the first, the helpers the others, and it returns when all are done.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class RowBands {
  public:
    // `threads` in all, the caller's included; 1 or less starts no helper. Helpers that can't
    // be started leave their bands to the others.
    explicit RowBands(int threads);
    ~RowBands();
    RowBands(const RowBands&) = delete;
    RowBands& operator=(const RowBands&) = delete;

    int Bands() const { return static_cast<int>(helpers_.size()) + 1; }

    // Calls work(context, band, bands) for band 0 .. bands - 1, one band per thread.
    using Work = void (*)(void* context, int band, int bands);
    void Run(Work work, void* context);

  private:
    void Help(int band);

    std::mutex lock_;
    std::condition_variable start_;
    std::condition_variable done_;
    uint64_t round_ = 0;  // counts Run calls; a helper wakes for each new one
    int busy_ = 0;        // helpers still working on this round
    int bands_ = 1;       // the bands of this round
    bool stop_ = false;
    Work work_ = nullptr;
    void* context_ = nullptr;
    std::vector<std::thread> helpers_;
};

// The rows band `band` of `bands` takes out of `rows`: equal shares, the first bands one
// larger where they don't divide evenly.
struct RowRange {
    int32_t first;
    int32_t end;
};
RowRange BandRows(int32_t rows, int band, int bands);
