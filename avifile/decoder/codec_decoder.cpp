#include "avifile/decoder/codec_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "avifile/avi_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

// Pictures are numbered by rank: the n-th chunk with data in stored order has rank n. Empty
// chunks are drop frames and show the picture before them, so the picture of rank n is shown
// from the position of that chunk up to the next chunk with data.
using Rank = int64_t;

// How far past a requested picture the decoder is fed, waiting for it, before it is given up
// as undecodable. Reordering decoders hold back a few pictures and threads a few more; a
// picture that has not come out by then never will.
constexpr Rank kMaxLead = 64;
constexpr int kMaxFailuresInARow = 1000;
// Extradata beyond this is not codec configuration but a damaged header.
constexpr LONG kMaxExtradata = 16 << 20;
// Leading pictures looked for after an MPEG-4 key frame.
constexpr Rank kMaxLeading = 8;

}  // namespace

struct CodecDecoder {
    PAVISTREAM stream = nullptr;
    LONG first = 0;              // first position of the stream
    LONG end = 0;                // one past the last position
    std::vector<LONG> pictures;  // positions of the chunks with data, by rank
    AVCodecID codecId = AV_CODEC_ID_NONE;
    AVCodecContext* context = nullptr;
    AVBSFContext* filter = nullptr;  // undoes DivX-style packed B-frames
    AVPacket* packet = nullptr;
    AVFrame* incoming = nullptr;
    std::vector<uint8_t> palette;  // for palettised codecs, in libavcodec's palette layout
    bool paletteDue = false;

    // Packets on their way to the decoder; a null entry asks it to give out what it holds.
    std::deque<AVPacket*> pending;
    bool started = false;
    Rank nextFeed = 0;
    bool drainSent = false;
    bool finished = false;

    AVFrame* shown = nullptr;
    bool haveShown = false;
    Rank shownRank = -1;
    uint64_t serial = 0;

    // Where each picture is shown. Decoders that never reorder give each picture with the rank
    // of its own chunk. For those that may, pictures come out in showing order and are counted,
    // starting from a key frame whose showing rank is known: the first picture, a key frame met
    // while counting, one whose leading pictures the bitstream tells, or any key frame while the
    // stream has shown no reordering at all.
    bool counting = false;
    bool anchored = false;
    bool anchorCertain = false;
    Rank anchorKey = 0;
    Rank anchorDisplay = 0;
    Rank nextDisplay = 0;
    int64_t lastPts = INT64_MIN;
    bool reorderSeen = false;
    int64_t picturesOut = 0;
    std::map<Rank, Rank> keyDisplay;   // key chunk's rank -> rank its picture is shown at
    std::map<Rank, Rank> keyEstimate;  // the same from the bitstream; -1 when it can't tell
};

namespace {

Rank PictureCount(const CodecDecoder* d) {
    return static_cast<Rank>(d->pictures.size());
}

// The picture shown at `position`: the last chunk with data at or before it; -1 for none.
Rank RankAt(const CodecDecoder* d, LONG position) {
    auto it = std::upper_bound(d->pictures.begin(), d->pictures.end(), position);
    return static_cast<Rank>(it - d->pictures.begin()) - 1;
}

// The rank of the chunk at `position`, or -1 when that chunk is empty.
Rank RankOfChunk(const CodecDecoder* d, int64_t position) {
    auto it = std::lower_bound(d->pictures.begin(), d->pictures.end(), position);
    return it != d->pictures.end() && *it == position ? static_cast<Rank>(it - d->pictures.begin())
                                                      : -1;
}

bool ReadChunk(const CodecDecoder* d, LONG position, std::vector<uint8_t>* bytes) {
    LONG size = 0;
    if (AVIStreamSampleSize(d->stream, position, &size) != AVIERR_OK || size <= 0) return false;
    bytes->resize(static_cast<size_t>(size));
    LONG got = 0;
    if (AVIStreamRead(d->stream, position, 1, bytes->data(), size, &got, nullptr) != AVIERR_OK)
        return false;
    bytes->resize(static_cast<size_t>(got));
    return true;
}

// MPEG-4 Part 2: the coding types of the pictures (VOPs) in a chunk: 0 I, 1 P, 2 B, 3 S.
std::vector<int> VopTypes(const std::vector<uint8_t>& b) {
    std::vector<int> types;
    for (size_t i = 0; i + 4 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB6)
            types.push_back(b[i + 4] >> 6);
    return types;
}

// H.264 and HEVC: the first byte of every NAL unit in a chunk (in start-code or
// length-prefixed form), up to the first length that doesn't fit.
std::vector<uint8_t> NalHeaders(const std::vector<uint8_t>& b, int lengthSize) {
    std::vector<uint8_t> headers;
    if (lengthSize == 0) {
        for (size_t i = 0; i + 3 < b.size(); ++i)
            if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) headers.push_back(b[i + 3]);
        return headers;
    }
    size_t at = 0;
    while (at + static_cast<size_t>(lengthSize) < b.size()) {
        size_t length = 0;
        for (int i = 0; i < lengthSize; ++i)
            length = (length << 8) | b[at + static_cast<size_t>(i)];
        at += static_cast<size_t>(lengthSize);
        if (length == 0 || length > b.size() - at) break;
        headers.push_back(b[at]);
        at += length;
    }
    return headers;
}

