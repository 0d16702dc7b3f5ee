#include "avifile/sample_table.h"

#include <algorithm>

void SampleTable::Finish(uint32_t sampleSize, int64_t maxSamples) {
    sampleSize_ = sampleSize;
    firstSample_.clear();
    keyChunks_.clear();
    maxChunk_ = 0;
    totalBytes_ = 0;
    int64_t count = 0;
    if (sampleSize_ > 0) firstSample_.reserve(chunks_.size() + 1);
    size_t usable = chunks_.size();
    for (size_t i = 0; i < chunks_.size(); ++i) {
        int64_t n = sampleSize_ > 0 ? chunks_[i].size / sampleSize_ : 1;
        if (count + n > maxSamples || i >= UINT32_MAX) {
            // Positions are 32-bit: chunks past the last one they can reach are left out.
            usable = i;
            break;
        }
        if (sampleSize_ > 0) firstSample_.push_back(count);
        if ((chunks_[i].flags & kChunkKey) && n > 0) keyChunks_.push_back(static_cast<uint32_t>(i));
        maxChunk_ = std::max(maxChunk_, chunks_[i].size);
        totalBytes_ += chunks_[i].size;
        count += n;
    }
    chunks_.resize(usable);
    chunks_.shrink_to_fit();
    if (sampleSize_ > 0) firstSample_.push_back(count);
    samples_ = count;
}

int64_t SampleTable::ChunkFirstSample(size_t i) const {
    return sampleSize_ > 0 ? firstSample_[i] : static_cast<int64_t>(i);
}

size_t SampleTable::ChunkOfSample(int64_t sample) const {
    if (sampleSize_ == 0) return static_cast<size_t>(sample);
    // The last chunk whose first sample is at or before `sample`; chunks too small to hold a
    // sample share their first sample with the next one and are passed over.
    auto it = std::upper_bound(firstSample_.begin(), firstSample_.end() - 1, sample);
    return static_cast<size_t>(it - firstSample_.begin()) - 1;
}

int64_t SampleTable::KeyAtOrBefore(int64_t sample) const {
    if (sample < 0 || samples_ == 0) return -1;
    sample = std::min(sample, samples_ - 1);
    size_t chunk = ChunkOfSample(sample);
    auto it = std::upper_bound(keyChunks_.begin(), keyChunks_.end(), static_cast<uint32_t>(chunk));
    if (it == keyChunks_.begin()) return -1;
    size_t keyChunk = *(it - 1);
    if (keyChunk == chunk) return sample;
    // Every sample of a key chunk counts as a key sample; the last one is the nearest.
    return ChunkFirstSample(keyChunk + 1) - 1;
}

int64_t SampleTable::KeyAtOrAfter(int64_t sample) const {
    if (sample >= samples_) return -1;
    sample = std::max<int64_t>(sample, 0);
    size_t chunk = ChunkOfSample(sample);
    auto it = std::lower_bound(keyChunks_.begin(), keyChunks_.end(), static_cast<uint32_t>(chunk));
    if (it == keyChunks_.end()) return -1;
    return *it == chunk ? sample : ChunkFirstSample(*it);
}
