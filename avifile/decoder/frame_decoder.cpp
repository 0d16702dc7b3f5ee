#include "avifile/decoder/frame_decoder.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "avifile/avi_file.h"
#include "avifile/decoder/codec_decoder.h"
#include "avifile/decoder/dib_converter.h"
#include "avifile/decoder/field_stage.h"
#include "avifile/decoder/picture_converter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

namespace {

// Bounds on what a decoder delivers; beyond them a header is taken as damaged, not as a frame.
constexpr LONG kMaxDimension = 65536;
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;
constexpr LONG kMaxFormatBytes = 64 << 20;
constexpr uint64_t kMaxSlack = 16 << 20;
// The rows start on this boundary, which the SIMD paths of the conversions prefer.
constexpr size_t kRowAlignment = 64;
// The most delivered frames a decoder keeps valid at once.
constexpr int kMaxDepth = 16;

int gThreads = 0;

struct FrameRelease {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

}  // namespace

struct IGetFrame {
    PAVISTREAM stream = nullptr;
    LONG first = 0;
    LONG end = 0;

    // The delivered frame: header, then rows of `stride` bytes.
    BITMAPINFOHEADER header{};
    LONG width = 0;
    LONG height = 0;
    bool topDown = false;
    uint64_t stride = 0;
    uint64_t imageSize = 0;

    // Frames are made in the `target` slot. With one slot (the default) a frame is made where
    // the last one was delivered; with more, delivered frames rotate through the slots so that
    // each stays valid while the next ones are made (a reader thread decoding ahead).
    struct Slot {
        std::unique_ptr<uint8_t[]> storage;
        uint8_t* pixels = nullptr;
        uint64_t capacity = 0;  // bytes available at `pixels`
        // A frame delivered as planes: `picture` describes them, `held` keeps the decoded
        // picture's buffers alive for as long as the frame is, and `pixels` holds the converted
        // last rows of a picture that has them.
        bool planar = false;
        YuvPicture picture;
        PictureFacts facts;  // what the codec and the field stage said of the frame it holds
        std::unique_ptr<AVFrame, FrameRelease> held;
    };
    std::vector<Slot> slots = std::vector<Slot>(1);
    size_t target = 0;
    size_t last = 0;  // the slot of the last delivered frame, which the caches below describe
    uint8_t* pixels = nullptr;  // slots[target].pixels

    // Uncompressed streams.
    bool uncompressed = false;
    DibLayout layout;
    bool direct = false;    // stored rows are the delivered rows: read them in place
    LONG shownSample = -1;  // the position whose picture the rows hold
    std::vector<uint8_t> sample;
    std::vector<uint8_t> native;  // the stored size in 24 bits, when a resize follows

    // Compressed streams.
    CodecDecoder* codec = nullptr;
    FieldStage* fields = nullptr;  // between the codec and the conversion, when asked for
    int threads = 0;
    bool haveConverted = false;
    uint64_t convertedSerial = 0;

