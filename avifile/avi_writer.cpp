#include "avifile/avi_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "avifile/little_endian.h"
#include "avifile/riff_chunk.h"
#include "support/unicode_text.h"

namespace {

constexpr size_t kMaxStreams = 100;  // data chunk ids carry two decimal digits
constexpr uint32_t kMaxFixedChunk = 1 << 20;
constexpr size_t kDmlhSize = 248;
constexpr uint32_t kNotKeyFrame = 0x80000000u;

DWORD DataChunkId(size_t stream, char a, char b) {
    return mmioFOURCC(static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10), a,
                      b);
}

int16_t ClampToInt16(LONG v) {
    return static_cast<int16_t>(std::clamp<LONG>(v, INT16_MIN, INT16_MAX));
}

// Frame size of a video stream: its frame rectangle, or its format where the rectangle is empty.
void FrameSizeOf(const AviStreamData& s, DWORD* width, DWORD* height) {
    const RECT& r = s.info.rcFrame;
    int64_t w = int64_t{r.right} - r.left;
    int64_t h = int64_t{r.bottom} - r.top;
    if ((w <= 0 || h <= 0) && s.format.size() >= 12) {
        w = static_cast<int32_t>(GetLe32(s.format.data() + 4));
        h = std::abs(int64_t{static_cast<int32_t>(GetLe32(s.format.data() + 8))});
    }
    *width = static_cast<DWORD>(std::clamp<int64_t>(w, 0, UINT32_MAX));
    *height = static_cast<DWORD>(std::clamp<int64_t>(h, 0, UINT32_MAX));
}

double DurationSeconds(const AviStreamData& s) {
    if (s.info.dwRate == 0) return 0;
    return (double(s.info.dwStart) + double(s.info.dwLength)) * s.info.dwScale / s.info.dwRate;
}

}  // namespace

AviWriter::AviWriter(std::unique_ptr<ByteSink> sink, uint64_t riffLimit)
    : sink_(std::move(sink)), riffLimit_(riffLimit) {}

AviWriter::~AviWriter() {
    Close();
}

HRESULT AviWriter::AddStream(const AVISTREAMINFOW& info) {
    if (closed_) return AVIERR_UNSUPPORTED;
    if (streams_.size() >= kMaxStreams) return AVIERR_UNSUPPORTED;
    WriterStream stream;
    stream.data.info = info;
    AVISTREAMINFOW& own = stream.data.info;
    own.dwLength = 0;
    own.dwSuggestedBufferSize = 0;
    own.dwEditCount = 0;
    own.dwFormatChangeCount = 0;
    own.dwCaps = 0;
    own.szName[63] = 0;
    if (own.dwStart > INT32_MAX) own.dwStart = 0;
    // A video chunk holds one frame, so video is always counted one sample per chunk.
    if (own.fccType == streamtypeVIDEO) own.dwSampleSize = 0;
    streams_.push_back(std::move(stream));
    return AVIERR_OK;
}

