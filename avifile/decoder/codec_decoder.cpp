#include "avifile/decoder/codec_decoder.h"

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
}

namespace {

// How far past a requested position the decoder is fed, waiting for that position's picture,
// before the position is given up as undecodable. Reordering decoders hold back a few pictures
// and threads a few more; a picture that has not come out by then never will.
constexpr LONG kMaxLead = 64;
constexpr int kMaxFailuresInARow = 1000;
// Extradata beyond this is not codec configuration but a damaged header.
constexpr LONG kMaxExtradata = 16 << 20;

}  // namespace

struct CodecDecoder {
  PAVISTREAM stream = nullptr;
  LONG first = 0;         // first position of the stream
  LONG end = 0;           // one past the last position
  LONG firstPicture = 0;  // first position whose chunk holds data
  AVCodecContext* context = nullptr;
  AVBSFContext* filter = nullptr;  // undoes DivX-style packed B-frames
  AVPacket* packet = nullptr;
  AVFrame* incoming = nullptr;
  std::vector<uint8_t> palette;  // for palettised codecs, in libavcodec's palette layout
  bool paletteDue = false;

  // Packets on their way to the decoder; a null entry asks it to give out what it holds.
  std::deque<AVPacket*> pending;
  bool started = false;
  LONG nextFeed = 0;  // next stored position to read
  bool drainSent = false;
  bool finished = false;

  // The current picture and the positions it is shown at (more than one after drop frames).
  AVFrame* shown = nullptr;
  bool haveShown = false;
  LONG shownFirst = 0;
  LONG shownLast = -1;
  uint64_t serial = 0;

  // Where each picture is shown. Decoders that never reorder give each picture at its own
  // stored position. For those that may, pictures come out in showing order and are counted,
  // starting from a key frame whose showing position is known: the first picture, a key frame
  // met while counting, or any key frame while the stream has shown no reordering at all.
  bool counting = false;
  bool anchored = false;
  bool anchorCertain = false;
  LONG anchorKey = 0;
  LONG anchorDisplay = 0;
  LONG nextDisplay = 0;
  int64_t lastPts = INT64_MIN;
  bool reorderSeen = false;
  int64_t picturesOut = 0;
  std::map<LONG, LONG> keyDisplay;
};