    PictureConverter converter;
    bool planar = false;  // deliver pictures as planes where PlanarPicture takes them
    PlanarCheck planarCheck;
    PictureConverter tailConverter;  // the last rows of pictures whose conversion needs them
};

namespace {

uint8_t* FrameStart(IGetFrame* g) {
    return g->pixels - sizeof(BITMAPINFOHEADER);
}

// Forgets what the last delivered frame held, when the next frame is made over it.
void Overwriting(IGetFrame* g) {
    if (g->target != g->last) return;
    g->shownSample = -1;
    g->haveConverted = false;
}

// Makes room for `bytes` of rows in the target slot; what the old rows held is lost.
bool Reserve(IGetFrame* g, uint64_t bytes) {
    IGetFrame::Slot& slot = g->slots[g->target];
    if (bytes <= slot.capacity && slot.storage) return true;
    uint64_t total = bytes + 2 * kRowAlignment;
    // Zero-filled, so the pad bytes at the end of each row are always 0.
    std::unique_ptr<uint8_t[]> storage(new (std::nothrow) uint8_t[total]());
    if (!storage) return false;
    Overwriting(g);
    auto address = reinterpret_cast<uintptr_t>(storage.get());
    uintptr_t aligned = (address + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    slot.pixels = storage.get() + (aligned - address) + kRowAlignment;
    slot.storage = std::move(storage);
    slot.capacity = bytes;
    g->pixels = slot.pixels;
    return true;
}

// The target slot is about to hold rows: it lets go of the planes it may have held.
void Unplanar(IGetFrame* g) {
    IGetFrame::Slot& slot = g->slots[g->target];
    slot.planar = false;
    if (slot.held) av_frame_unref(slot.held.get());
}

// Makes the target slot hold a new reference to `picture`'s buffers, for a frame of planes.
bool HoldPicture(IGetFrame* g, const AVFrame* picture) {
    IGetFrame::Slot& slot = g->slots[g->target];
    Unplanar(g);
    if (!slot.held) slot.held.reset(av_frame_alloc());
    return slot.held && av_frame_ref(slot.held.get(), picture) >= 0;
}

// Hands out the frame just made in the target slot, of which `facts` are known, and moves on to
// the next slot. A frame of rows gets its header in front of them; a frame of planes has no
// rows.
bool Deliver(IGetFrame* g, const PictureFacts& facts) {
    g->slots[g->target].facts = facts;
    if (!g->slots[g->target].planar) std::memcpy(FrameStart(g), &g->header, sizeof g->header);
    g->last = g->target;
    g->target = (g->target + 1) % g->slots.size();
    g->pixels = g->slots[g->target].pixels;
    return true;
}

// Makes the target slot hold `planes`, with a copy of `tail` (the converted last rows) when the
// picture has them, so that they last as long as the slot.
bool HoldPlanes(IGetFrame* g, const AVFrame* picture, const YuvPicture& planes) {
    const uint64_t tailBytes = planes.tail ? 6 * static_cast<uint64_t>(planes.width) : 0;
    if (tailBytes != 0 && !Reserve(g, tailBytes)) return false;
    Overwriting(g);
    if (!HoldPicture(g, picture)) return false;
    IGetFrame::Slot& slot = g->slots[g->target];
    slot.picture = planes;
    if (planes.tail) {
        if (planes.tail != slot.pixels) std::memcpy(slot.pixels, planes.tail, tailBytes);
        slot.picture.tail = slot.pixels;
    }
    slot.planar = true;
    return true;
}

// The last delivered frame once more. With one slot it is still in place; with more it is
// copied into the next slot, as the caller may still hold the earlier one (and every frame
// must stay valid for the same number of requests).
bool DeliverAgain(IGetFrame* g) {
    const PictureFacts facts = g->slots[g->last].facts;
    if (g->target == g->last) return Deliver(g, facts);
    IGetFrame::Slot& last = g->slots[g->last];
    if (last.planar) {
        if (!HoldPlanes(g, last.held.get(), last.picture)) return false;
        return Deliver(g, facts);
    }
    if (!Reserve(g, g->imageSize)) return false;
    Unplanar(g);
    std::memcpy(g->pixels, g->slots[g->last].pixels, g->imageSize);
    return Deliver(g, facts);
}

// Where delivered row 0 (the bottom row) and the step to the next row up are.
uint8_t* BottomRow(IGetFrame* g) {
    return g->topDown ? g->pixels + (g->imageSize - g->stride) : g->pixels;
}
ptrdiff_t UpStep(IGetFrame* g) {
    auto stride = static_cast<ptrdiff_t>(g->stride);
    return g->topDown ? -stride : stride;
}
uint8_t* TopRow(IGetFrame* g) {
    return g->topDown ? g->pixels : g->pixels + (g->imageSize - g->stride);
}

LONG SampleSize(IGetFrame* g, LONG position) {
    LONG size = 0;
    if (AVIStreamSampleSize(g->stream, position, &size) != AVIERR_OK) return -1;
    return size;
}

bool ReadSample(IGetFrame* g, LONG position, LONG size, uint8_t* into) {
    LONG got = 0;
    return AVIStreamRead(g->stream, position, 1, into, size, &got, nullptr) == AVIERR_OK &&
           got == size;
}

bool UncompressedFrame(IGetFrame* g, LONG position) {
    // A drop frame shows the last frame with data before it.
    LONG source = position;
    LONG size = 0;
    for (; source >= g->first; --source) {
        if (source == g->shownSample) return DeliverAgain(g);
        size = SampleSize(g, source);
        if (size != 0) break;
    }
    if (source < g->first || size < 0) return false;
    // A sample too short for its rows is damaged; no rows are made up for it.
    if (static_cast<uint64_t>(size) < g->layout.imageSize) return false;
    // Bytes past the rows are never looked at; a sample far larger than its rows is damaged.
    if (static_cast<uint64_t>(size) > g->layout.imageSize + kMaxSlack) return false;

    if (g->direct) {
        if (!Reserve(g, static_cast<uint64_t>(size))) return false;
        Overwriting(g);
        Unplanar(g);
        if (!ReadSample(g, source, size, g->pixels)) return false;
        g->shownSample = source;
        return Deliver(g, {});  // a stored DIB says nothing of its shape
    }

    g->sample.resize(static_cast<size_t>(size));
    if (!ReadSample(g, source, size, g->sample.data())) return false;
    if (!Reserve(g, g->imageSize)) return false;
    Overwriting(g);
    Unplanar(g);
    if (g->layout.width == g->width && g->layout.height == g->height) {
        ConvertDibToBgr24(g->layout, g->sample.data(), BottomRow(g), UpStep(g));
    } else {
        // Another size: to 24 bits at the stored size first, then scaled.
        size_t nativeStride = (static_cast<size_t>(g->layout.width) * 3 + 3) & ~size_t{3};
        g->native.resize(nativeStride * static_cast<size_t>(g->layout.height));
        ConvertDibToBgr24(g->layout, g->sample.data(), g->native.data(),
                          static_cast<ptrdiff_t>(nativeStride));
        Picture picture;
        picture.planes[0] =
            g->native.data() + nativeStride * static_cast<size_t>(g->layout.height - 1);
        picture.strides[0] = -static_cast<int>(nativeStride);
        picture.format = AV_PIX_FMT_BGR24;
        picture.width = g->layout.width;
        picture.height = g->layout.height;
        if (!ConvertPicture(&g->converter, picture, TopRow(g), -UpStep(g), g->width, g->height))
            return false;
    }
    g->shownSample = source;
    return Deliver(g, {});  // a stored DIB says nothing of its shape
}

// `planesWanted`: the caller takes a frame of planes where the picture allows one.
bool CompressedFrame(IGetFrame* g, LONG position, bool planesWanted) {
    uint64_t serial = 0;
    const AVFrame* frame = nullptr;
    PictureFacts facts;
    if (g->fields != nullptr) {
        StagedPicture staged;
        if (!StagePictureAt(g->fields, position, &staged)) return false;
        frame = staged.frame;
        serial = staged.serial;
        facts.fields = staged.fields;
        facts.deinterlaced = staged.deinterlaced;
    } else {
        frame = DecodeFrameAt(g->codec, position, &serial);
    }
    if (!frame) return false;
    Picture picture;
    for (int i = 0; i < 4; ++i) {
        picture.planes[i] = frame->data[i];
        picture.strides[i] = frame->linesize[i];
    }
    picture.format = frame->format;
    picture.width = frame->width;
    picture.height = frame->height;
    picture.colorSpace = frame->colorspace;
    picture.colorRange = frame->color_range;
    // A damaged stream can report any ratio; one that is not positive says nothing.
    const AVRational sar = frame->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0)
        facts.aspect =
            ReducedAspect(static_cast<unsigned>(sar.num), static_cast<unsigned>(sar.den));
    // Woven fields kept as they are: chroma shared between lines is a field's own, so such a
    // picture is converted field by field, and as rows.
    const AVPixFmtDescriptor* layout =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const bool byFields =
        facts.fields != FieldOrder::kProgressive && layout != nullptr && layout->log2_chroma_h > 0;
    YuvPicture planes;
    bool needsTail = false;
    const bool asPlanes = planesWanted && g->planar && !byFields && picture.width == g->width &&
                          picture.height == g->height &&
                          PlanarPicture(picture, &g->planarCheck, &planes, &needsTail);
    // The picture already made goes out again, if it was made the way it is wanted now.
    if (g->haveConverted && serial == g->convertedSerial && g->slots[g->last].planar == asPlanes)
        return DeliverAgain(g);
    if (asPlanes) {
        // The planes go out as they are, held by a new reference to the decoder's picture.
        if (needsTail) {
            // The last two rows, converted as a picture of their own: the bytes the whole
            // picture's conversion gives them. They are made in the slot itself.
            if (!Reserve(g, 6 * static_cast<uint64_t>(picture.width))) return false;
            Overwriting(g);
            if (!ConvertLastRows(&g->tailConverter, picture, g->pixels)) return false;
            planes.tail = g->pixels;
            planes.tailFirst = picture.height - 2;
        }
        if (!HoldPlanes(g, frame, planes)) return false;
        g->haveConverted = true;
        g->convertedSerial = serial;
        return Deliver(g, facts);
    }
    if (!Reserve(g, g->imageSize)) return false;
    Overwriting(g);
    Unplanar(g);
    const int converted =
        byFields
            ? ConvertFields(&g->converter, picture, TopRow(g), -UpStep(g), g->width, g->height)
            : ConvertPicture(&g->converter, picture, TopRow(g), -UpStep(g), g->width, g->height);
    if (converted == 0) return false;
    g->haveConverted = true;
    g->convertedSerial = serial;
    return Deliver(g, facts);
}

std::vector<uint8_t> ReadStreamFormat(PAVISTREAM stream) {
    LONG size = 0;
    if (AVIStreamReadFormat(stream, 0, nullptr, &size) != AVIERR_OK || size < 0 ||
        size > kMaxFormatBytes)
        return {};
    std::vector<uint8_t> format(static_cast<size_t>(size));
    if (AVIStreamReadFormat(stream, 0, format.data(), &size) != AVIERR_OK) return {};
    format.resize(static_cast<size_t>(size));
    return format;
}

}  // namespace

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted) {
    return AVIStreamGetFrameOpen(stream, wanted, gThreads);
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted, int threads) {
    if (!stream) return nullptr;
    AVISTREAMINFOW info{};
    if (AVIStreamInfoW(stream, &info, sizeof info) != AVIERR_OK || info.fccType != streamtypeVIDEO)
        return nullptr;
    std::vector<uint8_t> format;
    try {
        format = ReadStreamFormat(stream);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (format.size() < sizeof(BITMAPINFOHEADER)) return nullptr;
    BITMAPINFOHEADER own;
    std::memcpy(&own, format.data(), sizeof own);

    BITMAPINFOHEADER out{};
    if (wanted) {
        if (wanted->biBitCount != 24 || wanted->biCompression != BI_RGB) return nullptr;
        out.biWidth = wanted->biWidth;
        out.biHeight = wanted->biHeight;
        out.biXPelsPerMeter = wanted->biXPelsPerMeter;
        out.biYPelsPerMeter = wanted->biYPelsPerMeter;
    } else {
        out.biWidth = own.biWidth;
        out.biHeight =
            own.biHeight == INT32_MIN ? 0 : (own.biHeight < 0 ? -own.biHeight : own.biHeight);
    }
    if (out.biWidth <= 0 || out.biWidth > kMaxDimension || out.biHeight == 0 ||
        out.biHeight < -kMaxDimension || out.biHeight > kMaxDimension)
        return nullptr;
    LONG height = out.biHeight < 0 ? -out.biHeight : out.biHeight;
    uint64_t stride = (static_cast<uint64_t>(out.biWidth) * 24 + 31) / 32 * 4;
    uint64_t imageSize = stride * static_cast<uint64_t>(height);
    if (imageSize > kMaxImageBytes) return nullptr;
    out.biSize = sizeof out;
    out.biPlanes = 1;
    out.biBitCount = 24;
    out.biCompression = BI_RGB;
    out.biSizeImage = static_cast<DWORD>(imageSize);

    auto* g = new (std::nothrow) IGetFrame;
    if (!g) return nullptr;
    g->header = out;
    g->width = out.biWidth;
    g->height = height;
    g->topDown = out.biHeight < 0;
    g->stride = stride;
    g->imageSize = imageSize;
    g->stream = stream;
    g->first = AVIStreamStart(stream);
    int64_t end = int64_t{g->first} + AVIStreamLength(stream);
    g->end = end > INT32_MAX ? INT32_MAX : static_cast<LONG>(end);

    if (ReadDibLayout(format.data(), format.size(), &g->layout)) {
        g->uncompressed = true;
        g->direct = g->layout.bitCount == 24 && g->layout.width == g->width &&
                    g->layout.height == g->height && g->layout.topDown == g->topDown;
    } else {
        g->threads = threads > 0 ? threads : 0;
        g->codec = OpenCodecDecoder(stream, format.data(), format.size(), g->threads);
        if (!g->codec) {
            delete g;
            return nullptr;
        }
    }
    if (!Reserve(g, imageSize)) {
        CloseCodecDecoder(g->codec);
        delete g;
        return nullptr;
    }
    AVIStreamAddRef(stream);
    return g;
}

namespace {

// Makes the frame at `position` in the target slot and delivers it; false when there is none.
bool Produce(IGetFrame* g, LONG position, bool planesWanted) {
    if (!g || position < g->first || position >= g->end) return false;
    try {
        return g->uncompressed ? UncompressedFrame(g, position)
                               : CompressedFrame(g, position, planesWanted);
    } catch (const std::bad_alloc&) {
        g->shownSample = -1;
        return false;
    }
}

// What the last delivered frame is.
DecodedPicture LastDelivered(IGetFrame* g) {
    IGetFrame::Slot& slot = g->slots[g->last];
    DecodedPicture delivered;
    delivered.facts = slot.facts;
    if (slot.planar) {
        delivered.planes = &slot.picture;
    } else {
        delivered.frame = slot.pixels - sizeof(BITMAPINFOHEADER);
        delivered.rows = slot.pixels;
    }
    return delivered;
}

}  // namespace

void* AVIStreamGetFrame(PGETFRAME g, LONG position) {
    if (!Produce(g, position, false)) return nullptr;
    return g->slots[g->last].pixels - sizeof(BITMAPINFOHEADER);
}

DecodedPicture AVIStreamGetPicture(PGETFRAME g, LONG position) {
    if (!Produce(g, position, true)) return {};
    return LastDelivered(g);
}

HRESULT AVIStreamGetFrameClose(PGETFRAME g) {
    if (!g) return AVIERR_OK;
    CloseFieldStage(g->fields);
    CloseCodecDecoder(g->codec);
    ReleasePictureConverter(&g->converter);
    ReleasePictureConverter(&g->tailConverter);
    AVIStreamRelease(g->stream);
    delete g;
    return AVIERR_OK;
}

HRESULT AVIStreamGetFrameSetDepth(PGETFRAME g, int frames) {
    if (!g || frames < 1 || frames > kMaxDepth) return AVIERR_BADPARAM;
    if (static_cast<size_t>(frames) == g->slots.size()) return AVIERR_OK;
    // Slots are added or dropped after the last delivered one, which keeps its frame.
    try {
        std::vector<IGetFrame::Slot> slots(static_cast<size_t>(frames));
        slots[0] = std::move(g->slots[g->last]);
        g->slots = std::move(slots);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    g->last = 0;
    g->target = g->slots.size() > 1 ? 1 : 0;
    g->pixels = g->slots[g->target].pixels;
    // Planes need no room for rows: slots get it when a frame of rows comes.
    if (!g->planar && !Reserve(g, g->imageSize)) return AVIERR_MEMORY;
    return AVIERR_OK;
}

HRESULT AVIStreamGetFrameSetPlanar(PGETFRAME g, int planar) {
    if (!g) return AVIERR_BADPARAM;
    g->planar = planar != 0 && !g->uncompressed;
    if (!g->planar) return AVIERR_OK;
    // Nothing has been delivered yet: the rows reserved at open are given back, so that a
    // stream delivered as planes never holds a frame of rows it does not need.
    for (IGetFrame::Slot& slot : g->slots) slot = IGetFrame::Slot{};
    g->pixels = nullptr;
    g->haveConverted = false;
    return AVIERR_OK;
}

void AVIStreamGetFrameSetThreads(int threads) {
    gThreads = threads > 0 ? threads : 0;
}

HRESULT AVIStreamGetFrameSetFields(PGETFRAME g, Deinterlacing mode) {
    if (!g) return AVIERR_BADPARAM;
    if (g->codec == nullptr) return AVIERR_OK;  // stored pictures are handed on as they are
    CloseFieldStage(g->fields);
    // The filter's threads come out of the decoder's: one when the decoder has one.
    g->fields = OpenFieldStage(g->codec, g->first, g->end, mode, g->threads > 0 ? g->threads : 1);
    g->haveConverted = false;
    return g->fields != nullptr ? AVIERR_OK : AVIERR_MEMORY;
}