HRESULT AviWriter::SetFormat(size_t index, const void* format, LONG size) {
    if (closed_) return AVIERR_UNSUPPORTED;
    if (size < 0 || (size > 0 && !format)) return AVIERR_BADPARAM;
    WriterStream& s = streams_[index];
    const auto* bytes = static_cast<const uint8_t*>(format);
    std::vector<uint8_t> wanted(bytes, bytes + size);
    if (s.started) {
        // The format can't change once samples are stored; repeating it is harmless.
        return wanted == s.data.format ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    s.data.format = std::move(wanted);
    return AVIERR_OK;
}

HRESULT AviWriter::SetData(size_t index, DWORD fcc, const void* data, LONG size) {
    if (closed_) return AVIERR_UNSUPPORTED;
    if (size < 0 || (size > 0 && !data)) return AVIERR_BADPARAM;
    for (DWORD own : {kFccStrh, kFccStrf, kFccStrn, kFccIndx, kFccJunk, kFccList, kFccRiff})
        if (fcc == own) return AVIERR_UNSUPPORTED;
    auto& extra = streams_[index].data.extra;
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto it =
        std::find_if(extra.begin(), extra.end(), [&](const auto& e) { return e.first == fcc; });
    if (it != extra.end()) {
        it->second.assign(bytes, bytes + size);
    } else {
        extra.emplace_back(fcc, std::vector<uint8_t>(bytes, bytes + size));
    }
    return AVIERR_OK;
}

HRESULT AviWriter::Write(size_t index, LONG start, LONG samples, const void* data, LONG bytes,
                         DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    if (closed_) return AVIERR_UNSUPPORTED;
    if (Failed()) return AVIERR_FILEWRITE;
    if (samples < 0 || bytes < 0 || (bytes > 0 && !data)) return AVIERR_BADPARAM;
    WriterStream& s = streams_[index];
    AVISTREAMINFOW& info = s.data.info;
    if (!s.started) {
        s.started = true;
        if (info.fccType == streamtypeVIDEO) {
            DWORD compression =
                s.data.format.size() >= 20 ? GetLe32(s.data.format.data() + 16) : BI_RGB;
            s.uncompressedVideo = compression == BI_RGB || compression == BI_BITFIELDS;
            s.chunkId = DataChunkId(index, 'd', s.uncompressedVideo ? 'b' : 'c');
        } else if (info.fccType == streamtypeAUDIO) {
            s.chunkId = DataChunkId(index, 'w', 'b');
        } else {
            s.chunkId = DataChunkId(index, 't', 'x');
        }
    }
    int64_t end = int64_t{info.dwStart} + s.written;
    int64_t pos = start;
    if (pos < info.dwStart && s.written == 0) pos = info.dwStart;
    if (pos < end) return AVIERR_BADPARAM;  // samples once stored are not replaced
    const auto* bytePtr = static_cast<const uint8_t*>(data);

    if (info.dwSampleSize == 0) {
        int64_t count = samples > 0 ? samples : (bytes > 0 ? 1 : 0);
        if (count == 0) return AVIERR_OK;
        if (pos + count > INT32_MAX) return AVIERR_BADPARAM;
        // Empty, non-key chunks keep every later sample at its own position.
        for (int64_t gap = end; gap < pos; ++gap) {
            if (HRESULT r = WriteChunk(s, nullptr, 0, false); r != AVIERR_OK) return r;
            ++s.written;
        }
        // Every uncompressed frame stands on its own, whatever flags the caller passed.
        bool key = (flags & AVIIF_KEYFRAME) != 0 || (s.uncompressedVideo && bytes > 0);
        if (HRESULT r = WriteChunk(s, bytePtr, static_cast<uint32_t>(bytes), key); r != AVIERR_OK)
            return r;
        ++s.written;
        for (int64_t i = 1; i < count; ++i) {
            if (HRESULT r = WriteChunk(s, nullptr, 0, false); r != AVIERR_OK) return r;
            ++s.written;
        }
        info.dwLength = static_cast<DWORD>(s.written);
        if (samplesWritten) *samplesWritten = static_cast<LONG>(count);
        if (bytesWritten) *bytesWritten = bytes;
        return AVIERR_OK;
    }

    uint32_t sampleSize = info.dwSampleSize;
    if (pos != end || bytes % sampleSize != 0) return AVIERR_BADPARAM;
    int64_t count = bytes / sampleSize;
    if (end + count > INT32_MAX) return AVIERR_BADPARAM;
    // Chunks of about a second, and never above 1 MiB, so readers can stream them.
    uint64_t perSecond = info.dwScale ? info.dwRate / info.dwScale : 0;
    uint64_t cap = std::max<uint64_t>(1, kMaxFixedChunk / sampleSize);
    uint64_t perChunk = perSecond == 0 ? cap : std::clamp<uint64_t>(perSecond, 1, cap);
    bool key = (flags & AVIIF_KEYFRAME) != 0;
    for (int64_t done = 0; done < count;) {
        int64_t n = std::min<int64_t>(static_cast<int64_t>(perChunk), count - done);
        HRESULT r =
            WriteChunk(s, bytePtr + done * sampleSize, static_cast<uint32_t>(n * sampleSize), key);
        if (r != AVIERR_OK) return r;
        done += n;
        s.written += n;
        info.dwLength = static_cast<DWORD>(s.written);
    }
    if (samplesWritten) *samplesWritten = static_cast<LONG>(count);
    if (bytesWritten) *bytesWritten = bytes;
    return AVIERR_OK;
}

HRESULT AviWriter::WriteChunk(WriterStream& s, const void* data, uint32_t size, bool key) {
    if (!moviStarted_) BeginMovi();
    uint64_t need = 8 + uint64_t{size} + (size & 1u);
    // The part must still hold its indexes after this chunk: an ix## per stream and, in the
    // first part, the idx1. The first part keeps a margin in case its header space must grow.
    uint64_t chunksAfter = riffChunks_ + 1;
    uint64_t streamsAfter = riffStreams_ + (s.data.table.ChunkCount() == s.riffFirst ? 1 : 0);
    uint64_t indexBytes =
        8 * chunksAfter + 32 * streamsAfter + (riffIndex_ == 0 ? 8 + 16 * chunksAfter : 0);
    uint64_t limit = riffLimit_;
    if (riffIndex_ == 0) limit -= std::min<uint64_t>(riffLimit_ / 16, 1 << 20);
    if (riffChunks_ > 0 && sink_->Position() + need + indexBytes - riffStart_ > limit) {
        CloseRiff(true);
        StartContinuation();
    }
    uint8_t header[8];
    PutLe32(header, s.chunkId);
    PutLe32(header + 4, size);
    uint64_t dataOffset = sink_->Position() + 8;
    sink_->Append(header, 8);
    if (size > 0) sink_->Append(data, size);
    if (size & 1u) sink_->AppendZeros(1);
    if (sink_->Failed()) {
        failed_ = true;
        return AVIERR_FILEWRITE;
    }
    if (s.data.table.ChunkCount() == s.riffFirst) ++riffStreams_;
    s.data.table.Append(dataOffset, size, key);
    ++riffChunks_;
    s.data.info.dwSuggestedBufferSize = std::max(s.data.info.dwSuggestedBufferSize, size);
    return AVIERR_OK;
}

size_t AviWriter::EstimateHeaderReserve() const {
    // Room for the headers known now, for super index entries of 256 RIFF parts per stream, and
    // for streams still to come (a converter adds each stream after writing the previous one).
    size_t known = BuildHeaderList().size() + 12 + 8 + kDmlhSize;
    size_t perStream = 12 + 64 + 8 + 40 + 1024 + 8 + 64 + 8 + 24 + 16 * 256;
    size_t more = streams_.size() < 8 ? 8 - streams_.size() : 1;
    size_t reserve = known + streams_.size() * 16 * 256 + more * perStream;
    return (reserve + 4095) & ~size_t{4095};
}

void AviWriter::BeginMovi() {
    moviStarted_ = true;
    reserve_ = EstimateHeaderReserve() - 12;
    LeWriter head;
    head.U32(kFccRiff);
    head.U32(0);
    head.U32(kFccAvi);
    sink_->Append(head.bytes.data(), head.Size());
    sink_->AppendZeros(reserve_);
    riffStart_ = 0;
    moviList_ = sink_->Position();
    LeWriter movi;
    movi.U32(kFccList);
    movi.U32(0);
    movi.U32(kFccMovi);
    sink_->Append(movi.bytes.data(), movi.Size());
}

void AviWriter::StartContinuation() {
    riffStart_ = sink_->Position();
    LeWriter head;
    head.U32(kFccRiff);
    head.U32(0);
    head.U32(kFccAvix);
    head.U32(kFccList);
    head.U32(0);
    head.U32(kFccMovi);
    sink_->Append(head.bytes.data(), head.Size());
    moviList_ = riffStart_ + 12;
    ++riffIndex_;
}

void AviWriter::CloseRiff(bool moreFollows) {
    if (moreFollows) odml_ = true;
    if (odml_) {
        for (size_t i = 0; i < streams_.size(); ++i) {
            WriterStream& s = streams_[i];
            size_t first = s.riffFirst, last = s.data.table.ChunkCount();
            if (first == last) continue;
            LeWriter ix;
            ix.U32(mmioFOURCC('i', 'x', static_cast<char>('0' + i / 10),
                              static_cast<char>('0' + i % 10)));
            ix.U32(static_cast<uint32_t>(24 + 8 * (last - first)));
            ix.U16(2);  // DWORDs per entry
            ix.U8(0);   // sub type
            ix.U8(1);   // index of chunks
            ix.U32(static_cast<uint32_t>(last - first));
            ix.U32(s.chunkId);
            ix.U64(riffStart_);
            ix.U32(0);
            ix.bytes.reserve(ix.Size() + 8 * (last - first));
            uint64_t samples = 0;
            for (size_t c = first; c < last; ++c) {
                const ChunkEntry& e = s.data.table.Chunk(c);
                ix.U32(static_cast<uint32_t>(e.offset - riffStart_));
                ix.U32(e.size | ((e.flags & kChunkKey) ? 0 : kNotKeyFrame));
                samples += s.data.info.dwSampleSize ? e.size / s.data.info.dwSampleSize : 1;
            }
            s.super.push_back({sink_->Position(), static_cast<uint32_t>(ix.Size()),
                               static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX))});
            sink_->Append(ix.bytes.data(), ix.Size());
        }
    }
    uint8_t size[4];
    PutLe32(size, static_cast<uint32_t>(sink_->Position() - moviList_ - 8));
    sink_->WriteAt(moviList_ + 4, size, 4);

    if (riffIndex_ == 0) {
        // idx1 lists the first part's chunks in file order, offsets from the 'movi' list type.
        struct Ref {
            uint64_t offset;
            uint32_t stream;
            uint32_t chunk;
        };
        std::vector<Ref> refs;
        refs.reserve(riffChunks_);
        for (size_t i = 0; i < streams_.size(); ++i) {
            streams_[i].firstRiffChunks = streams_[i].data.table.ChunkCount();
            for (size_t c = 0; c < streams_[i].data.table.ChunkCount(); ++c)
                refs.push_back({streams_[i].data.table.Chunk(c).offset, static_cast<uint32_t>(i),
                                static_cast<uint32_t>(c)});
        }
        std::sort(refs.begin(), refs.end(),
                  [](const Ref& a, const Ref& b) { return a.offset < b.offset; });
        LeWriter idx1;
        idx1.bytes.reserve(8 + 16 * refs.size());
        idx1.U32(kFccIdx1);
        idx1.U32(static_cast<uint32_t>(16 * refs.size()));
        uint64_t moviType = moviList_ + 8;
        for (const Ref& r : refs) {
            const WriterStream& s = streams_[r.stream];
            const ChunkEntry& e = s.data.table.Chunk(r.chunk);
            idx1.U32(s.chunkId);
            idx1.U32((e.flags & kChunkKey) ? AVIIF_KEYFRAME : 0);
            idx1.U32(static_cast<uint32_t>(e.offset - 8 - moviType));
            idx1.U32(e.size);
        }
        sink_->Append(idx1.bytes.data(), idx1.Size());
    }
    PutLe32(size, static_cast<uint32_t>(sink_->Position() - riffStart_ - 8));
    sink_->WriteAt(riffStart_ + 4, size, 4);

    for (WriterStream& s : streams_) s.riffFirst = s.data.table.ChunkCount();
    riffChunks_ = 0;
    riffStreams_ = 0;
    if (sink_->Failed()) failed_ = true;
}

