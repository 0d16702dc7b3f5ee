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

int ConvertFields(PictureConverter* converter, const Picture& picture, uint8_t* topRow,
                  ptrdiff_t rowStep, int width, int height) {
    if (picture.height % 4 != 0 || height % 4 != 0)
        return ConvertPicture(converter, picture, topRow, rowStep, width, height);
    for (int field = 0; field < 2; ++field) {
        Picture lines = picture;
        for (int plane = 0; plane < 4; ++plane) {
            if (picture.planes[plane] == nullptr) continue;
            lines.planes[plane] = picture.planes[plane] + field * picture.strides[plane];
            lines.strides[plane] = picture.strides[plane] * 2;
        }
        lines.height = picture.height / 2;
        if (ConvertPicture(converter, lines, topRow + field * rowStep, rowStep * 2, width,
                           height / 2) == 0)
            return 0;
    }
    return 1;
}

int ConvertLastRows(PictureConverter* converter, const Picture& picture, uint8_t* rows) {
    if (picture.height < 2) return 0;
    Picture last = picture;
    for (int i = 0; i < 4; ++i)
        if (last.planes[i])
            last.planes[i] += static_cast<ptrdiff_t>(picture.height - 2) * last.strides[i];
    last.height = 2;
    return ConvertPicture(converter, last, rows, 3 * static_cast<ptrdiff_t>(picture.width),
                          picture.width, 2);
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
// 16-bit fixed point. Packed 4:2:2, and planar 4:2:2 of an odd height, take its scaler with one
// tap on each axis, which ends in the same 16-bit arithmetic except on the last two rows (there
// it uses its plain table-driven code), as long as the width is even: an odd width makes it
// interpolate chroma along the row. 8-bit 4:4:4 takes the scaler with a chroma sample per pixel,
// in 32-bit fixed point. Other layouts, and 4:2:0 of an odd height, go through filters that
// blend neighbouring chroma samples. The check against the converter has the last word.
struct Layout {
    int chromaShiftX = 1;
    int chromaShiftY = 1;
    bool fullRange = false;
    bool fullChroma = false;
    // Packed 4:2:2: byte offsets of Y, U, V in each 4-byte pair of pixels; -1 for planar.
    int packed[3] = {-1, -1, -1};
};
bool PixelByPixel(int format, int width, int height, Layout* layout) {
    const bool evenWidth = width % 2 == 0, evenHeight = height % 2 == 0;
    switch (format) {
        case AV_PIX_FMT_YUV420P:
            *layout = {1, 1, false, false};
            return evenHeight;
        case AV_PIX_FMT_YUVJ420P:
            *layout = {1, 1, true, false};
            return evenHeight;
        case AV_PIX_FMT_YUV422P:
            *layout = {1, 0, false, false};
            return evenHeight || evenWidth;
        case AV_PIX_FMT_YUVJ422P:
            *layout = {1, 0, true, false};
            return evenHeight || evenWidth;
        case AV_PIX_FMT_YUV444P:
            *layout = {0, 0, false, true};
            return true;
        case AV_PIX_FMT_YUVJ444P:
            *layout = {0, 0, true, true};
            return true;
        case AV_PIX_FMT_YUYV422:
            *layout = {1, 0, false, false, {0, 1, 3}};
            return evenWidth;
        case AV_PIX_FMT_UYVY422:
            *layout = {1, 0, false, false, {1, 0, 2}};
            return evenWidth;
        default:
            return false;
    }
}

// The picture's planes as YuvPicture sees them: packed layouts are one row of bytes.
void PlanesOf(const Picture& picture, const Layout& layout, YuvPicture* planes) {
    for (int i = 0; i < 3; ++i) {
        if (layout.packed[0] < 0) {
            planes->planes[i] = picture.planes[i];
            planes->strides[i] = picture.strides[i];
            planes->steps[i] = 1;
        } else {
            planes->planes[i] = picture.planes[0] + layout.packed[i];
            planes->strides[i] = picture.strides[0];
            planes->steps[i] = i == 0 ? 2 : 4;
        }
    }
    planes->width = picture.width;
    planes->height = picture.height;
    planes->chromaShiftX = layout.chromaShiftX;
    planes->chromaShiftY = layout.chromaShiftY;
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

// Whether `k` gives ConvertPicture's bytes on a test pattern: every luma value against many
// chroma pairs, extremes included, at a width that is not a whole number of vector groups and
// with the parity of the picture's own sizes, which decides the converter's path. All rows must
// match, or (`tail`) all but the last two, which must then be what converting those two rows on
// their own gives.
enum class Match { kNone, kWhole, kAllButTail };
Match SameAsConverter(const Picture& like, const Layout& layout, const YuvToBgr& k) {
    const int width = 262 + (like.width & 1), height = 16 + (like.height & 1);
    const int chromaWidth = (width + (1 << layout.chromaShiftX) - 1) >> layout.chromaShiftX;
    const int chromaHeight = (height + (1 << layout.chromaShiftY) - 1) >> layout.chromaShiftY;
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
    std::vector<uint8_t> packed;
    if (layout.packed[0] >= 0) {
        // The width is even here: each 4 bytes hold two pixels and their chroma pair.
        packed.resize(static_cast<size_t>(width) * 2 * height);
        for (int r = 0; r < height; ++r) {
            for (int x = 0; x < width; x += 2) {
                uint8_t* at = packed.data() + (static_cast<size_t>(r) * width + x) * 2;
                const size_t c = static_cast<size_t>(r) * chromaWidth + x / 2;
                at[layout.packed[0]] = y[static_cast<size_t>(r) * width + x];
                at[layout.packed[0] + 2] = y[static_cast<size_t>(r) * width + x + 1];
                at[layout.packed[1]] = u[c];
                at[layout.packed[2]] = v[c];
            }
        }
        picture.planes[0] = packed.data();
        picture.planes[1] = picture.planes[2] = nullptr;
        picture.strides[0] = 2 * width;
        picture.strides[1] = picture.strides[2] = 0;
    } else {
        picture.planes[0] = y.data();
        picture.planes[1] = u.data();
        picture.planes[2] = v.data();
        picture.strides[0] = width;
        picture.strides[1] = picture.strides[2] = chromaWidth;
    }
    picture.planes[3] = nullptr;
    picture.strides[3] = 0;
    picture.width = width;
    picture.height = height;
    const size_t rowBytes = 3 * static_cast<size_t>(width);
    std::vector<uint8_t> expected(rowBytes * height);
    PictureConverter converter;
    const int converted = ConvertPicture(&converter, picture, expected.data(),
                                         static_cast<ptrdiff_t>(rowBytes), width, height);
    if (!converted) {
        ReleasePictureConverter(&converter);
        return Match::kNone;
    }
    int firstMismatch = height;
    uint8_t bgr[3];
    for (int r = 0; r < height && firstMismatch == height; ++r) {
        const int cr = r >> layout.chromaShiftY;
        for (int x = 0; x < width; ++x) {
            const size_t c = static_cast<size_t>(cr) * chromaWidth + (x >> layout.chromaShiftX);
            YuvToBgrPixel(k, y[static_cast<size_t>(r) * width + x] << 3, u[c] << 3, v[c] << 3, bgr);
            if (std::memcmp(bgr, &expected[r * rowBytes + 3 * static_cast<size_t>(x)], 3) != 0) {
                firstMismatch = r;
                break;
            }
        }
    }
    Match match = firstMismatch == height ? Match::kWhole : Match::kNone;
    if (firstMismatch >= height - 2 && firstMismatch < height && layout.chromaShiftY == 0) {
        std::vector<uint8_t> tail(rowBytes * 2);
        PictureConverter tailConverter;
        if (ConvertLastRows(&tailConverter, picture, tail.data()) &&
            std::memcmp(tail.data(), &expected[(height - 2) * rowBytes], tail.size()) == 0)
            match = Match::kAllButTail;
        ReleasePictureConverter(&tailConverter);
    }
    ReleasePictureConverter(&converter);
    return match;
}

}  // namespace

bool PlanarPicture(const Picture& picture, PlanarCheck* cache, YuvPicture* planes,
                   bool* needsTail) {
    Layout layout;
    if (!cache || !planes || !needsTail || picture.width <= 0 || picture.height <= 0 ||
        !PixelByPixel(picture.format, picture.width, picture.height, &layout))
        return false;
    // ConvertPicture takes the range from the picture when it names one, else from the format.
    if (picture.colorRange != AVCOL_RANGE_UNSPECIFIED)
        layout.fullRange = picture.colorRange == AVCOL_RANGE_JPEG;
    const int parity = (picture.width & 1) | (picture.height & 1) << 1;
    if (cache->format != picture.format || cache->colorSpace != picture.colorSpace ||
        cache->colorRange != picture.colorRange || cache->parity != parity) {
        cache->format = -1;
        cache->toBgr = CoefficientsOf(picture.colorSpace, layout.fullRange, layout.fullChroma);
        const Match match = SameAsConverter(picture, layout, cache->toBgr);
        cache->usable = match != Match::kNone;
        cache->tail = match == Match::kAllButTail;
        cache->format = picture.format;
        cache->colorSpace = picture.colorSpace;
        cache->colorRange = picture.colorRange;
        cache->parity = parity;
    }
    // A picture of fewer than three rows would be all tail: its rows are as good converted.
    if (!cache->usable || (cache->tail && picture.height < 3)) return false;
    PlanesOf(picture, layout, planes);
    planes->toBgr = cache->toBgr;
    *needsTail = cache->tail;
    return true;
}
