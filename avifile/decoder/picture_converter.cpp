#include "avifile/decoder/picture_converter.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

// The YUV-to-RGB coefficients for a colour space, with BT.601 where the picture names none or
// one outside the table (what FFmpeg's own conversion chooses, so pictures compare equal).
const int* CoefficientsFor(int colorSpace) {
    if (colorSpace < 1 || colorSpace > 7) colorSpace = AVCOL_SPC_BT470BG;
    return sws_getCoefficients(colorSpace);
}

// libswscale's SIMD output stages write packed pixels in whole groups (8 pixels for 24-bit
// BGR), so a row whose width is not a multiple of the group is written past its end. Into our
// bitmaps that overrun would land on pad bytes and, with rows laid out bottom-up, on the start of
// the row written just before. So the rows are made in a buffer laid out the way FFmpeg lays out
// its own frames (width rounded up to 32 pixels, rows on 64-byte boundaries, top-down, a spare
// row at the end) and only the wanted bytes are copied out.
constexpr uint64_t kStagingWidthAlign = 32;
constexpr uint64_t kStagingRowAlign = 64;

uint8_t* StagingRows(PictureConverter* converter, int width, int height, int* stride) {
    uint64_t rowBytes = (static_cast<uint64_t>(width) + kStagingWidthAlign - 1) /
                        kStagingWidthAlign * kStagingWidthAlign * 3;
    rowBytes = (rowBytes + kStagingRowAlign - 1) / kStagingRowAlign * kStagingRowAlign;
    uint64_t bytes = rowBytes * (static_cast<uint64_t>(height) + 1);
    if (rowBytes > INT_MAX || bytes > SIZE_MAX / 2) return nullptr;
    if (bytes > converter->stagingSize) {
        av_freep(&converter->staging);
        converter->stagingSize = 0;
        converter->staging = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(bytes)));
        if (!converter->staging) return nullptr;
        converter->stagingSize = static_cast<size_t>(bytes);
    }
    *stride = static_cast<int>(rowBytes);
    return converter->staging;
}

}  // namespace

int ConvertPicture(PictureConverter* converter, const Picture& picture, uint8_t* topRow,
                   ptrdiff_t rowStep, int width, int height) {
    if (!converter || !topRow || picture.width <= 0 || picture.height <= 0 || width <= 0 ||
        height <= 0)
        return 0;
    if (rowStep > INT_MAX || rowStep < -INT_MAX) return 0;
    auto format = static_cast<AVPixelFormat>(picture.format);
    if (!sws_isSupportedInput(format)) return 0;

    SwsContext* previous = converter->context;
    converter->context =
        sws_getCachedContext(previous, picture.width, picture.height, format, width, height,
                             AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!converter->context) return 0;
    if (converter->context != previous) converter->colorSpace = converter->colorRange = -1;

    // The colour details follow the picture; setting them rebuilds tables, so only on a change.
    if (picture.colorSpace != converter->colorSpace ||
        picture.colorRange != converter->colorRange) {
        int* inverse = nullptr;
        int* table = nullptr;
        int sourceFull = 0, destinationFull = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(converter->context, &inverse, &sourceFull, &table,
                                     &destinationFull, &brightness, &contrast, &saturation) >= 0) {
            if (picture.colorRange != AVCOL_RANGE_UNSPECIFIED)
                sourceFull = picture.colorRange == AVCOL_RANGE_JPEG ? 1 : 0;
            const int* coefficients = CoefficientsFor(picture.colorSpace);
            sws_setColorspaceDetails(converter->context, coefficients, sourceFull, coefficients,
                                     destinationFull, brightness, contrast, saturation);
        }
        converter->colorSpace = picture.colorSpace;
        converter->colorRange = picture.colorRange;
    }

    // A width of whole groups can't be overrun: the rows go straight into the bitmap, which
    // saves copying every frame once more and a frame's worth of memory.
    if (width % kStagingWidthAlign == 0) {
        uint8_t* destination[4] = {topRow, nullptr, nullptr, nullptr};
        int destinationStrides[4] = {static_cast<int>(rowStep), 0, 0, 0};
        return sws_scale(converter->context, picture.planes, picture.strides, 0, picture.height,
                         destination, destinationStrides) == height
                   ? 1
                   : 0;
    }
    int stagingStride = 0;
    uint8_t* staging = StagingRows(converter, width, height, &stagingStride);
    if (!staging) return 0;
    uint8_t* destination[4] = {staging, nullptr, nullptr, nullptr};
    int destinationStrides[4] = {stagingStride, 0, 0, 0};
    int rows = sws_scale(converter->context, picture.planes, picture.strides, 0, picture.height,
                         destination, destinationStrides);
    if (rows != height) return 0;
    size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(topRow + rowStep * y, staging + static_cast<size_t>(stagingStride) * y,
                    rowBytes);
    return 1;
}

void ReleasePictureConverter(PictureConverter* converter) {
    if (!converter) return;
    sws_freeContext(converter->context);
    converter->context = nullptr;
    av_freep(&converter->staging);
    converter->stagingSize = 0;
    converter->colorSpace = converter->colorRange = -1;
}