const AviWriter::WriterStream* AviWriter::FirstVideo() const {
    for (const WriterStream& s : streams_)
        if (s.data.info.fccType == streamtypeVIDEO) return &s;
    return nullptr;
}

AVIFILEINFOW AviWriter::FileInfo() const {
    AVIFILEINFOW info{};
    info.dwCaps = AVIFILECAPS_CANREAD | AVIFILECAPS_CANWRITE;
    info.dwFlags = AVIF_HASINDEX;
    info.dwStreams = static_cast<DWORD>(streams_.size());
    const WriterStream* video = FirstVideo();
    if (video) FrameSizeOf(video->data, &info.dwWidth, &info.dwHeight);
    // The file's clock ticks once per frame of the first video stream (or of the first stream).
    const WriterStream* clock = video ? video : (streams_.empty() ? nullptr : &streams_[0]);
    if (clock && clock->data.info.dwRate != 0) {
        uint64_t us = (uint64_t{1000000} * clock->data.info.dwScale + clock->data.info.dwRate / 2) /
                      clock->data.info.dwRate;
        info.dwScale = static_cast<DWORD>(std::min<uint64_t>(us, UINT32_MAX));
        info.dwRate = 1000000;
    }
    double seconds = 0;
    uint64_t bytes = 0;
    for (const WriterStream& s : streams_) {
        seconds = std::max(seconds, DurationSeconds(s.data));
        bytes += s.data.table.ChunkCount() * 8 + s.data.table.TotalBytes();
        info.dwSuggestedBufferSize =
            std::max(info.dwSuggestedBufferSize, s.data.info.dwSuggestedBufferSize);
    }
    if (info.dwSuggestedBufferSize > 0) info.dwSuggestedBufferSize += 8;
    if (seconds > 0) {
        double rate = std::ceil(double(bytes) / seconds);
        info.dwMaxBytesPerSec = rate >= 4294967295.0 ? UINT32_MAX : static_cast<DWORD>(rate);
    }
    if (info.dwScale != 0) {
        double length = std::ceil(seconds * info.dwRate / info.dwScale - 1e-9);
        info.dwLength =
            length >= 4294967295.0 ? UINT32_MAX : static_cast<DWORD>(std::max(0.0, length));
    }
    const char16_t type[] = u"AVI";
    std::copy(std::begin(type), std::end(type), info.szFileType);
    return info;
}