// H.264: whether a chunk holds an IDR slice.
bool HasIdrSlice(const std::vector<uint8_t>& b, int lengthSize) {
    const std::vector<uint8_t> headers = NalHeaders(b, lengthSize);
    return std::any_of(headers.begin(), headers.end(),
                       [](uint8_t header) { return (header & 0x1F) == 5; });
}

// HEVC: the types of the NAL units in a chunk.
std::vector<int> HevcNalTypes(const std::vector<uint8_t>& b, int lengthSize) {
    std::vector<int> types;
    for (uint8_t header : NalHeaders(b, lengthSize)) types.push_back((header >> 1) & 0x3F);
    return types;
}

// HEVC NAL unit types: RADL (6, 7) and RASL (8, 9) pictures follow their random access point
// in the stream but are shown before it; RASL ones can't be decoded when decoding starts there.
// Random access points are 16 to 21; types below 32 are coded pictures.
constexpr int kHevcFirstRasl = 8, kHevcLastRasl = 9, kHevcFirstRadl = 6, kHevcLastRadl = 7;
constexpr int kHevcFirstIrap = 16, kHevcLastIrap = 21, kHevcFirstNonPicture = 32;

int HevcPictureType(const std::vector<int>& types) {
    for (int t : types)
        if (t < kHevcFirstNonPicture) return t;
    return -1;
}

// HEVC extradata in 'hvcC' form gives the size of the NAL length prefixes; 0 for start codes.
int HevcLengthSize(const AVCodecContext* c) {
    return c->extradata_size > 22 && c->extradata[0] == 1 ? (c->extradata[21] & 3) + 1 : 0;
}

// The rank a key frame's picture is shown at, told from the bitstream where the codec allows:
// nothing stored before a key frame is shown after it, so the rank is the key's own plus the
// pictures stored after it that are shown before it. -1 when that can't be told.
Rank EstimateKeyDisplay(CodecDecoder* d, Rank key) {
    auto cached = d->keyEstimate.find(key);
    if (cached != d->keyEstimate.end()) return cached->second;
    Rank estimate = -1;
    std::vector<uint8_t> bytes;
    if (d->codecId == AV_CODEC_ID_H264 &&
        ReadChunk(d, d->pictures[static_cast<size_t>(key)], &bytes)) {
        const AVCodecContext* c = d->context;
        int lengthSize =
            c->extradata_size > 4 && c->extradata[0] == 1 ? (c->extradata[4] & 3) + 1 : 0;
        if (HasIdrSlice(bytes, lengthSize))
            estimate = key;  // nothing after an IDR is shown before it
    } else if (d->codecId == AV_CODEC_ID_MPEG4 &&
               ReadChunk(d, d->pictures[static_cast<size_t>(key)], &bytes)) {
        std::vector<int> types = VopTypes(bytes);
        if (types.size() > 1) {
            estimate = key;  // packed pictures: the chunks are already in showing order
        } else if (types.size() == 1) {
            // B-pictures right after the key frame are shown before it.
            Rank leading = 0;
            for (Rank r = key + 1; r < PictureCount(d) && leading < kMaxLeading; ++r) {
                if (!ReadChunk(d, d->pictures[static_cast<size_t>(r)], &bytes)) break;
                std::vector<int> next = VopTypes(bytes);
                if (next.empty() || next[0] != 2) break;
                ++leading;
            }
            estimate = key + leading;
        }
    } else if (d->codecId == AV_CODEC_ID_HEVC &&
               ReadChunk(d, d->pictures[static_cast<size_t>(key)], &bytes)) {
        int lengthSize = HevcLengthSize(d->context);
        int type = HevcPictureType(HevcNalTypes(bytes, lengthSize));
        if (type >= kHevcFirstIrap && type <= kHevcLastIrap) {
            // Leading pictures decodable from here are shown before it; if any can't be decoded
            // from here, the count from this picture on would be wrong.
            Rank leading = 0;
            bool undecodable = false;
            for (Rank r = key + 1; r < PictureCount(d) && leading < kMaxLeading; ++r) {
                if (!ReadChunk(d, d->pictures[static_cast<size_t>(r)], &bytes)) break;
                int next = HevcPictureType(HevcNalTypes(bytes, lengthSize));
                if (next >= kHevcFirstRasl && next <= kHevcLastRasl) {
                    undecodable = true;
                    break;
                }
                if (next < kHevcFirstRadl || next > kHevcLastRadl) break;
                ++leading;
            }
            if (!undecodable && leading < kMaxLeading) estimate = key + leading;
        }
    }
    d->keyEstimate[key] = estimate;
    return estimate;
}

