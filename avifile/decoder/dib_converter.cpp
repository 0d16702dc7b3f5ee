#include "avifile/decoder/dib_converter.h"

#include <bit>
#include <cstring>

namespace {

uint32_t ReadLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // the build targets little-endian hosts only, as the platform records do
}

uint16_t ReadLe16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// One channel of a 16- or 32-bit pixel: where its bits are and how they widen to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;       // of the lowest mask bit
    int dropBits = 0;    // low bits discarded when the channel has more than 8
    uint8_t widen[256];  // channel value (at most 8 bits) -> 0..255
};

// Repeats the value's bits down to the low end, so the largest value becomes 255 and 0 stays 0
// (the usual widening of 5- and 6-bit channels).
uint8_t Widen(uint32_t value, int bits) {
    if (bits >= 8) return static_cast<uint8_t>(value);
    int shift = 8 - bits;
    uint32_t result = value << shift;
    while (shift > 0) {
        shift -= bits;
        result |= shift >= 0 ? value << shift : value >> -shift;
    }
    return static_cast<uint8_t>(result);
}

void SetUpChannel(uint32_t mask, Channel* channel) {
    channel->mask = mask;
    if (mask == 0) {
        std::memset(channel->widen, 0, sizeof channel->widen);
        return;
    }
    channel->shift = std::countr_zero(mask);
    int bits = std::bit_width(mask >> channel->shift);
    channel->dropBits = bits > 8 ? bits - 8 : 0;
    int kept = bits - channel->dropBits;
    for (uint32_t v = 0; v < 256; ++v) channel->widen[v] = Widen(v & ((1u << kept) - 1), kept);
}

inline uint8_t Extract(const Channel& c, uint32_t pixel) {
    return c.widen[(((pixel & c.mask) >> c.shift) >> c.dropBits) & 0xFF];
}

void ConvertMaskedRow(const DibLayout& layout, const Channel* ch, const uint8_t* in, uint8_t* out) {
    const bool wide = layout.bitCount == 32;
    for (LONG x = 0; x < layout.width; ++x) {
        uint32_t pixel = wide ? ReadLe32(in + 4 * x) : ReadLe16(in + 2 * x);
        out[3 * x + 0] = Extract(ch[2], pixel);
        out[3 * x + 1] = Extract(ch[1], pixel);
        out[3 * x + 2] = Extract(ch[0], pixel);
    }
}

void ConvertPaletteRow(const DibLayout& layout, const uint8_t* in, uint8_t* out) {
    const int bits = layout.bitCount;
    const int perByte = 8 / bits;
    const unsigned valueMask = (1u << bits) - 1;
    for (LONG x = 0; x < layout.width; ++x) {
        // The leftmost pixel sits in the most significant bits of its byte.
        int slot = x % perByte;
        unsigned index = (in[x / perByte] >> (8 - bits * (slot + 1))) & valueMask;
        const RGBQUAD& q = layout.palette[index];
        out[3 * x + 0] = q.rgbBlue;
        out[3 * x + 1] = q.rgbGreen;
        out[3 * x + 2] = q.rgbRed;
    }
}

}  // namespace

int ReadDibLayout(const uint8_t* format, size_t formatSize, DibLayout* layout) {
    if (!format || !layout || formatSize < sizeof(BITMAPINFOHEADER)) return 0;
    BITMAPINFOHEADER h;
    std::memcpy(&h, format, sizeof h);
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > formatSize) return 0;
    if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return 0;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return 0;
    const WORD bits = h.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
    if (h.biCompression == BI_BITFIELDS && bits != 16 && bits != 32) return 0;

    DibLayout l;
    l.width = h.biWidth;
    l.topDown = h.biHeight < 0;
    l.height = l.topDown ? -h.biHeight : h.biHeight;
    l.bitCount = bits;
    l.stride = (static_cast<uint64_t>(l.width) * bits + 31) / 32 * 4;
    l.imageSize = l.stride * static_cast<uint64_t>(l.height);

    if (bits == 16 || bits == 32) {
        if (h.biCompression == BI_BITFIELDS) {
            // The three masks follow a 40-byte header and are part of the longer headers, at the
            // same offset either way.
            if (formatSize < sizeof(BITMAPINFOHEADER) + 12) return 0;
            l.redMask = ReadLe32(format + 40);
            l.greenMask = ReadLe32(format + 44);
            l.blueMask = ReadLe32(format + 48);
            if (bits == 16 && ((l.redMask | l.greenMask | l.blueMask) >> 16) != 0) return 0;
            if ((l.redMask | l.greenMask | l.blueMask) == 0) return 0;
        } else if (bits == 16) {
            l.redMask = 0x7C00;
            l.greenMask = 0x03E0;
            l.blueMask = 0x001F;
        } else {
            l.redMask = 0x00FF0000;
            l.greenMask = 0x0000FF00;
            l.blueMask = 0x000000FF;
        }
    } else if (bits <= 8) {
        uint32_t most = 1u << bits;
        uint32_t count = h.biClrUsed == 0 ? most : (h.biClrUsed < most ? h.biClrUsed : most);
        size_t available = (formatSize - h.biSize) / sizeof(RGBQUAD);
        if (count > available) count = static_cast<uint32_t>(available);
        l.paletteSize = count;
        std::memcpy(l.palette, format + h.biSize, count * sizeof(RGBQUAD));
    }
    *layout = l;
    return 1;
}

void ConvertDibToBgr24(const DibLayout& layout, const uint8_t* source, uint8_t* bottomRow,
                       ptrdiff_t rowStep) {
    const size_t rowBytes = static_cast<size_t>(layout.width) * 3;
    Channel channels[3];
    const bool masked = layout.bitCount == 16 || layout.bitCount == 32;
    const bool plainBgrx = layout.bitCount == 32 && layout.redMask == 0x00FF0000 &&
                           layout.greenMask == 0x0000FF00 && layout.blueMask == 0x000000FF;
    if (masked && !plainBgrx) {
        SetUpChannel(layout.redMask, &channels[0]);
        SetUpChannel(layout.greenMask, &channels[1]);
        SetUpChannel(layout.blueMask, &channels[2]);
    }
    for (LONG y = 0; y < layout.height; ++y) {
        // y counts output rows from the bottom; stored rows run from the bottom unless top-down.
        LONG stored = layout.topDown ? layout.height - 1 - y : y;
        const uint8_t* in = source + static_cast<uint64_t>(stored) * layout.stride;
        uint8_t* out = bottomRow + static_cast<ptrdiff_t>(y) * rowStep;
        switch (layout.bitCount) {
            case 24:
                std::memcpy(out, in, rowBytes);
                break;
            case 32:
                if (plainBgrx) {
                    for (LONG x = 0; x < layout.width; ++x) {
                        out[3 * x + 0] = in[4 * x + 0];
                        out[3 * x + 1] = in[4 * x + 1];
                        out[3 * x + 2] = in[4 * x + 2];
                    }
                } else {
                    ConvertMaskedRow(layout, channels, in, out);
                }
                break;
            case 16:
                ConvertMaskedRow(layout, channels, in, out);
                break;
            default:
                ConvertPaletteRow(layout, in, out);
                break;
        }
    }
}