std::vector<uint8_t> AviWriter::BuildHeaderList() const {
    AVIFILEINFOW file = FileInfo();
    const WriterStream* video = FirstVideo();
    LeWriter w;
    size_t hdrl = w.BeginChunk(kFccList);
    w.U32(kFccHdrl);
    size_t avih = w.BeginChunk(kFccAvih);
    w.U32(file.dwScale);  // microseconds per frame
    w.U32(file.dwMaxBytesPerSec);
    w.U32(0);  // padding granularity
    w.U32(AVIF_HASINDEX);
    // The main header counts the frames of the first part only; dmlh has the whole count.
    uint64_t frames = 0;
    if (video) frames = odml_ ? video->firstRiffChunks : video->data.table.ChunkCount();
    w.U32(static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX)));
    w.U32(0);  // initial frames
    w.U32(file.dwStreams);
    w.U32(file.dwSuggestedBufferSize);
    w.U32(file.dwWidth);
    w.U32(file.dwHeight);
    w.Zeros(16);
    w.EndChunk(avih);

    for (const WriterStream& s : streams_) {
        const AVISTREAMINFOW& info = s.data.info;
        size_t strl = w.BeginChunk(kFccList);
        w.U32(kFccStrl);
        size_t strh = w.BeginChunk(kFccStrh);
        w.U32(info.fccType);
        w.U32(info.fccHandler);
        w.U32(info.dwFlags);
        w.U16(info.wPriority);
        w.U16(info.wLanguage);
        w.U32(info.dwInitialFrames);
        w.U32(info.dwScale);
        w.U32(info.dwRate);
        w.U32(info.dwStart);
        w.U32(info.dwLength);
        w.U32(info.dwSuggestedBufferSize);
        w.U32(info.dwQuality);
        w.U32(info.dwSampleSize);
        w.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.left)));
        w.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.top)));
        w.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.right)));
        w.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.bottom)));
        w.EndChunk(strh);
        size_t strf = w.BeginChunk(kFccStrf);
        w.Raw(s.data.format.data(), s.data.format.size());
        w.EndChunk(strf);
        for (const auto& [fcc, bytes] : s.data.extra) {
            size_t chunk = w.BeginChunk(fcc);
            w.Raw(bytes.data(), bytes.size());
            w.EndChunk(chunk);
        }
        size_t nameLength = 0;
        while (nameLength < 64 && info.szName[nameLength]) ++nameLength;
        if (nameLength > 0) {
            std::string name = ToUtf8(std::u16string_view(info.szName, nameLength));
            size_t strn = w.BeginChunk(kFccStrn);
            w.Raw(name.data(), name.size());
            w.U8(0);
            w.EndChunk(strn);
        }
        if (odml_) {
            size_t indx = w.BeginChunk(kFccIndx);
            w.U16(4);  // DWORDs per entry
            w.U8(0);   // sub type
            w.U8(0);   // index of indexes
            w.U32(static_cast<uint32_t>(s.super.size()));
            w.U32(s.chunkId ? s.chunkId
                            : DataChunkId(static_cast<size_t>(&s - streams_.data()), 'd', 'c'));
            w.Zeros(12);
            for (const SuperEntry& e : s.super) {
                w.U64(e.offset);
                w.U32(e.size);
                w.U32(e.duration);
            }
            w.EndChunk(indx);
        }
        w.EndChunk(strl);
    }
    if (odml_) {
        size_t odml = w.BeginChunk(kFccList);
        w.U32(kFccOdml);
        size_t dmlh = w.BeginChunk(kFccDmlh);
        w.U32(video ? video->data.info.dwLength : 0);
        w.Zeros(kDmlhSize - 4);
        w.EndChunk(dmlh);
        w.EndChunk(odml);
    }
    w.EndChunk(hdrl);
    return std::move(w.bytes);
}

