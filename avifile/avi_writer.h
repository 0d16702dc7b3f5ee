// Writing an AVI file: streams are added and written in any order, headers and indexes are
// completed at Close. Past the RIFF size limit (1 GiB) the file continues in OpenDML parts
// with ix## and indx indexes; the first part keeps an idx1 for older readers.
#pragma once

#include <memory>
#include <vector>

#include "avifile/avi_stream_data.h"
#include "avifile/byte_sink.h"

constexpr uint64_t kDefaultRiffLimit = uint64_t{1} << 30;

class AviWriter {
  public:
    AviWriter(std::unique_ptr<ByteSink> sink, uint64_t riffLimit);
    ~AviWriter();

    size_t StreamCount() const { return streams_.size(); }
    HRESULT AddStream(const AVISTREAMINFOW& info);
    HRESULT SetFormat(size_t stream, const void* format, LONG size);
    HRESULT SetData(size_t stream, DWORD fcc, const void* data, LONG size);
    HRESULT Write(size_t stream, LONG start, LONG samples, const void* data, LONG bytes,
                  DWORD flags, LONG* samplesWritten, LONG* bytesWritten);
    // Completes the file and closes it; later calls return the same result.
    HRESULT Close();

    bool Failed() const { return failed_ || sink_->Failed(); }
    bool Closed() const { return closed_; }
    const AviStreamData& Stream(size_t i) const { return streams_[i].data; }
    AVIFILEINFOW FileInfo() const;

  private:
    struct SuperEntry {
        uint64_t offset;  // of the ix## chunk header
        uint32_t size;    // of the whole ix## chunk
        uint32_t duration;
    };
    struct WriterStream {
        AviStreamData data;
        DWORD chunkId = 0;
        bool started = false;
        bool uncompressedVideo = false;
        int64_t written = 0;   // samples
        size_t riffFirst = 0;  // first chunk of the current RIFF part
        size_t firstRiffChunks = 0;
        std::vector<SuperEntry> super;
    };

    HRESULT WriteChunk(WriterStream& stream, const void* data, uint32_t size, bool key);
    void BeginMovi();
    void CloseRiff(bool moreFollows);
    void StartContinuation();
    std::vector<uint8_t> BuildHeaderList() const;
    size_t EstimateHeaderReserve() const;
    void GrowHeaderSpace(uint64_t delta);
    const WriterStream* FirstVideo() const;

    std::unique_ptr<ByteSink> sink_;
    uint64_t riffLimit_;
    std::vector<WriterStream> streams_;
    bool moviStarted_ = false;
    bool odml_ = false;
    bool closed_ = false;
    bool failed_ = false;
    HRESULT closeResult_ = AVIERR_OK;
    uint64_t reserve_ = 0;    // bytes kept for the header list after the first 12 bytes
    uint64_t riffStart_ = 0;  // offset of the current RIFF header
    uint64_t moviList_ = 0;   // offset of the current movi LIST header
    int riffIndex_ = 0;
    uint64_t riffChunks_ = 0;   // chunks of all streams in the current RIFF part
    uint64_t riffStreams_ = 0;  // streams with chunks in the current RIFF part
};
