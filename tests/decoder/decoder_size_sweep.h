// Compressed files of one size made by ffmpeg's encoders and decoded by the frame decoder, picture
// for picture against ffmpeg's own BGR decoding of the same file. Shared by the quick sizes and
// the wide (slow) sweep.
#pragma once

#include <string>
#include <vector>

struct SweepCodec {
    const char* name;
    const char* encoder;  // ffmpeg encoder arguments
    bool exact;           // lossless: every byte must match; otherwise at least 45 dB
    bool evenWidth;       // the encoder refuses odd widths
    bool evenHeight;      // ... and odd heights
    // Odd sizes are made the way a 4:2:0 H.264 writer has to make them: coded at the next even
    // size with the edge repeated, the exact size only in the file's headers.
    bool oddSizeByHeaders;
};

extern const SweepCodec kSweepCodecs[];
extern const size_t kSweepCodecCount;

struct SweepSize {
    int width;
    int height;
};

// Why `codec` can't make a file of this size, or empty when it can.
std::string SweepRefusal(const SweepCodec& codec, int width, int height);

// Makes the file and checks every frame, bottom-up and top-down (with gtest assertions).
void CheckSweepSize(const SweepCodec& codec, int width, int height);
