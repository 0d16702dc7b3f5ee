// Uncompressed device-independent bitmaps (24/32-bit, 16-bit 555/565, 8/4/1-bit palettes, either
// row order) turned into 24-bit BGR rows, by our own code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avifile/avi_types.h"

// What it takes to read one uncompressed frame of a stream.
struct DibLayout {
    LONG width = 0;
    LONG height = 0;         // always positive
    bool topDown = false;    // first stored row is the top row
    WORD bitCount = 0;       // 1, 4, 8, 16, 24 or 32
    uint64_t stride = 0;     // bytes per stored row, a multiple of 4
    uint64_t imageSize = 0;  // stride * height: what a sample must hold at least
    // 16/32-bit channel masks (BI_BITFIELDS, or the BI_RGB defaults).
    uint32_t redMask = 0, greenMask = 0, blueMask = 0;
    // Palette for 8 bits and fewer, as B, G, R, 0; entries missing from the format are black.
    uint32_t paletteSize = 0;
    RGBQUAD palette[256] = {};
};

// Fills `layout` from a stream format (a BITMAPINFOHEADER and what follows it in 'strf').
// Returns 0 when the format is not one of the uncompressed layouts handled here.
int ReadDibLayout(const uint8_t* format, size_t formatSize, DibLayout* layout);

// Converts one frame of `layout` from `source` (at least layout.imageSize bytes) into 24-bit BGR
// rows of layout.width pixels: the bottom row goes to `bottomRow`, the next one up to
// `bottomRow + rowStep`, and so on (a negative `rowStep` writes top-down).
void ConvertDibToBgr24(const DibLayout& layout, const uint8_t* source, uint8_t* bottomRow,
                       ptrdiff_t rowStep);
