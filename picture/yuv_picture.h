// A decoded picture in its own YUV planes, as the decoder hands it to the scaler so that it can
// scale before it converts, with the integer coefficients that turn its samples into BGR bytes
// exactly as the frame decoder's own conversion does. Header only: both sides use it.
#pragma once

#include <cstdint>

// The conversion of one sample triple. Samples come with 3 fraction bits (an 8-bit sample s is
// s * 8), so that averaged samples keep some of their precision. Two forms, as the decoder's
// conversion has two depending on the layout:
//  - 16-bit (pictures with subsampled chroma):
//      y' = ((Y - yOffset) * yCoeff) >> 16,  u' = U - 1024,  v' = V - 1024
//      blue  = y' + ((u' * ubCoeff) >> 16)
//      green = y' + ((u' * ugCoeff) >> 16) + ((v' * vgCoeff) >> 16)
//      red   = y' + ((v' * vrCoeff) >> 16)
//    each clamped to 0..255, the shifts rounding down.
//  - 32-bit (fullChroma, pictures with a chroma sample per pixel):
//      y' = (Y * 64 - yOffset) * yCoeff + 2^21,  u' = (U - 1024) * 64,  v' = (V - 1024) * 64
//      blue = y' + u' * ubCoeff, green = y' + u' * ugCoeff + v' * vgCoeff, red = y' + v' * vrCoeff
//    in 32-bit two's complement arithmetic that wraps; each value outside 0 .. 2^30 - 1 is
//    clamped to it, then shifted down by 22.
struct YuvToBgr {
    bool fullChroma = false;
    int16_t yOffset = 0;
    int16_t yCoeff = 0;
    int16_t ubCoeff = 0;
    int16_t ugCoeff = 0;
    int16_t vgCoeff = 0;
    int16_t vrCoeff = 0;
};

inline uint8_t ClampToByte(int32_t value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// The 32-bit form's last step: a wrapped sum, clamped to 30 bits, to a byte.
inline uint8_t WideToByte(uint32_t sum) {
    const auto value = static_cast<int32_t>(sum);
    return static_cast<uint8_t>((value < 0 ? 0 : value > 0x3FFFFFFF ? 0x3FFFFFFF : value) >> 22);
}

// One pixel: samples with 3 fraction bits to blue, green, red bytes.
inline void YuvToBgrPixel(const YuvToBgr& k, int32_t y, int32_t u, int32_t v, uint8_t* bgr) {
    if (k.fullChroma) {
        const uint32_t luma =
            static_cast<uint32_t>(y * 64 - k.yOffset) * static_cast<uint32_t>(k.yCoeff) +
            (1u << 21);
        const auto cb = static_cast<uint32_t>((u - 1024) * 64);
        const auto cr = static_cast<uint32_t>((v - 1024) * 64);
        bgr[0] = WideToByte(luma + cb * static_cast<uint32_t>(k.ubCoeff));
        bgr[1] = WideToByte(luma + cb * static_cast<uint32_t>(k.ugCoeff) +
                            cr * static_cast<uint32_t>(k.vgCoeff));
        bgr[2] = WideToByte(luma + cr * static_cast<uint32_t>(k.vrCoeff));
        return;
    }
    const int32_t luma = ((y - k.yOffset) * k.yCoeff) >> 16;
    const int32_t cb = u - 1024;
    const int32_t cr = v - 1024;
    bgr[0] = ClampToByte(luma + ((cb * k.ubCoeff) >> 16));
    bgr[1] = ClampToByte(luma + ((cb * k.ugCoeff) >> 16) + ((cr * k.vgCoeff) >> 16));
    bgr[2] = ClampToByte(luma + ((cr * k.vrCoeff) >> 16));
}

// Three 8-bit planes; chroma has (width + 1) >> chromaShiftX samples a row and
// (height + 2^chromaShiftY - 1) >> chromaShiftY rows. Picture row r takes chroma row
// r >> chromaShiftY and column x chroma column x >> chromaShiftX. Sample j of a plane's row is
// steps[plane] * j bytes into it: 1 for planar layouts, 2 and 4 for packed 4:2:2 (YUY2, UYVY),
// whose "planes" are the one row of bytes seen from different offsets.
//
// Some layouts' own conversion treats the picture's last rows in another arithmetic; then
// `tail` holds those rows (from row tailFirst on) as the decoder converted them: 24-bit BGR,
// top row first, 3 * width bytes a row. Null otherwise.
struct YuvPicture {
    const uint8_t* planes[3] = {};
    int strides[3] = {};
    int steps[3] = {1, 1, 1};
    const uint8_t* tail = nullptr;
    int tailFirst = 0;
    int width = 0;
    int height = 0;
    int chromaShiftX = 1;
    int chromaShiftY = 1;
    YuvToBgr toBgr;
};
