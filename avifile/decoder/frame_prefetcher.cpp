#include "avifile/decoder/frame_prefetcher.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int FramesAheadFor(int64_t frameBytes) {
    constexpr int64_t kBudget = 16 << 20;
    return static_cast<int>(std::clamp<int64_t>(kBudget / std::max<int64_t>(frameBytes, 1), 1, 4));
}

FramePrefetcher::FramePrefetcher(PGETFRAME decoder, int64_t first, int64_t end, int ahead)
    : decoder_(decoder), next_(first), end_(end), capacity_(ahead > 1 ? ahead : 1) {
    // The caller holds one frame; the thread makes one when fewer than `ahead` are queued.
    if (decoder_ == nullptr || first >= end ||
        AVIStreamGetFrameSetDepth(decoder_, static_cast<int>(capacity_) + 1) != AVIERR_OK)
        return;
    try {
        queue_.resize(capacity_);
        thread_ = std::thread(&FramePrefetcher::Run, this);
    } catch (const std::exception&) {  // no thread or no memory: decode on demand
        queue_.clear();
        AVIStreamGetFrameSetDepth(decoder_, 1);
    }
}

FramePrefetcher::~FramePrefetcher() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FramePrefetcher::Run() {
    for (int64_t position = next_; position < end_; ++position) {
        // A frame is decoded only once there is room to queue it, so the decoder needs one slot
        // for it, one per queued frame and one for the frame the caller holds.
        {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [this] { return stop_ || count_ < capacity_; });
            if (stop_) return;
        }
        const auto started = std::chrono::steady_clock::now();
        const DecodedPicture frame = AVIStreamGetPicture(decoder_, static_cast<LONG>(position));
        const double spent = SecondsSince(started);
        std::unique_lock<std::mutex> hold(lock_);
        decodeSeconds_ += spent;
        if (stop_) return;
        queue_[(head_ + count_) % capacity_] = Entry{position, frame};
        ++count_;
        hold.unlock();
        changed_.notify_all();
    }
}

bool FramePrefetcher::Next(int64_t* position, DecodedPicture* frame) {
    if (next_ >= end_) return false;
    if (!thread_.joinable()) {
        const auto started = std::chrono::steady_clock::now();
        *position = next_;
        *frame = AVIStreamGetPicture(decoder_, static_cast<LONG>(next_));
        decodeSeconds_ += SecondsSince(started);
        ++next_;
        return true;
    }
    std::unique_lock<std::mutex> hold(lock_);
    if (count_ == 0) {
        const auto started = std::chrono::steady_clock::now();
        changed_.wait(hold, [this] { return count_ > 0; });
        waitSeconds_ += SecondsSince(started);
    }
    // Taking the entry frees the frame handed out before it, whose slot the thread may refill.
    const Entry entry = queue_[head_];
    head_ = (head_ + 1) % capacity_;
    --count_;
    hold.unlock();
    changed_.notify_all();
    *position = entry.position;
    *frame = entry.frame;
    ++next_;
    return true;
}