// The rank a key frame's picture is shown at, when known; -1 otherwise.
Rank KnownKeyDisplay(CodecDecoder* d, Rank key) {
    if (key == 0) return 0;
    auto known = d->keyDisplay.find(key);
    if (known != d->keyDisplay.end()) return known->second;
    return EstimateKeyDisplay(d, key);
}

bool IsKey(const CodecDecoder* d, Rank rank) {
    return AVIStreamIsKeyFrame(d->stream, d->pictures[static_cast<size_t>(rank)]) == 1;
}

void ClearPending(CodecDecoder* d) {
    for (AVPacket* p : d->pending) av_packet_free(&p);
    d->pending.clear();
}

// Hands queued packets to the decoder until it wants its output taken first.
void SendPending(CodecDecoder* d) {
    while (!d->pending.empty()) {
        AVPacket* p = d->pending.front();
        int r = avcodec_send_packet(d->context, p);
        if (r == AVERROR(EAGAIN)) return;
        // Any other failure: the data of that packet is lost; its picture won't come.
        av_packet_free(&p);
        d->pending.pop_front();
    }
}

// Puts a packet (or, with null, the end of the stream) on the way to the decoder.
void Queue(CodecDecoder* d, AVPacket* packet) {
    if (!d->filter) {
        if (packet) {
            AVPacket* copy = av_packet_alloc();
            if (!copy) return;
            av_packet_move_ref(copy, packet);
            d->pending.push_back(copy);
        } else {
            d->pending.push_back(nullptr);
        }
        return;
    }
    if (av_bsf_send_packet(d->filter, packet) < 0 && packet) av_packet_unref(packet);
    for (;;) {
        AVPacket* out = av_packet_alloc();
        if (!out) break;
        if (av_bsf_receive_packet(d->filter, out) < 0) {
            av_packet_free(&out);
            break;
        }
        d->pending.push_back(out);
    }
    if (!packet) d->pending.push_back(nullptr);
}

