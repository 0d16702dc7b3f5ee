#include "avifile/decoder/picture_converter.h"

#include <climits>
#include <cstring>
#include <vector>

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

    if (!converter->context || converter->sourceWidth != picture.width ||
        converter->sourceHeight != picture.height || converter->sourceFormat != picture.format ||
        converter->width != width || converter->height != height) {
        sws_freeContext(converter->context);
        converter->sourceFormat = -1;
        converter->context =
            sws_getContext(picture.width, picture.height, format, width, height, AV_PIX_FMT_BGR24,
                           SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!converter->context) return 0;
        converter->sourceWidth = picture.width;
        converter->sourceHeight = picture.height;
        converter->sourceFormat = picture.format;
        converter->width = width;
        converter->height = height;
        converter->colorSpace = converter->colorRange = -1;
    }

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
    converter->sourceFormat = -1;
    av_freep(&converter->staging);
    converter->stagingSize = 0;
    converter->colorSpace = converter->colorRange = -1;
}

namespace {

// The layouts whose conversion at their own size libswscale does pixel by pixel. 8-bit 4:2:0
// and 4:2:2 of an even height take its direct converter: chroma from the sample above and left,
// 16-bit fixed point. 8-bit 4:4:4 takes its scaler with one tap on each axis and 32-bit fixed
// point. Other layouts, and 4:2:0 of an odd height, go through its filtering scaler, which
// blends neighbouring chroma samples.
struct Layout {
    int chromaShiftX = 1;
    int chromaShiftY = 1;
    bool fullRange = false;
    bool fullChroma = false;
};
bool PixelByPixel(int format, int height, Layout* layout) {
    const bool even = height % 2 == 0;
    switch (format) {
        case AV_PIX_FMT_YUV420P: *layout = {1, 1, false, false}; return even;
        case AV_PIX_FMT_YUVJ420P: *layout = {1, 1, true, false}; return even;
        case AV_PIX_FMT_YUV422P: *layout = {1, 0, false, false}; return even;
        case AV_PIX_FMT_YUVJ422P: *layout = {1, 0, true, false}; return even;
        case AV_PIX_FMT_YUV444P: *layout = {0, 0, false, true}; return true;
        case AV_PIX_FMT_YUVJ444P: *layout = {0, 0, true, true}; return true;
        default: return false;
    }
}

int16_t RoundToInt16(int64_t f) {
    const int64_t r = (f + (1 << 15)) >> 16;
    return static_cast<int16_t>(r < -0x7FFF ? -0x8000 : r > 0x7FFF ? 0x7FFF : r);
}

// The coefficients libswscale derives from a colour space's table and the range, with neutral
// brightness, contrast and saturation, for either of its two forms.
YuvToBgr CoefficientsOf(int colorSpace, bool fullRange, bool fullChroma) {
    const int* table = CoefficientsFor(colorSpace);
    int64_t crv = table[0], cbu = table[1], cgu = -table[2], cgv = -table[3];
    int64_t cy = 1 << 16, oy = 0;
    if (!fullRange) {
        cy = cy * 255 / 219;
        oy = 16 << 16;
    } else {
        crv = crv * 224 / 255;
        cbu = cbu * 224 / 255;
        cgu = cgu * 224 / 255;
        cgv = cgv * 224 / 255;
    }
    YuvToBgr k;
    k.fullChroma = fullChroma;
    k.yOffset = RoundToInt16(oy * (fullChroma ? 512 : 8));
    k.yCoeff = RoundToInt16(cy * 8192);
    k.ubCoeff = RoundToInt16(cbu * 8192);
    k.ugCoeff = RoundToInt16(cgu * 8192);
    k.vgCoeff = RoundToInt16(cgv * 8192);
    k.vrCoeff = RoundToInt16(crv * 8192);
    return k;
}

// Converts a test pattern both ways: every luma value against many chroma pairs, extremes
// included, at a width that is not a whole number of vector groups.
bool SameAsConverter(const Picture& like, const Layout& layout, const YuvToBgr& k) {
    constexpr int width = 262, height = 16;
    const int chromaWidth = layout.chromaShiftX ? (width + 1) / 2 : width;
    const int chromaHeight = layout.chromaShiftY ? height / 2 : height;
    std::vector<uint8_t> y(static_cast<size_t>(width) * height);
    std::vector<uint8_t> u(static_cast<size_t>(chromaWidth) * chromaHeight);
    std::vector<uint8_t> v(u.size());
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) y[static_cast<size_t>(r) * width + x] = (x + 37 * r) & 255;
    for (int r = 0; r < chromaHeight; ++r) {
        for (int x = 0; x < chromaWidth; ++x) {
            const size_t at = static_cast<size_t>(r) * chromaWidth + x;
            u[at] = static_cast<uint8_t>(r % 4 == 0 ? (x % 2 ? 255 : 0) : (x * 7 + r * 29) & 255);
            v[at] = static_cast<uint8_t>(r % 4 == 1 ? (x % 2 ? 0 : 255) : (x * 13 + r * 53) & 255);
        }
    }
    Picture picture = like;
    picture.planes[0] = y.data();
    picture.planes[1] = u.data();
    picture.planes[2] = v.data();
    picture.planes[3] = nullptr;
    picture.strides[0] = width;
    picture.strides[1] = picture.strides[2] = chromaWidth;
    picture.strides[3] = 0;
    picture.width = width;
    picture.height = height;
    const size_t rowBytes = 3 * static_cast<size_t>(width);
    std::vector<uint8_t> expected(rowBytes * height);
    PictureConverter converter;
    const int converted = ConvertPicture(&converter, picture, expected.data(),
                                         static_cast<ptrdiff_t>(rowBytes), width, height);
    ReleasePictureConverter(&converter);
    if (!converted) return false;
    uint8_t bgr[3];
    for (int r = 0; r < height; ++r) {
        const int cr = r >> layout.chromaShiftY;
        for (int x = 0; x < width; ++x) {
            const size_t c = static_cast<size_t>(cr) * chromaWidth + (x >> layout.chromaShiftX);
            YuvToBgrPixel(k, y[static_cast<size_t>(r) * width + x] << 3, u[c] << 3, v[c] << 3, bgr);
            if (std::memcmp(bgr, &expected[r * rowBytes + 3 * static_cast<size_t>(x)], 3) != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

bool PlanarPicture(const Picture& picture, PlanarCheck* cache, YuvPicture* planes) {
    Layout layout;
    if (!cache || !planes || picture.width <= 0 || picture.height <= 0 ||
        !PixelByPixel(picture.format, picture.height, &layout))
        return false;
    // ConvertPicture takes the range from the picture when it names one, else from the format.
    if (picture.colorRange != AVCOL_RANGE_UNSPECIFIED)
        layout.fullRange = picture.colorRange == AVCOL_RANGE_JPEG;
    if (cache->format != picture.format || cache->colorSpace != picture.colorSpace ||
        cache->colorRange != picture.colorRange) {
        cache->format = -1;
        cache->toBgr = CoefficientsOf(picture.colorSpace, layout.fullRange, layout.fullChroma);
        cache->usable = SameAsConverter(picture, layout, cache->toBgr);
        cache->format = picture.format;
        cache->colorSpace = picture.colorSpace;
        cache->colorRange = picture.colorRange;
    }
    if (!cache->usable) return false;
    for (int i = 0; i < 3; ++i) {
        planes->planes[i] = picture.planes[i];
        planes->strides[i] = picture.strides[i];
    }
    planes->width = picture.width;
    planes->height = picture.height;
    planes->chromaShiftX = layout.chromaShiftX;
    planes->chromaShiftY = layout.chromaShiftY;
    planes->toBgr = cache->toBgr;
    return true;
}