void AviWriter::GrowHeaderSpace(uint64_t delta) {
    // Moves everything after the header space up by `delta`. Only index chunks hold absolute
    // offsets (their base offset and the super index entries); idx1 is relative to movi.
    uint64_t from = 12 + reserve_;
    uint64_t end = sink_->Position();
    sink_->AppendZeros(delta);
    std::vector<uint8_t> block(4 << 20);
    for (uint64_t pos = end; pos > from && !sink_->Failed();) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), pos - from));
        pos -= n;
        if (!sink_->ReadAt(pos, block.data(), n)) break;
        sink_->WriteAt(pos + delta, block.data(), n);
    }
    std::fill(block.begin(), block.end(), 0);
    for (uint64_t pos = from; pos < from + delta;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), from + delta - pos));
        sink_->WriteAt(pos, block.data(), n);
        pos += n;
    }
    reserve_ += delta;
    for (WriterStream& s : streams_) {
        for (SuperEntry& e : s.super) {
            e.offset += delta;
            uint8_t base[8];
            if (!sink_->ReadAt(e.offset + 8 + 12, base, 8)) continue;
            PutLe64(base, GetLe64(base) + delta);
            sink_->WriteAt(e.offset + 8 + 12, base, 8);
        }
    }
    uint8_t size[4];
    if (sink_->ReadAt(4, size, 4)) {
        PutLe32(size, static_cast<uint32_t>(GetLe32(size) + delta));
        sink_->WriteAt(4, size, 4);
    }
}

HRESULT AviWriter::Close() {
    if (closed_) return closeResult_;
    closed_ = true;
    if (!moviStarted_) BeginMovi();
    CloseRiff(false);
    std::vector<uint8_t> headers = BuildHeaderList();
    // The header list must fill its space exactly or leave room for a JUNK chunk after it.
    if (headers.size() != reserve_ && headers.size() + 8 > reserve_) {
        uint64_t delta = ((headers.size() + 8 - reserve_) + 4095) & ~uint64_t{4095};
        GrowHeaderSpace(delta);
        headers = BuildHeaderList();
    }
    sink_->WriteAt(12, headers.data(), headers.size());
    if (headers.size() < reserve_) {
        uint8_t junk[8];
        PutLe32(junk, kFccJunk);
        PutLe32(junk + 4, static_cast<uint32_t>(reserve_ - headers.size() - 8));
        sink_->WriteAt(12 + headers.size(), junk, 8);
    }
    bool closedOk = sink_->Close();
    closeResult_ = (!closedOk || failed_) ? AVIERR_FILEWRITE : AVIERR_OK;
    if (closeResult_ != AVIERR_OK) failed_ = true;
    return closeResult_;
}