// Gives the decoder the next chunk with data (or the end of the stream). Returns false when
// there is nothing left to give.
bool FeedNext(CodecDecoder* d) {
    if (!d->pending.empty()) {
        SendPending(d);
        return true;
    }
    while (d->nextFeed < PictureCount(d)) {
        LONG position = d->pictures[static_cast<size_t>(d->nextFeed++)];
        LONG size = 0;
        if (AVIStreamSampleSize(d->stream, position, &size) != AVIERR_OK || size <= 0) continue;
        if (av_new_packet(d->packet, size) < 0) continue;
        LONG got = 0;
        if (AVIStreamRead(d->stream, position, 1, d->packet->data, size, &got, nullptr) !=
                AVIERR_OK ||
            got <= 0) {
            av_packet_unref(d->packet);
            continue;
        }
        av_shrink_packet(d->packet, got);
        d->packet->pts = d->packet->dts = position;
        if (AVIStreamIsKeyFrame(d->stream, position)) d->packet->flags |= AV_PKT_FLAG_KEY;
        if (d->paletteDue) {
            uint8_t* side = av_packet_new_side_data(d->packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
            if (side) {
                std::memcpy(side, d->palette.data(), AVPALETTE_SIZE);
                d->paletteDue = false;
            }
        }
        Queue(d, d->packet);
        av_packet_unref(d->packet);
        SendPending(d);
        return true;
    }
    if (!d->drainSent) {
        d->drainSent = true;
        Queue(d, nullptr);
        SendPending(d);
        return true;
    }
    return false;
}

bool KeysAligned(const CodecDecoder* d) {
    return d->picturesOut > 0 && !d->reorderSeen && d->context->has_b_frames == 0;
}

struct Start {
    Rank key = 0;
    Rank display = 0;
    bool certain = true;
};

// The key frame to start decoding from for the picture of rank `target`.
Start ChooseStart(CodecDecoder* d, Rank target) {
    LONG position = AVIStreamNearestKeyFrame(d->stream, d->pictures[static_cast<size_t>(target)]);
    while (position != -1 && position >= d->first) {
        Rank key = RankOfChunk(d, position);
        if (key == 0) break;
        if (key > 0) {
            if (!d->counting) return {key, key, true};
            Rank display = KnownKeyDisplay(d, key);
            if (display >= 0) {
                if (display <= target) return {key, display, true};
            } else if (KeysAligned(d)) {
                return {key, key, false};
            }
        }
        if (position == d->first) break;
        position = AVIStreamNearestKeyFrame(d->stream, position - 1);
    }
    return {0, 0, true};
}

void Restart(CodecDecoder* d, const Start& start) {
    if (d->started) {
        avcodec_flush_buffers(d->context);
        if (d->filter) av_bsf_flush(d->filter);
    }
    ClearPending(d);
    av_frame_unref(d->shown);
    d->haveShown = false;
    d->started = true;
    d->nextFeed = start.key;
    d->drainSent = false;
    d->finished = false;
    d->anchored = false;
    d->anchorCertain = start.certain;
    d->anchorKey = start.key;
    d->anchorDisplay = start.display;
    d->nextDisplay = start.display;
    d->lastPts = INT64_MIN;
    d->paletteDue = !d->palette.empty();
}

// Takes a picture the decoder gave out and decides which rank it is shown at. Returns false
// when it is shown nowhere (before the counting has a known starting point, or out of range).
bool Accept(CodecDecoder* d, AVFrame* frame) {
    int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    Rank own = pts != AV_NOPTS_VALUE ? RankOfChunk(d, pts) : -1;  // its chunk's rank
    Rank display;
    if (d->counting) {
        if (own >= 0 && d->lastPts != INT64_MIN && pts < d->lastPts) d->reorderSeen = true;
        if (own >= 0) d->lastPts = pts;
        if (!d->anchored) {
            Rank known = -1;
            if (own == d->anchorKey) {
                display = d->anchorDisplay;
                if (d->anchorCertain) d->keyDisplay[own] = display;
            } else if (own >= 0 && IsKey(d, own) && (known = KnownKeyDisplay(d, own)) >= 0) {
                display = known;
            } else {
                return false;  // a picture from before the key frame that the decoder still gave
                               // out
            }
            d->anchored = true;
        } else {
            display = d->nextDisplay;
            if (own >= 0 && IsKey(d, own)) {
                Rank known = KnownKeyDisplay(d, own);
                if (known >= 0) {
                    display = known;  // back in step after a lost picture
                } else {
                    // Everything stored before a key frame is shown before it, so a count below the
                    // key frame's own rank means pictures were lost on the way.
                    if (display < own) display = own;
                    d->keyDisplay[own] = display;
                }
            }
        }
        d->nextDisplay = display + 1;
    } else {
        display = own >= 0 ? own : d->nextDisplay;
        d->nextDisplay = display + 1;
    }
    if (display < 0 || display >= PictureCount(d)) return false;
    av_frame_unref(d->shown);
    av_frame_move_ref(d->shown, frame);
    d->haveShown = true;
    d->shownRank = display;
    ++d->serial;
    ++d->picturesOut;
    return true;
}

const AVCodecTag* const* RiffVideoTags() {
    static const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return tags;
}

// The codec a FourCC names. libavformat's table (matched without case) is asked first; HEVC
// came to it later than to AVI writers, so its codes are known here too.
AVCodecID CodecIdOf(DWORD tag) {
    AVCodecID id = av_codec_get_id(RiffVideoTags(), tag);
    if (id != AV_CODEC_ID_NONE) return id;
    DWORD upper = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        DWORD c = (tag >> shift) & 0xFF;
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        upper |= c << shift;
    }
    switch (upper) {
        case mmioFOURCC('H', 'E', 'V', 'C'):
        case mmioFOURCC('H', '2', '6', '5'):
        case mmioFOURCC('H', 'V', 'C', '1'):
        case mmioFOURCC('H', 'E', 'V', '1'):
            return AV_CODEC_ID_HEVC;
        default:
            return AV_CODEC_ID_NONE;
    }
}

