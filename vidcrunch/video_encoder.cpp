#include "vidcrunch/video_encoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "avifile/avi_types.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

struct VideoEncoder {
    VideoCodec codec = VideoCodec::H264;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    int width = 0;  // the frames' exact size
    int height = 0;
    // The size coded, when larger (see CodedSize), and the picture at the exact size that is
    // padded out to it.
    int codedWidth = 0;
    int codedHeight = 0;
    AVFrame* exact = nullptr;
    int64_t nextPts = 0;
    bool ended = false;
    // Woven fields kept: each frame says so, and 4:2:0 colours are converted field by field
    // (with `fieldScaler`, for half the height).
    FieldOrder fields = FieldOrder::kProgressive;
    SwsContext* fieldScaler = nullptr;
    std::string note;
};

namespace {

int encoderThreads = 0;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

const char* EncoderName(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::H264:
            return "libx264";
        case VideoCodec::Mpeg4:
            return "mpeg4";
        case VideoCodec::Mjpeg:
            return "mjpeg";
        case VideoCodec::Ffv1:
            return "ffv1";
    }
    return "";
}

// H.264 stays 4:2:0 at every size (High profile, which players and hardware decoders take;
// 4:4:4 they often refuse). MJPEG uses the full-range JPEG flavour of 4:2:0, FFV1 keeps RGB so
// it stays lossless.
AVPixelFormat EncoderPixelFormat(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::H264:
            return AV_PIX_FMT_YUV420P;
        case VideoCodec::Mpeg4:
            return AV_PIX_FMT_YUV420P;
        case VideoCodec::Mjpeg:
            return AV_PIX_FMT_YUVJ420P;
        case VideoCodec::Ffv1:
            return AV_PIX_FMT_BGR0;
    }
    return AV_PIX_FMT_YUV420P;
}

// 4:2:0 H.264 has whole chroma samples only, and its frame cropping counts in them too, so an
// odd width or height can't be coded, nor cropped to in the bitstream. Such a frame is coded at
// the next even size; the exact size goes in the AVI headers, and libavcodec-based players crop
// to it (the container's size is honoured when it lies within the coded macroblocks). Players
// that ignore it show one more column or row, a repeat of the edge.
void CodedSize(VideoCodec codec, int width, int height, int* codedWidth, int* codedHeight) {
    bool even = codec == VideoCodec::H264;
    *codedWidth = even ? width + width % 2 : width;
    *codedHeight = even ? height + height % 2 : height;
}

// Fills the coded frame from the picture at the exact size. The colour conversion runs at the
// exact size, so the chroma samples are what libswscale makes of an odd-sized 4:2:0 picture and
// what it expects when it shows the cropped picture again; the chroma planes already cover the
// coded size (half of it, rounded up). The luma gains a last column and a bottom row repeating
// the edge, so the padding neither bleeds into the edge's colour nor shows as a dark line where
// a player ignores the crop.
void PadToCodedSize(const AVFrame* exact, AVFrame* coded) {
    for (int y = 0; y < coded->height; ++y) {
        const uint8_t* from =
            exact->data[0] + ptrdiff_t{exact->linesize[0]} * std::min(y, exact->height - 1);
        uint8_t* to = coded->data[0] + ptrdiff_t{coded->linesize[0]} * y;
        std::memcpy(to, from, static_cast<size_t>(exact->width));
        std::memset(to + exact->width, from[exact->width - 1],
                    static_cast<size_t>(coded->width - exact->width));
    }
    int chromaWidth = (exact->width + 1) / 2, chromaHeight = (exact->height + 1) / 2;
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < chromaHeight; ++y)
            std::memcpy(coded->data[plane] + ptrdiff_t{coded->linesize[plane]} * y,
                        exact->data[plane] + ptrdiff_t{exact->linesize[plane]} * y,
                        static_cast<size_t>(chromaWidth));
}

void FreeParts(VideoEncoder* e) {
    avcodec_free_context(&e->context);
    av_frame_free(&e->frame);
    av_frame_free(&e->exact);
    av_packet_free(&e->packet);
    sws_freeContext(e->scaler);
    e->scaler = nullptr;
    sws_freeContext(e->fieldScaler);
    e->fieldScaler = nullptr;
}

// Which fields an encoder can keep, and why not where it can't.
FieldOrder KeptFields(const VideoEncoderSettings& settings, std::string* note) {
    if (settings.fields == FieldOrder::kProgressive) return settings.fields;
    // Interlaced H.264 crops its coded size only in steps of 4 rows: any other height would
    // change the size shown.
    if (settings.codec == VideoCodec::H264 && settings.height % 4 != 0) {
        *note = "interlaced video " + std::to_string(settings.height) +
                " rows high (not a multiple of 4) is coded as progressive frames";
        return FieldOrder::kProgressive;
    }
    return settings.fields;
}

// 4:2:0 colours of woven fields belong to each field: converted per field, where both fields
// have whole chroma rows.
bool ConvertsByFields(const VideoEncoder* e, AVPixelFormat format) {
    return e->fields != FieldOrder::kProgressive && e->height % 4 == 0 &&
           (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P);
}

}  // namespace

