#include "avifile/decoder/field_stage.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>

#include "avifile/decoder/codec_decoder.h"
#include "avifile/decoder/comb_detector.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

// How many positions past the one asked for the stage looks for the next two pictures. Drop
// frames (empty chunks) bring no new picture; past this many, a picture is judged and filtered
// without the neighbour that is missing, as at the end of the stream.
constexpr LONG kMostLookahead = 32;

struct FrameRelease {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FrameRef = std::unique_ptr<AVFrame, FrameRelease>;

FrameRef Ref(const AVFrame* frame) {
    FrameRef copy(av_frame_alloc());
    if (copy && av_frame_ref(copy.get(), frame) < 0) copy.reset();
    return copy;
}

// Whether the frame's first plane is 8-bit luma, a byte a sample: what the detector reads.
bool HasLumaPlane(const AVFrame* frame) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    constexpr uint64_t kNotLuma = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL |
                                  AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL;
    return d != nullptr && (d->flags & kNotLuma) == 0 && d->nb_components >= 1 &&
           d->comp[0].depth == 8 && d->comp[0].step == 1 && d->comp[0].plane == 0 &&
           d->comp[0].offset == 0 && d->comp[0].shift == 0;
}

bool SameShape(const AVFrame* a, const AVFrame* b) {
    return a->width == b->width && a->height == b->height && a->format == b->format;
}

struct StagePicture {
    FrameRef frame;
    uint64_t serial = 0;
    bool judged = false;
    FieldOrder verdict = FieldOrder::kProgressive;
    bool fedInterlaced = false;  // went into the filter flagged for deinterlacing
};

}  // namespace

struct FieldStage {
    CodecDecoder* codec = nullptr;
    LONG first = 0;
    LONG end = 0;
    Deinterlacing mode = Deinterlacing::kDetect;
    int threads = 1;

    // The positions decoded, windowStart .. decodedEnd - 1, each with the index of the picture
    // it shows (-1: none).
    bool started = false;
    LONG windowStart = 0;
    LONG decodedEnd = 0;
    std::deque<int64_t> positionPicture;
    // The distinct pictures among them, in the order shown; pictures[0] has index firstPicture.
    std::deque<StagePicture> pictures;
    int64_t firstPicture = 0;

    // The filter. Pictures graphFirst .. graphFirst + fed - 1 went in; the outputs of the first
    // `taken` of them came out (one output a picture, in order).
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int64_t graphFirst = 0;
    int64_t fed = 0;
    int64_t taken = 0;
    bool flushed = false;
    bool filterBroken = false;  // it can't take this stream's pictures: they pass untouched

    FrameRef handed;  // the picture last handed on, and what it was
    int64_t handedIndex = -1;
    bool handedDeinterlaced = false;
};

