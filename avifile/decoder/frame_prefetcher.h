// Decoding ahead: a thread of its own decodes the next frames of a video stream while the
// caller works on the current one. Frames come out in position order, each exactly as
// AVIStreamGetPicture would have given it, so a caller sees no difference but the time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "avifile/decoder/frame_decoder.h"

// How many frames of `frameBytes` to decode ahead: enough to ride out a slow frame (a key frame
// of a compressed stream), within a fixed budget of memory per stream.
int FramesAheadFor(int64_t frameBytes);

class FramePrefetcher {
  public:
    // Positions first .. end - 1 of `decoder`, up to `ahead` frames (at least 1) decoded in
    // advance. The decoder's depth is raised to hold them; it must outlive the prefetcher and
    // must not be used by anything else meanwhile. When no thread can be had, frames are
    // decoded in the caller's thread as it asks for them.
    FramePrefetcher(PGETFRAME decoder, int64_t first, int64_t end, int ahead);
    ~FramePrefetcher();  // stops the thread and waits for it
    FramePrefetcher(const FramePrefetcher&) = delete;
    FramePrefetcher& operator=(const FramePrefetcher&) = delete;

    // The next position and its frame (empty where AVIStreamGetPicture gives none). False
    // after the last position. The frame stays valid until the next call.
    bool Next(int64_t* position, DecodedPicture* frame);

    // Seconds spent in the decoder, and seconds the caller waited for a frame. Read them once
    // all frames are taken.
    double DecodeSeconds() const { return decodeSeconds_; }
    double WaitSeconds() const { return waitSeconds_; }

  private:
    struct Entry {
        int64_t position;
        DecodedPicture frame;
    };
    void Run();

    PGETFRAME decoder_;
    int64_t next_;  // the next position the caller gets
    int64_t end_;
    size_t capacity_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Entry> queue_;  // a ring of `capacity_` entries
    size_t head_ = 0;
    size_t count_ = 0;
    bool stop_ = false;
    double decodeSeconds_ = 0;
    double waitSeconds_ = 0;
    std::thread thread_;
};
