// The shape of one pixel as it is shown: its width over its height. The decoder reports the
// codec's, the stream header may state its own, and the converter and the compressor carry it
// to what they write. Header only: all of them use it.
#pragma once

#include <cstdint>

// num:den, both within 16 bits as every place that stores one needs (the video properties
// chunk, H.264's VUI, MPEG-4's header). 0:0 is unknown, which players show as square.
struct PixelAspect {
    uint32_t num = 0;
    uint32_t den = 0;
    bool Known() const { return num != 0 && den != 0; }
    bool Square() const { return !Known() || num == den; }
    bool operator==(const PixelAspect&) const = default;
};

constexpr uint32_t kAspectTermLimit = 0xFFFF;

// num/den in lowest terms; where those do not fit in 16 bits, the closest fraction whose terms
// do (the last convergent of its continued fraction that fits). 0 in either term is unknown.
inline PixelAspect ReducedAspect(unsigned __int128 num, unsigned __int128 den) {
    if (num == 0 || den == 0) return {};
    // Continued-fraction convergents h/k, starting from h(-2)/k(-2) = 0/1, h(-1)/k(-1) = 1/0.
    unsigned __int128 h0 = 0, h1 = 1, k0 = 1, k1 = 0;
    while (den != 0) {
        const unsigned __int128 term = num / den;
        const unsigned __int128 h = term * h1 + h0, k = term * k1 + k0;
        if (h > kAspectTermLimit || k > kAspectTermLimit) break;
        h0 = h1, h1 = h, k0 = k1, k1 = k;
        const unsigned __int128 rest = num - term * den;
        num = den, den = rest;
    }
    // A ratio beyond the limit either way: the nearest that can be said.
    if (k1 == 0) return {kAspectTermLimit, 1};
    if (h1 == 0) return {1, kAspectTermLimit};
    return {static_cast<uint32_t>(h1), static_cast<uint32_t>(k1)};
}

// The display aspect (width over height of the whole picture) of a width x height picture of
// pixels shaped `pixel`; unknown pixels count as square.
inline PixelAspect DisplayAspect(PixelAspect pixel, uint32_t width, uint32_t height) {
    if (!pixel.Known()) pixel = {1, 1};
    return ReducedAspect(static_cast<unsigned __int128>(pixel.num) * width,
                         static_cast<unsigned __int128>(pixel.den) * height);
}

// The pixel shape that shows a width x height picture at `display` aspect.
inline PixelAspect PixelAspectFor(PixelAspect display, uint32_t width, uint32_t height) {
    if (!display.Known()) return {};
    return ReducedAspect(static_cast<unsigned __int128>(display.num) * height,
                         static_cast<unsigned __int128>(display.den) * width);
}

// The pixel shape of a picture stretched from sourceWidth x sourceHeight to width x height, so
// that it is shown at the same shape as before. A source of square pixels, or of pixels whose
// shape nothing states, gives square ones: the new size is the shape asked for, as it has
// always been. Unknown when a size is 0.
inline PixelAspect StretchedPixelAspect(PixelAspect source, uint32_t sourceWidth,
                                        uint32_t sourceHeight, uint32_t width, uint32_t height) {
    if (sourceWidth == 0 || sourceHeight == 0 || width == 0 || height == 0) return {};
    if (source.Square()) return {1, 1};
    // In one fraction, so that nothing is rounded on the way.
    using Wide = unsigned __int128;
    return ReducedAspect(Wide{source.num} * sourceWidth * height,
                         Wide{source.den} * sourceHeight * width);
}
