// The 40-byte bitmap header that describes a device-independent bitmap, laid out and named
// field for field as the platform writes it. The AVI library owns the record; this header
// stands in for it only in a tree that lacks that library.
#pragma once

#include <cstdint>

#if __has_include("avifile/avi_types.h")
#include "avifile/avi_types.h"
#else

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: rows stored bottom row first
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must stay 40 bytes");

constexpr uint32_t BI_RGB = 0;

#endif