namespace {

int64_t EndPicture(const FieldStage* s) {
    return s->firstPicture + static_cast<int64_t>(s->pictures.size());
}

StagePicture* PictureOf(FieldStage* s, int64_t index) {
    if (index < s->firstPicture || index >= EndPicture(s)) return nullptr;
    return &s->pictures[static_cast<size_t>(index - s->firstPicture)];
}

void FreeGraph(FieldStage* s) {
    avfilter_graph_free(&s->graph);
    s->source = s->sink = nullptr;
    s->fed = s->taken = 0;
    s->flushed = false;
}

// Forgets everything decoded; decoding goes on from `position`.
void Restart(FieldStage* s, LONG position) {
    FreeGraph(s);
    s->started = true;
    s->windowStart = s->decodedEnd = position;
    s->positionPicture.clear();
    s->pictures.clear();
    s->firstPicture = 0;
    s->handedIndex = -1;
}

void DecodeNext(FieldStage* s) {
    uint64_t serial = 0;
    const AVFrame* frame = DecodeFrameAt(s->codec, s->decodedEnd, &serial);
    int64_t index = -1;
    if (frame != nullptr) {
        // A drop frame shows the picture before it once more.
        if (!s->pictures.empty() && s->pictures.back().serial == serial) {
            index = EndPicture(s) - 1;
        } else if (FrameRef ref = Ref(frame)) {
            s->pictures.push_back(StagePicture{std::move(ref), serial});
            index = EndPicture(s) - 1;
        }
    }
    s->positionPicture.push_back(index);
    ++s->decodedEnd;
}

LumaPlane LumaOf(const StagePicture* neighbour, const AVFrame* frame) {
    if (neighbour == nullptr || !SameShape(neighbour->frame.get(), frame)) return {};
    return {neighbour->frame->data[0], neighbour->frame->linesize[0]};
}

void Judge(FieldStage* s, int64_t index) {
    StagePicture* picture = PictureOf(s, index);
    if (picture == nullptr || picture->judged) return;
    const AVFrame* frame = picture->frame.get();
    picture->verdict = HasLumaPlane(frame) ? DetectCombing(LumaOf(PictureOf(s, index - 1), frame),
                                                           {frame->data[0], frame->linesize[0]},
                                                           LumaOf(PictureOf(s, index + 1), frame),
                                                           frame->width, frame->height)
                                           : FieldOrder::kProgressive;
    picture->judged = true;
}

bool OpenGraph(FieldStage* s, const AVFrame* frame, int64_t firstIndex) {
    const AVFilter* buffer = avfilter_get_by_name("buffer");
    const AVFilter* bwdif = avfilter_get_by_name("bwdif");
    const AVFilter* buffersink = avfilter_get_by_name("buffersink");
    if (buffer == nullptr || bwdif == nullptr || buffersink == nullptr) return false;
    s->graph = avfilter_graph_alloc();
    if (s->graph == nullptr) return false;
    s->graph->nb_threads = s->threads;
    // A format bwdif can't take is refused, never converted on the way.
    avfilter_graph_set_auto_convert(s->graph, AVFILTER_AUTO_CONVERT_NONE);
    char arguments[128];
    std::snprintf(arguments, sizeof arguments,
                  "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", frame->width,
                  frame->height, frame->format);
    AVFilterContext* filter = nullptr;
    // send_frame: a frame out for each frame in, at the first field's moment. deint=interlaced:
    // only frames flagged interlaced are touched, and the stage flags the combed ones.
    const bool made =
        avfilter_graph_create_filter(&s->source, buffer, "in", arguments, nullptr, s->graph) >= 0 &&
        avfilter_graph_create_filter(&filter, bwdif, "bwdif",
                                     "mode=send_frame:parity=auto:deint=interlaced", nullptr,
                                     s->graph) >= 0 &&
        avfilter_graph_create_filter(&s->sink, buffersink, "out", nullptr, nullptr, s->graph) >=
            0 &&
        avfilter_link(s->source, 0, filter, 0) >= 0 && avfilter_link(filter, 0, s->sink, 0) >= 0 &&
        avfilter_graph_config(s->graph, nullptr) >= 0;
    if (!made) {
        FreeGraph(s);
        return false;
    }
    s->graphFirst = firstIndex;
    return true;
}

// With --deinterlace=on a frame is deinterlaced in the order found where it is combed, else in
// the order its decoder flags; a frame flagged nothing is taken as top field first, the order of
// every interlaced format but DV, and DV always carries its flag.
bool TopFieldFirst(const FieldStage* s, const StagePicture& picture) {
    if (picture.verdict != FieldOrder::kProgressive)
        return picture.verdict == FieldOrder::kTopFirst;
    const AVFrame* frame = picture.frame.get();
    return s->mode == Deinterlacing::kAlways && frame->interlaced_frame != 0
               ? frame->top_field_first != 0
               : true;
}

bool Feed(FieldStage* s, int64_t index) {
    StagePicture* picture = PictureOf(s, index);
    if (picture == nullptr) return false;
    Judge(s, index);
    FrameRef in = Ref(picture->frame.get());
    if (!in) return false;
    picture->fedInterlaced =
        s->mode == Deinterlacing::kAlways || picture->verdict != FieldOrder::kProgressive;
    in->interlaced_frame = picture->fedInterlaced ? 1 : 0;
    in->top_field_first = TopFieldFirst(s, *picture) ? 1 : 0;
    in->pts = index;
    // The filter takes over the reference.
    if (av_buffersrc_add_frame_flags(s->source, in.get(), 0) < 0) return false;
    ++s->fed;
    return true;
}

// The filter's output for picture `index`, or null where the filter can't give one (the
// picture then passes untouched).
FrameRef Filtered(FieldStage* s, int64_t index) {
    StagePicture* picture = PictureOf(s, index);
    const AVFrame* frame = picture->frame.get();
    // The filter runs through pictures in order. One that can't give this picture's output any
    // more starts again, from the picture before it where there is one.
    if (s->graph != nullptr &&
        (index < s->graphFirst + s->taken || (s->flushed && index >= s->graphFirst + s->fed)))
        FreeGraph(s);
    if (s->graph == nullptr) {
        const StagePicture* before = PictureOf(s, index - 1);
        const bool withBefore = before != nullptr && SameShape(before->frame.get(), frame);
        if (!OpenGraph(s, frame, withBefore ? index - 1 : index)) {
            s->filterBroken = true;
            return {};
        }
    }
    // In: every picture up to the one after this, or the end of what there is.
    while (!s->flushed && s->graphFirst + s->fed <= index + 1) {
        const StagePicture* next = PictureOf(s, s->graphFirst + s->fed);
        if (next == nullptr || !SameShape(next->frame.get(), frame)) {
            if (av_buffersrc_add_frame_flags(s->source, nullptr, 0) < 0) break;
            s->flushed = true;
        } else if (!Feed(s, s->graphFirst + s->fed)) {
            s->filterBroken = true;
            return {};
        }
    }
    // Out: one frame for each picture, in order.
    FrameRef out(av_frame_alloc());
    while (out && s->graphFirst + s->taken <= index) {
        if (av_buffersink_get_frame(s->sink, out.get()) < 0) break;
        if (s->graphFirst + s->taken++ == index) return out;
        av_frame_unref(out.get());
    }
    s->filterBroken = true;  // the filter gave less than it took: it is not trusted again
    return {};
}

// Lets go of the pictures and positions before the current ones.
void Trim(FieldStage* s, int64_t index, LONG position) {
    while (s->firstPicture < index && !s->pictures.empty()) {
        s->pictures.pop_front();
        ++s->firstPicture;
    }
    while (s->windowStart < position && !s->positionPicture.empty()) {
        s->positionPicture.pop_front();
        ++s->windowStart;
    }
}

}  // namespace