// Codec configuration: the bytes of the format after the 40-byte header (writers count them in
// biSize or not, so biSize is no guide), or else the stream's 'strd' chunk.
void SetUpExtradata(CodecDecoder* d, const uint8_t* format, size_t formatSize) {
    std::vector<uint8_t> extra;
    if (formatSize > sizeof(BITMAPINFOHEADER)) {
        extra.assign(format + sizeof(BITMAPINFOHEADER), format + formatSize);
    } else {
        LONG size = 0;
        const DWORD strd = mmioFOURCC('s', 't', 'r', 'd');
        if (AVIStreamReadData(d->stream, strd, nullptr, &size) == AVIERR_OK && size > 0 &&
            size <= kMaxExtradata) {
            extra.resize(static_cast<size_t>(size));
            if (AVIStreamReadData(d->stream, strd, extra.data(), &size) != AVIERR_OK) size = 0;
            extra.resize(static_cast<size_t>(size));
        }
    }
    if (extra.empty() || extra.size() > static_cast<size_t>(kMaxExtradata)) return;
    auto* data = static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!data) return;
    std::memcpy(data, extra.data(), extra.size());
    d->context->extradata = data;
    d->context->extradata_size = static_cast<int>(extra.size());
}

// Palettised codecs: the colour table closes the format, whether or not biSize counts it.
void SetUpPalette(CodecDecoder* d, const BITMAPINFOHEADER& header, const uint8_t* format,
                  size_t formatSize) {
    if (header.biBitCount == 0 || header.biBitCount > 8) return;
    uint32_t most = 1u << header.biBitCount;
    uint32_t count = header.biClrUsed == 0 || header.biClrUsed > most ? most : header.biClrUsed;
    size_t available = (formatSize - sizeof(BITMAPINFOHEADER)) / 4;
    if (count > available) count = static_cast<uint32_t>(available);
    if (count == 0) return;
    const uint8_t* table = format + formatSize - 4 * size_t{count};
    d->palette.assign(AVPALETTE_SIZE, 0);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* q = table + 4 * i;  // blue, green, red, reserved
        uint32_t argb = 0xFF000000u | (uint32_t{q[2]} << 16) | (uint32_t{q[1]} << 8) | q[0];
        std::memcpy(d->palette.data() + 4 * i, &argb, 4);
    }
}

void SetUpUnpacker(CodecDecoder* d) {
    const AVBitStreamFilter* unpack = av_bsf_get_by_name("mpeg4_unpack_bframes");
    if (!unpack || av_bsf_alloc(unpack, &d->filter) < 0) return;
    if (avcodec_parameters_from_context(d->filter->par_in, d->context) < 0 ||
        av_bsf_init(d->filter) < 0) {
        av_bsf_free(&d->filter);
    }
}

}  // namespace

