// Where each sample of one stream lies in the file: one compact entry per chunk and, for
// streams of fixed-size samples, the first sample of every chunk for binary search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ChunkEntry {
    uint64_t offset;  // file offset of the chunk's data
    uint32_t size;    // bytes of data
    uint32_t flags;   // kChunkKey when the chunk starts with a key frame
};
static_assert(sizeof(ChunkEntry) == 16);

constexpr uint32_t kChunkKey = 1;

class SampleTable {
  public:
    void Reserve(size_t chunks) { chunks_.reserve(chunks); }
    void Append(uint64_t offset, uint32_t size, bool key) {
        chunks_.push_back(ChunkEntry{offset, size, key ? kChunkKey : 0u});
    }
    // Fixes how samples are counted (0: one per chunk) and builds the lookup tables. The sample
    // count is capped at `maxSamples`.
    void Finish(uint32_t sampleSize, int64_t maxSamples);

    uint32_t SampleSize() const { return sampleSize_; }
    int64_t SampleCount() const { return samples_; }
    size_t ChunkCount() const { return chunks_.size(); }
    const ChunkEntry& Chunk(size_t i) const { return chunks_[i]; }
    uint32_t MaxChunkSize() const { return maxChunk_; }
    uint64_t TotalBytes() const { return totalBytes_; }
    // First sample of chunk `i` (i may equal ChunkCount(): the sample count).
    int64_t ChunkFirstSample(size_t i) const;
    int64_t ChunkSamples(size_t i) const { return ChunkFirstSample(i + 1) - ChunkFirstSample(i); }
    // The chunk that holds sample `sample` (0 <= sample < SampleCount()).
    size_t ChunkOfSample(int64_t sample) const;
    bool IsKey(int64_t sample) const { return chunks_[ChunkOfSample(sample)].flags & kChunkKey; }
    // Key samples at or before / at or after `sample`; -1 when there is none.
    int64_t KeyAtOrBefore(int64_t sample) const;
    int64_t KeyAtOrAfter(int64_t sample) const;

  private:
    std::vector<ChunkEntry> chunks_;
    std::vector<int64_t> firstSample_;  // fixed-size streams only; ChunkCount() + 1 entries
    std::vector<uint32_t> keyChunks_;   // indexes of key chunks with samples
    uint32_t sampleSize_ = 0;
    int64_t samples_ = 0;
    uint32_t maxChunk_ = 0;
    uint64_t totalBytes_ = 0;
};