FieldStage* OpenFieldStage(CodecDecoder* codec, LONG first, LONG end, Deinterlacing mode,
                           int threads) {
    if (codec == nullptr) return nullptr;
    auto* stage = new (std::nothrow) FieldStage;
    if (stage == nullptr) return nullptr;
    stage->codec = codec;
    stage->first = first;
    stage->end = end;
    stage->mode = mode;
    stage->threads = std::max(1, threads);
    return stage;
}

bool StagePictureAt(FieldStage* s, LONG position, StagedPicture* out) {
    if (s == nullptr || position < s->first || position >= s->end) return false;
    const bool jump =
        !s->started || position < s->windowStart || position > s->decodedEnd + kMostLookahead;
    if (jump) Restart(s, std::max(s->first, position - 1));
    while (s->decodedEnd <= position) DecodeNext(s);
    int64_t index = s->positionPicture[static_cast<size_t>(position - s->windowStart)];
    // After a jump the picture shown needs the one before it, as it had in order: where drop
    // frames (or undecodable ones) stand between them, decoding starts further back.
    while (jump && index >= 0 && index == s->firstPicture && s->windowStart > s->first &&
           position - s->windowStart < kMostLookahead) {
        Restart(s, s->windowStart - 1);
        while (s->decodedEnd <= position) DecodeNext(s);
        index = s->positionPicture[static_cast<size_t>(position - s->windowStart)];
    }
    if (index < 0) return false;
    if (index != s->handedIndex) {
        // Two pictures ahead: the next one is judged with its own next before it goes in.
        while (EndPicture(s) <= index + 2 && s->decodedEnd < s->end &&
               s->decodedEnd - position <= kMostLookahead)
            DecodeNext(s);
        Judge(s, index);
        Judge(s, index + 1);
        FrameRef result;
        if (s->mode != Deinterlacing::kDetect && !s->filterBroken) result = Filtered(s, index);
        StagePicture* picture = PictureOf(s, index);
        s->handedDeinterlaced = result != nullptr && picture->fedInterlaced;
        if (!result) result = Ref(picture->frame.get());
        if (!result) return false;
        s->handed = std::move(result);
        s->handedIndex = index;
        Trim(s, index, position);
    }
    const StagePicture* picture = PictureOf(s, index);
    out->frame = s->handed.get();
    out->serial = picture->serial;
    out->deinterlaced = s->handedDeinterlaced;
    out->fields = s->handedDeinterlaced ? FieldOrder::kProgressive : picture->verdict;
    return true;
}

void CloseFieldStage(FieldStage* s) {
    if (s == nullptr) return;
    FreeGraph(s);
    delete s;
}
