// One video stream's encoder: takes 24-bit bottom-up DIB frames (the frame decoder's output),
// converts them with libswscale and encodes them with libavcodec, one packet per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/field_order.h"
#include "picture/pixel_aspect.h"
#include "vidcrunch/compressor_options.h"

struct VideoEncoderSettings {
    VideoCodec codec = VideoCodec::H264;
    int quality = 18;
    std::string preset = "medium";
    int width = 0;
    int height = 0;
    uint32_t rate = 25;  // frames per second as rate / scale, as the AVI stream header gives it
    uint32_t scale = 1;
    // The shape of the pixels, which the codecs that can say it say in their own headers
    // (H.264's VUI, MPEG-4's VOL, JPEG's density); unknown is said as square.
    PixelAspect pixel;
    // Frames of two woven fields, in this order: H.264 and MPEG-4 then code them as
    // interlaced, and every 4:2:0 codec converts their colours field by field.
    FieldOrder fields = FieldOrder::kProgressive;
};

struct VideoEncoder;

// Threads each encoder opened afterwards may use; 0 (the default) lets the codec choose for
// the processor count. Tests, benchmarks and fuzzing pin it.
void SetEncoderThreads(int threads);

// One encoded frame. Valid until the next call on the same encoder.
struct EncodedPacket {
    const uint8_t* data = nullptr;
    int size = 0;
    bool key = false;
};

// Opens an encoder, or returns null with the reason in `error`.
VideoEncoder* OpenVideoEncoder(const VideoEncoderSettings& settings, std::string* error);

// What the encoder did otherwise than asked, for the user; empty when nothing.
std::string VideoEncoderNote(const VideoEncoder* encoder);

// The FourCC for the AVI stream header and BITMAPINFOHEADER.biCompression.
uint32_t VideoEncoderFourcc(const VideoEncoder* encoder);
// Codec data the encoder made at open (stored after the BITMAPINFOHEADER); often empty.
std::vector<uint8_t> VideoEncoderExtradata(const VideoEncoder* encoder);

// Hands one frame to the encoder: rows of `stride` bytes, bottom row first, blue-green-red.
// Null rows mark the end of the stream, after which the encoder gives out what it still holds.
// 1 on success, 0 with `error` filled.
int SendVideoFrame(VideoEncoder* encoder, const uint8_t* rows, ptrdiff_t stride,
                   std::string* error);

// Takes the next finished packet: 1 with `packet` filled, 0 when the encoder needs another
// frame (or, after the end was sent, has given everything), -1 on failure with `error` filled.
int ReceiveVideoPacket(VideoEncoder* encoder, EncodedPacket* packet, std::string* error);

// Frees the encoder; null is accepted.
void CloseVideoEncoder(VideoEncoder* encoder);