namespace {

LONG ChunkSize(const CodecDecoder* d, LONG position) {
  LONG size = 0;
  if (AVIStreamSampleSize(d->stream, position, &size) != AVIERR_OK) return 0;
  return size;
}

// Empty chunks right after `position`: drop frames, which show the picture before them again.
LONG DropsAfter(const CodecDecoder* d, LONG position) {
  LONG count = 0;
  for (LONG p = position + 1; p < d->end && ChunkSize(d, p) == 0; ++p) ++count;
  return count;
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
    // Any other failure: the data of that packet is lost; its position gets no picture.
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
  while (d->nextFeed < d->end) {
    LONG position = d->nextFeed++;
    LONG size = ChunkSize(d, position);
    if (size <= 0) continue;
    if (av_new_packet(d->packet, size) < 0) continue;
    LONG got = 0;
    if (AVIStreamRead(d->stream, position, 1, d->packet->data, size, &got, nullptr) != AVIERR_OK ||
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

// The key frame to start decoding from for `position`, with the position its picture is shown
// at; `certain` tells whether that showing position is known rather than assumed.
LONG ChooseStart(const CodecDecoder* d, LONG position, LONG* display, bool* certain) {
  LONG key = AVIStreamNearestKeyFrame(d->stream, position);
  while (key != -1 && key > d->firstPicture && key >= d->first) {
    if (ChunkSize(d, key) > 0) {
      if (!d->counting) {
        *display = key;
        *certain = true;
        return key;
      }
      auto known = d->keyDisplay.find(key);
      if (known != d->keyDisplay.end()) {
        if (known->second <= position) {
          *display = known->second;
          *certain = true;
          return key;
        }
      } else if (KeysAligned(d)) {
        *display = key;
        *certain = false;
        return key;
      }
    }
    key = AVIStreamNearestKeyFrame(d->stream, key - 1);
  }
  *display = d->firstPicture;
  *certain = true;
  return d->firstPicture;
}

void Restart(CodecDecoder* d, LONG key, LONG display, bool certain) {
  if (d->started) {
    avcodec_flush_buffers(d->context);
    if (d->filter) av_bsf_flush(d->filter);
  }
  ClearPending(d);
  av_frame_unref(d->shown);
  d->haveShown = false;
  d->started = true;
  d->nextFeed = key;
  d->drainSent = false;
  d->finished = false;
  d->anchored = false;
  d->anchorCertain = certain;
  d->anchorKey = key;
  d->anchorDisplay = display;
  d->nextDisplay = display;
  d->lastPts = INT64_MIN;
  d->paletteDue = !d->palette.empty();
}

// Takes a picture the decoder gave out and decides where it is shown. Returns false when it
// is not shown anywhere (before the counting has a known starting point, or out of range).
bool Accept(CodecDecoder* d, AVFrame* frame) {
  int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
  bool stored = pts != AV_NOPTS_VALUE && pts >= d->first && pts < d->end;
  LONG position = stored ? static_cast<LONG>(pts) : -1;
  LONG display;
  if (d->counting) {
    if (stored && d->lastPts != INT64_MIN && pts < d->lastPts) d->reorderSeen = true;
    if (stored) d->lastPts = pts;
    auto known = stored ? d->keyDisplay.find(position) : d->keyDisplay.end();
    if (!d->anchored) {
      if (stored && position == d->anchorKey) {
        display = d->anchorDisplay;
        if (d->anchorCertain) d->keyDisplay[position] = display;
      } else if (known != d->keyDisplay.end()) {
        display = known->second;
      } else {
        return false;  // a picture from before the key frame that the decoder still gave out
      }
      d->anchored = true;
    } else {
      display = d->nextDisplay;
      if (known != d->keyDisplay.end()) {
        display = known->second;  // back in step after a lost picture
      } else if (stored && AVIStreamIsKeyFrame(d->stream, position)) {
        d->keyDisplay[position] = display;
      }
    }
  } else {
    display = stored ? position : d->nextDisplay;
  }
  LONG drops = stored ? DropsAfter(d, position) : 0;
  d->nextDisplay = display + 1 + drops;
  if (display < d->first || display >= d->end) return false;
  av_frame_unref(d->shown);
  av_frame_move_ref(d->shown, frame);
  d->haveShown = true;
  d->shownFirst = display;
  d->shownLast = display + drops < d->end ? display + drops : d->end - 1;
  ++d->serial;
  ++d->picturesOut;
  return true;
}

const AVCodecTag* const* RiffVideoTags() {
  static const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  return tags;
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
  if (header.biSize < sizeof header || header.biSize > formatSize)
    header.biSize = sizeof header;
  AVISTREAMINFOW info{};
  if (AVIStreamInfoW(stream, &info, sizeof info) != AVIERR_OK) return nullptr;

  DWORD tag = header.biCompression;
  AVCodecID id = av_codec_get_id(RiffVideoTags(), tag);
  if (id == AV_CODEC_ID_NONE && info.fccHandler != 0) {
    tag = info.fccHandler;
    id = av_codec_get_id(RiffVideoTags(), tag);
  }
  const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
  if (!codec) return nullptr;
  LONG start = AVIStreamStart(stream);
  int64_t end = int64_t{start} + AVIStreamLength(stream);
  if (start < 0 || end > INT32_MAX) return nullptr;

  auto* d = new (std::nothrow) CodecDecoder;
  if (!d) return nullptr;
  d->stream = stream;
  d->first = start;
  d->end = static_cast<LONG>(end);
  d->context = avcodec_alloc_context3(codec);
  d->packet = av_packet_alloc();
  d->incoming = av_frame_alloc();
  d->shown = av_frame_alloc();
  if (!d->context || !d->packet || !d->incoming || !d->shown) {
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

  d->firstPicture = d->first;
  while (d->firstPicture < d->end && ChunkSize(d, d->firstPicture) == 0) ++d->firstPicture;
  if (d->counting) d->keyDisplay[d->firstPicture] = d->firstPicture;
  return d;
}

const AVFrame* DecodeFrameAt(CodecDecoder* d, LONG position, uint64_t* serial) {
  if (!d || position < d->first || position >= d->end) return nullptr;
  auto deliver = [&]() -> const AVFrame* {
    if (serial) *serial = d->serial;
    return d->shown;
  };
  if (d->haveShown && d->shownFirst <= position && position <= d->shownLast) return deliver();

  bool restart = !d->started;
  if (!restart) {
    // Showing positions already passed: the current picture's, or before the starting point.
    LONG passed = d->haveShown ? d->shownLast : d->anchorDisplay - 1;
    if (position <= passed) {
      restart = true;
    } else if (d->finished) {
      return nullptr;  // everything the stream holds has come out
    } else if (position > passed + 1) {
      // A jump forward: start again at a key frame that lies beyond what has been fed, rather
      // than decode every picture up to it.
      LONG display;
      bool certain;
      LONG key = ChooseStart(d, position, &display, &certain);
      if (key >= d->nextFeed) restart = true;
    }
  }
  if (restart) {
    LONG display;
    bool certain;
    LONG key = ChooseStart(d, position, &display, &certain);
    if (display > position || key >= d->end) return nullptr;  // no picture is shown this early
    Restart(d, key, display, certain);
  }

  int failures = 0;
  for (;;) {
    if (d->haveShown) {
      if (d->shownFirst <= position && position <= d->shownLast) return deliver();
      if (d->shownFirst > position) return nullptr;  // the position's own picture was lost
    }
    if (d->nextFeed > position && d->nextFeed - position > kMaxLead + d->context->has_b_frames)
      return nullptr;
    int r = avcodec_receive_frame(d->context, d->incoming);
    if (r == 0) {
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
