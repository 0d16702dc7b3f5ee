// Helpers of the frame decoder tests: files made by ffmpeg, ffmpeg's own decoding of them, our
// decoding of every frame, and picture comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avi_test_support.h"
#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"

// A 24-bit bottom-up picture without its header; empty when no frame was delivered.
using Image = std::vector<uint8_t>;

// Makes `path` from ffmpeg's test pattern (`source` is a lavfi graph such as
// "testsrc2=s=64x48:r=25") with `frames` frames and the given encoder arguments, as AVI.
bool MakeAvi(const std::string& path, const std::string& source, int frames,
             const std::string& encoderArguments);

// ffmpeg's decoding of the first video stream of `path`, each frame turned into our row layout
// (bottom row first, rows padded to 4 bytes); `filter`, when given, is applied on the way.
std::vector<Image> ReferenceFrames(const std::string& path, int width, int height,
                                   const std::string& filter = "");

uint64_t RowBytes(int width);
// Turns top-down packed BGR rows into bottom-up rows padded to 4 bytes.
Image BottomUpPadded(const uint8_t* topDown, int width, int height);

// The first video stream of an opened file.
PAVISTREAM VideoStream(const OpenedAvi& avi);

// A decoder that closes itself.
struct FrameDecoder {
    PGETFRAME handle = nullptr;
    FrameDecoder(PAVISTREAM stream, const BITMAPINFOHEADER* wanted)
        : handle(AVIStreamGetFrameOpen(stream, wanted)) {}
    ~FrameDecoder() { AVIStreamGetFrameClose(handle); }
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;
    // The frame's rows, checked against the delivered header; empty when there is none.
    Image At(LONG position, int width, int height);
};

// The wanted header the stream converter passes: the frame size, 24 bits, bottom-up.
BITMAPINFOHEADER Wanted(LONG width, LONG height);

// What each position of `stream` shows, given the pictures ffmpeg gives out: ffmpeg skips empty
// chunks, where a position shows the picture before it again.
std::vector<Image> ExpectedWithDrops(const std::vector<Image>& pictures, PAVISTREAM stream);

// Every position of the stream from its start, in order.
std::vector<Image> DecodeAll(PAVISTREAM stream, int width, int height);

// One video sample for our writer; positions left out become empty chunks (drop frames).
struct VideoSample {
    LONG position;
    std::vector<uint8_t> bytes;
    bool key = true;
};
// Writes an AVI with one video stream through our writer (and, if asked, a short PCM stream
// after it). Returns false when the writer refused something.
bool WriteVideoAvi(const std::string& path, const AVISTREAMINFOW& header,
                   const std::vector<uint8_t>& format, const std::vector<VideoSample>& samples,
                   bool withAudio = false);
// A header followed by `extra` bytes (masks, palette or codec data).
std::vector<uint8_t> FormatBytes(const BITMAPINFOHEADER& header,
                                 const std::vector<uint8_t>& extra = {});
// The video samples of a file as stored, with their key-frame flags.
std::vector<VideoSample> StoredSamples(PAVISTREAM stream);

// Peak signal-to-noise ratio of two equal-sized pictures in dB (1000 for identical ones).
double Psnr(const Image& a, const Image& b);