void SetEncoderThreads(int threads) {
    encoderThreads = threads > 0 ? threads : 0;
}

VideoEncoder* OpenVideoEncoder(const VideoEncoderSettings& settings, std::string* error) {
    if (settings.width <= 0 || settings.height <= 0 || settings.width > 16384 ||
        settings.height > 16384) {
        *error = "the video frame size " + std::to_string(settings.width) + "x" +
                 std::to_string(settings.height) + " can't be encoded";
        return nullptr;
    }
    if (settings.rate == 0 || settings.scale == 0) {
        *error = "the video stream has no frame rate";
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(EncoderName(settings.codec));
    if (!codec) {
        *error = std::string("this system's libavcodec has no ") + EncoderName(settings.codec) +
                 " encoder";
        return nullptr;
    }
    auto* e = new VideoEncoder;
    e->codec = settings.codec;
    e->width = settings.width;
    e->height = settings.height;
    e->fields = KeptFields(settings, &e->note);
    e->context = avcodec_alloc_context3(codec);
    e->frame = av_frame_alloc();
    e->packet = av_packet_alloc();
    if (!e->context || !e->frame || !e->packet) {
        *error = "out of memory";
        CloseVideoEncoder(e);
        return nullptr;
    }
    AVCodecContext* c = e->context;
    CodedSize(settings.codec, settings.width, settings.height, &e->codedWidth, &e->codedHeight);
    c->width = e->codedWidth;
    c->height = e->codedHeight;
    c->pix_fmt = EncoderPixelFormat(settings.codec);
    // One tick per frame. MPEG-4 Part 2 can't carry a time base denominator above 65535, so
    // there the rate is approximated (it only affects the stream's own timing fields; the AVI
    // header keeps the exact rate).
    int maxDen = settings.codec == VideoCodec::Mpeg4 ? 65535 : INT_MAX;
    int num = 1, den = 1;
    av_reduce(&num, &den, settings.scale, settings.rate, maxDen);
    c->time_base = AVRational{num, den};
    c->framerate = AVRational{den, num};
    c->sample_aspect_ratio =
        settings.pixel.Known()
            ? AVRational{static_cast<int>(settings.pixel.num), static_cast<int>(settings.pixel.den)}
            : AVRational{1, 1};
    c->thread_count = encoderThreads;  // 0: as many as the codec finds useful
    // AVI has no time stamps: each chunk is the next frame in display order, so frames must come
    // out in the order they went in. Without B-frames every codec here does that.
    c->max_b_frames = 0;
    // Woven fields: H.264 codes each frame as interlaced (libx264 takes the order from every
    // frame's flags) and MPEG-4 with field DCT and field motion; the other codecs only carry the
    // fields, which the AVI's video properties then state.
    if (e->fields != FieldOrder::kProgressive) {
        c->field_order = e->fields == FieldOrder::kTopFirst ? AV_FIELD_TT : AV_FIELD_BB;
        if (settings.codec == VideoCodec::H264 || settings.codec == VideoCodec::Mpeg4)
            c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    }
    // The colour matrix swscale uses for RGB to YUV (BT.601), stated so that players don't guess.
    if (settings.codec == VideoCodec::H264 || settings.codec == VideoCodec::Mpeg4) {
        c->colorspace = AVCOL_SPC_SMPTE170M;
        c->color_range = AVCOL_RANGE_MPEG;
    }

    AVDictionary* options = nullptr;
    switch (settings.codec) {
        case VideoCodec::H264:
            av_dict_set(&options, "preset", settings.preset.c_str(), 0);
            av_dict_set(&options, "crf", std::to_string(settings.quality).c_str(), 0);
            // The field order from the first frame on (libx264 would otherwise start top field
            // first and change at the first frame's flags).
            if (e->fields != FieldOrder::kProgressive)
                av_dict_set(&options, "x264-params",
                            e->fields == FieldOrder::kTopFirst ? "tff=1" : "bff=1", 0);
            break;
        case VideoCodec::Mpeg4:
        case VideoCodec::Mjpeg:
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * settings.quality;
            // Key frames about every 10 s of video (the libx264 default is 250 frames as well).
            c->gop_size = 250;
            break;
        case VideoCodec::Ffv1:
            // Version 3 with slices codes in parallel and checks each slice with a CRC. Its
            // configuration travels as codec data after the BITMAPINFOHEADER.
            av_dict_set(&options, "slicecrc", "1", 0);
            c->level = 3;
            break;
    }
    int r = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (r < 0) {
        *error = std::string("the ") + EncoderName(settings.codec) +
                 " encoder did not open: " + AvError(r);
        CloseVideoEncoder(e);
        return nullptr;
    }
    e->frame->format = c->pix_fmt;
    e->frame->width = c->width;
    e->frame->height = c->height;
    if ((r = av_frame_get_buffer(e->frame, 0)) < 0) {
        *error = "out of memory: " + AvError(r);
        CloseVideoEncoder(e);
        return nullptr;
    }
    if (e->codedWidth != e->width || e->codedHeight != e->height) {
        e->exact = av_frame_alloc();
        if (!e->exact) {
            *error = "out of memory";
            CloseVideoEncoder(e);
            return nullptr;
        }
        e->exact->format = c->pix_fmt;
        e->exact->width = e->width;
        e->exact->height = e->height;
        if ((r = av_frame_get_buffer(e->exact, 0)) < 0) {
            *error = "out of memory: " + AvError(r);
            CloseVideoEncoder(e);
            return nullptr;
        }
    }
    // Bicubic is what ffmpeg's command line uses for this conversion, so file sizes compare.
    e->scaler = sws_getContext(e->width, e->height, AV_PIX_FMT_BGR24, e->width, e->height,
                               c->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (e->scaler && ConvertsByFields(e, c->pix_fmt))
        e->fieldScaler =
            sws_getContext(e->width, e->height / 2, AV_PIX_FMT_BGR24, e->width, e->height / 2,
                           c->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!e->scaler || (ConvertsByFields(e, c->pix_fmt) && !e->fieldScaler)) {
        *error = "no colour conversion to the encoder's pixel format";
        CloseVideoEncoder(e);
        return nullptr;
    }
    return e;
}

std::string VideoEncoderNote(const VideoEncoder* encoder) {
    return encoder->note;
}

uint32_t VideoEncoderFourcc(const VideoEncoder* encoder) {
    switch (encoder->codec) {
        case VideoCodec::H264:
            return mmioFOURCC('H', '2', '6', '4');
        case VideoCodec::Mpeg4:
            return mmioFOURCC('F', 'M', 'P', '4');
        case VideoCodec::Mjpeg:
            return mmioFOURCC('M', 'J', 'P', 'G');
        case VideoCodec::Ffv1:
            return mmioFOURCC('F', 'F', 'V', '1');
    }
    return 0;
}

std::vector<uint8_t> VideoEncoderExtradata(const VideoEncoder* encoder) {
    const AVCodecContext* c = encoder->context;
    if (!c->extradata || c->extradata_size <= 0) return {};
    return std::vector<uint8_t>(c->extradata, c->extradata + c->extradata_size);
}

int SendVideoFrame(VideoEncoder* e, const uint8_t* rows, ptrdiff_t stride, std::string* error) {
    if (e->ended) {
        *error = "a frame after the end of the stream";
        return 0;
    }
    int r = 0;
    if (!rows) {
        e->ended = true;
        r = avcodec_send_frame(e->context, nullptr);
    } else {
        // The encoder may still hold the previous picture for reference: write into a buffer it
        // doesn't own.
        if ((r = av_frame_make_writable(e->frame)) < 0) {
            *error = "out of memory: " + AvError(r);
            return 0;
        }
        // Bottom-up rows read top-down: start at the last row and step backwards.
        const uint8_t* top[1] = {rows + static_cast<ptrdiff_t>(e->height - 1) * stride};
        const int topStride[1] = {static_cast<int>(-stride)};
        AVFrame* converted = e->exact ? e->exact : e->frame;
        if (e->fieldScaler != nullptr) {
            // Each field's rows (every other row from its first) to its own lines.
            for (int field = 0; field < 2; ++field) {
                const uint8_t* fieldTop[1] = {top[0] + field * topStride[0]};
                const int fieldStride[1] = {topStride[0] * 2};
                uint8_t* planes[4] = {};
                int strides[4] = {};
                for (int plane = 0; plane < 3; ++plane) {
                    planes[plane] = converted->data[plane] + field * converted->linesize[plane];
                    strides[plane] = converted->linesize[plane] * 2;
                }
                sws_scale(e->fieldScaler, fieldTop, fieldStride, 0, e->height / 2, planes, strides);
            }
        } else {
            sws_scale(e->scaler, top, topStride, 0, e->height, converted->data,
                      converted->linesize);
        }
        if (e->exact) PadToCodedSize(e->exact, e->frame);
        e->frame->pts = e->nextPts++;
        e->frame->interlaced_frame = e->fields != FieldOrder::kProgressive ? 1 : 0;
        e->frame->top_field_first = e->fields == FieldOrder::kTopFirst ? 1 : 0;
        r = avcodec_send_frame(e->context, e->frame);
    }
    if (r < 0) {
        *error = "the encoder refused a frame: " + AvError(r);
        return 0;
    }
    return 1;
}

int ReceiveVideoPacket(VideoEncoder* e, EncodedPacket* packet, std::string* error) {
    av_packet_unref(e->packet);
    int r = avcodec_receive_packet(e->context, e->packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
    if (r < 0) {
        *error = "the encoder failed: " + AvError(r);
        return -1;
    }
    packet->data = e->packet->data;
    packet->size = e->packet->size;
    packet->key = (e->packet->flags & AV_PKT_FLAG_KEY) != 0;
    return 1;
}

void CloseVideoEncoder(VideoEncoder* encoder) {
    if (!encoder) return;
    FreeParts(encoder);
    delete encoder;
}