CodecDecoder* OpenCodecDecoder(PAVISTREAM stream, const uint8_t* format, size_t formatSize,
                               int threadCount) {
    if (!stream || !format || formatSize < sizeof(BITMAPINFOHEADER)) return nullptr;
    BITMAPINFOHEADER header;
    std::memcpy(&header, format, sizeof header);
    AVISTREAMINFOW info{};
    if (AVIStreamInfoW(stream, &info, sizeof info) != AVIERR_OK) return nullptr;

    DWORD tag = header.biCompression;
    AVCodecID id = CodecIdOf(tag);
    if (id == AV_CODEC_ID_NONE && info.fccHandler != 0) {
        tag = info.fccHandler;
        id = CodecIdOf(tag);
    }
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!codec) return nullptr;
    LONG start = AVIStreamStart(stream);
    int64_t end = int64_t{start} + AVIStreamLength(stream);
    if (start < 0 || end > INT32_MAX) return nullptr;

    // The decoder's complaints about damaged data have no reader here: a damaged frame is
    // simply not delivered.
    av_log_set_level(AV_LOG_QUIET);

    auto* d = new (std::nothrow) CodecDecoder;
    if (!d) return nullptr;
    d->stream = stream;
    d->first = start;
    d->end = static_cast<LONG>(end);
    d->codecId = id;
    d->context = avcodec_alloc_context3(codec);
    d->packet = av_packet_alloc();
    d->incoming = av_frame_alloc();
    d->shown = av_frame_alloc();
    if (!d->context || !d->packet || !d->incoming || !d->shown) {
        CloseCodecDecoder(d);
        return nullptr;
    }
    try {
        for (LONG p = d->first; p < d->end; ++p) {
            LONG size = 0;
            if (AVIStreamSampleSize(stream, p, &size) == AVIERR_OK && size > 0)
                d->pictures.push_back(p);
        }
    } catch (const std::bad_alloc&) {
        CloseCodecDecoder(d);
        return nullptr;
    }
    AVCodecContext* c = d->context;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->codec_id = id;
    c->codec_tag = tag;
    c->width = header.biWidth > 0 && header.biWidth <= 65536 ? header.biWidth : 0;
    int64_t height = header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
    c->height = height <= 65536 ? static_cast<int>(height) : 0;
    c->bits_per_coded_sample = header.biBitCount;
    c->thread_count = threadCount > 0 ? threadCount : 0;
    c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    SetUpExtradata(d, format, formatSize);
    SetUpPalette(d, header, format, formatSize);
    if (avcodec_open2(c, codec, nullptr) < 0) {
        CloseCodecDecoder(d);
        return nullptr;
    }
    if (id == AV_CODEC_ID_MPEG4) SetUpUnpacker(d);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    d->counting = descriptor && (descriptor->props & AV_CODEC_PROP_REORDER);
    return d;
}

const AVFrame* DecodeFrameAt(CodecDecoder* d, LONG position, uint64_t* serial) {
    if (!d || position < d->first || position >= d->end) return nullptr;
    Rank target = RankAt(d, position);
    if (target < 0) return nullptr;  // only drop frames so far: nothing to show yet
    auto deliver = [&]() -> const AVFrame* {
        if (serial) *serial = d->serial;
        return d->shown;
    };
    if (d->haveShown && d->shownRank == target) return deliver();

    bool restart = !d->started;
    if (!restart) {
        // Pictures already passed: the current one, or those before the starting point.
        Rank passed = d->haveShown ? d->shownRank : d->anchorDisplay - 1;
        if (target <= passed) {
            restart = true;
        } else if (d->finished) {
            return nullptr;  // everything the stream holds has come out
        } else if (target > passed + 1) {
            // A jump forward: start again at a key frame beyond what has been fed, rather than
            // decode every picture up to it.
            restart = ChooseStart(d, target).key >= d->nextFeed;
        }
    }
    if (restart) Restart(d, ChooseStart(d, target));

    int failures = 0;
    for (;;) {
        if (d->haveShown) {
            if (d->shownRank == target) return deliver();
            if (d->shownRank > target) return nullptr;  // its picture was lost
        }
        if (d->nextFeed - target > kMaxLead + d->context->has_b_frames) return nullptr;
        int r = avcodec_receive_frame(d->context, d->incoming);
        if (r == 0) {
            // Some decoders state the pixel shape on their context alone.
            if (d->incoming->sample_aspect_ratio.num <= 0)
                d->incoming->sample_aspect_ratio = d->context->sample_aspect_ratio;
            Accept(d, d->incoming);
            av_frame_unref(d->incoming);
            failures = 0;
        } else if (r == AVERROR(EAGAIN)) {
            if (!FeedNext(d)) return nullptr;
        } else if (r == AVERROR_EOF) {
            d->finished = true;
            return nullptr;
        } else if (++failures > kMaxFailuresInARow) {
            return nullptr;
        }
    }
}

void CloseCodecDecoder(CodecDecoder* d) {
    if (!d) return;
    ClearPending(d);
    av_bsf_free(&d->filter);
    avcodec_free_context(&d->context);
    av_packet_free(&d->packet);
    av_frame_free(&d->incoming);
    av_frame_free(&d->shown);
    delete d;
}
