// Tests of the picture scaler: the vector row kernels held to the plain ones, keeping whole
// pixels giving exactly what converting the whole picture and then scaling its rows gives, and
// averaging staying within rounding of that.
#include "avi/picture_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "avi/frame_scaler.h"
#include "avi/plane_rows.h"
#include "avi/stream_converter.h"

namespace {

// BT.601 limited range, as libswscale derives it (the decoder's tests check the derivation).
YuvToBgr Bt601() {
    YuvToBgr k;
    k.yOffset = 128;
    k.yCoeff = 9539;
    k.ubCoeff = 16525;
    k.ugCoeff = -3209;
    k.vgCoeff = -6660;
    k.vrCoeff = 13074;
    return k;
}

// The same in the 32-bit form, which pictures with full chroma take.
YuvToBgr Bt601FullChroma() {
    YuvToBgr k = Bt601();
    k.fullChroma = true;
    k.yOffset = 8192;
    return k;
}

// The converter's own frame headers: 24-bit bottom-up rows padded to 4 bytes.
BITMAPINFOHEADER Header(int32_t width, int32_t height) {
    return FrameHeaderFor(RECT{0, 0, width, height}, true);
}

int32_t Stride(int32_t width) {
    return static_cast<int32_t>(Header(width, 1).biSizeImage);
}

// Planes of random samples, or of a smooth pattern whose colours stay inside what BGR holds
// (then no conversion clips, and averaging before or after converting differ by rounding only).
struct Planes {
    int32_t width, height, shiftX, shiftY, chromaWidth, chromaHeight;
    std::vector<uint8_t> y, u, v;

    Planes(int32_t w, int32_t h, int sx, int sy, uint32_t seed, bool smooth)
        : width(w),
          height(h),
          shiftX(sx),
          shiftY(sy),
          chromaWidth((w + (1 << sx) - 1) >> sx),
          chromaHeight((h + (1 << sy) - 1) >> sy),
          y(static_cast<size_t>(w) * h),
          u(static_cast<size_t>(chromaWidth) * chromaHeight),
          v(u.size()) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int32_t r = 0; r < h; ++r)
            for (int32_t x = 0; x < w; ++x)
                y[static_cast<size_t>(r) * w + x] = static_cast<uint8_t>(
                    smooth ? 100 + 40 * std::sin(x * 0.21 + r * 0.13) + byte(random) % 9
                           : byte(random));
        for (size_t i = 0; i < u.size(); ++i) {
            const double at = static_cast<double>(i % static_cast<size_t>(chromaWidth));
            u[i] = static_cast<uint8_t>(smooth ? 128 + 20 * std::sin(at * 0.3) : byte(random));
            v[i] = static_cast<uint8_t>(smooth ? 128 + 20 * std::cos(at * 0.17) : byte(random));
        }
    }
    // Full chroma takes the 32-bit form of the conversion, as the decoder gives it.
    YuvToBgr Conversion() const { return shiftX == 0 && shiftY == 0 ? Bt601FullChroma() : Bt601(); }
    YuvPicture Picture() const {
        YuvPicture p;
        p.planes[0] = y.data();
        p.planes[1] = u.data();
        p.planes[2] = v.data();
        p.strides[0] = width;
        p.strides[1] = p.strides[2] = chromaWidth;
        p.width = width;
        p.height = height;
        p.chromaShiftX = shiftX;
        p.chromaShiftY = shiftY;
        p.toBgr = Conversion();
        return p;
    }
    // The whole picture converted pixel by pixel, as a bottom-up 24-bit frame.
    std::vector<uint8_t> Converted() const {
        std::vector<uint8_t> bgr(static_cast<size_t>(Stride(width)) * height, 0);
        for (int32_t r = 0; r < height; ++r) {
            const int32_t stored = height - 1 - r;
            for (int32_t x = 0; x < width; ++x) {
                const size_t c = static_cast<size_t>(r >> shiftY) * chromaWidth + (x >> shiftX);
                YuvToBgrPixel(Conversion(), y[static_cast<size_t>(r) * width + x] << 3, u[c] << 3,
                              v[c] << 3, &bgr[static_cast<size_t>(stored) * Stride(width) + 3 * x]);
            }
        }
        return bgr;
    }
};

// Today's order: convert the whole picture, then scale its rows.
std::vector<uint8_t> ConvertThenScale(const Planes& p, int32_t w, int32_t h, bool average) {
    const std::vector<uint8_t> rows = p.Converted();
    const BITMAPINFOHEADER from = Header(p.width, p.height), to = Header(w, h);
    std::vector<uint8_t> out(to.biSizeImage, 0xEE);
    ScaleFrame(rows.data(), out.data(), &from, &to, average ? 1 : 0);
    return out;
}

std::vector<uint8_t> ScaleThenConvert(const Planes& p, int32_t w, int32_t h, bool average) {
    std::vector<uint8_t> out(static_cast<size_t>(Stride(w)) * h, 0xEE);
    EXPECT_TRUE(ScalePictureRows(p.Picture(), out.data(), w, h, Stride(w), average, 0, h));
    return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double squares = 0;
    for (size_t i = 0; i < a.size(); ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
    return squares == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 * a.size() / squares);
}

struct Shape {
    int32_t sw, sh, dw, dh;
};
const Shape kShapes[] = {
    {1, 1, 1, 1},         {1, 1, 5, 3},      {7, 5, 1, 1},      {2, 2, 3, 3},
    {33, 17, 33, 17},     {64, 48, 32, 24},  {66, 46, 44, 30},  {65, 33, 97, 51},
    {41, 29, 19, 61},     {128, 72, 85, 47}, {96, 64, 200, 10}, {50, 40, 333, 187},
    {322, 242, 333, 187}, {200, 100, 7, 3},
};

class PictureScalerKernels : public testing::TestWithParam<int> {
  protected:
    void SetUp() override { SetScaleKernels(GetParam()); }
    void TearDown() override { SetScaleKernels(SCALE_KERNELS_BEST); }
};

// Keeping whole pixels, scaling the planes first must change no byte of the result, at every
// chroma layout and shape, with the kernels of every level.
TEST_P(PictureScalerKernels, NearestIsConvertingThenScalingExactly) {
    for (const Shape& s : kShapes) {
        for (const auto& [sx, sy] : {std::pair{1, 1}, std::pair{1, 0}, std::pair{0, 0}}) {
            const Planes p(s.sw, s.sh, sx, sy, static_cast<uint32_t>(s.sw * 31 + s.dh), false);
            const std::string what = std::to_string(s.sw) + "x" + std::to_string(s.sh) + " -> " +
                                     std::to_string(s.dw) + "x" + std::to_string(s.dh) +
                                     " chroma shift " + std::to_string(sx) + std::to_string(sy);
            EXPECT_TRUE(ScaleThenConvert(p, s.dw, s.dh, false) ==
                        ConvertThenScale(p, s.dw, s.dh, false))
                << what;
        }
    }
}

// Averaging: on colours that don't clip, converting after scaling differs by rounding only.
TEST_P(PictureScalerKernels, AveragingMatchesConvertingThenScalingWithinRounding) {
    for (const Shape& s : kShapes) {
        for (const auto& [sx, sy] : {std::pair{1, 1}, std::pair{1, 0}, std::pair{0, 0}}) {
            const Planes p(s.sw, s.sh, sx, sy, 5, true);
            const std::vector<uint8_t> ours = ScaleThenConvert(p, s.dw, s.dh, true);
            const std::vector<uint8_t> theirs = ConvertThenScale(p, s.dw, s.dh, true);
            int worst = 0;
            for (size_t i = 0; i < ours.size(); ++i)
                worst = std::max(worst, std::abs(ours[i] - theirs[i]));
            const std::string what = std::to_string(s.sw) + "x" + std::to_string(s.sh) + " -> " +
                                     std::to_string(s.dw) + "x" + std::to_string(s.dh) +
                                     " chroma shift " + std::to_string(sx) + std::to_string(sy);
            EXPECT_LE(worst, 3) << what;
            EXPECT_GE(Psnr(ours, theirs), 50.0) << what;
        }
    }
}

// The vector kernels give the plain kernels' values exactly, on random samples that clip, at
// every shape (1x1, odd widths, widths short of one vector, shrinking and enlarging).
TEST(PictureScaler, VectorKernelsGiveThePlainKernelsBytes) {
    for (const Shape& s : kShapes) {
        for (const auto& [sx, sy] : {std::pair{1, 1}, std::pair{1, 0}, std::pair{0, 0}}) {
            const Planes p(s.sw, s.sh, sx, sy, static_cast<uint32_t>(s.dw * 7 + s.sh), false);
            SetScaleKernels(SCALE_KERNELS_PORTABLE);
            const std::vector<uint8_t> plain = ScaleThenConvert(p, s.dw, s.dh, true);
            SetScaleKernels(SCALE_KERNELS_BEST);
            EXPECT_TRUE(ScaleThenConvert(p, s.dw, s.dh, true) == plain)
                << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh;
        }
    }
}

// Packed 4:2:2 (YUY2 and UYVY), read through steps, gives what the same samples in planes give.
TEST(PictureScaler, PackedPlanesGiveThePlanarResults) {
    for (const Shape& s : kShapes) {
        if (s.sw % 2 != 0) continue;  // packed 4:2:2 holds pixels in pairs
        const Planes p(s.sw, s.sh, 1, 0, static_cast<uint32_t>(s.sw + s.dw), false);
        for (const auto& order : {std::array<int, 3>{0, 1, 3}, std::array<int, 3>{1, 0, 2}}) {
            std::vector<uint8_t> packed(static_cast<size_t>(s.sw) * 2 * s.sh);
            for (int32_t r = 0; r < s.sh; ++r) {
                for (int32_t x = 0; x < s.sw; x += 2) {
                    uint8_t* at = packed.data() + (static_cast<size_t>(r) * s.sw + x) * 2;
                    const size_t c = static_cast<size_t>(r) * p.chromaWidth + x / 2;
                    at[order[0]] = p.y[static_cast<size_t>(r) * s.sw + x];
                    at[order[0] + 2] = p.y[static_cast<size_t>(r) * s.sw + x + 1];
                    at[order[1]] = p.u[c];
                    at[order[2]] = p.v[c];
                }
            }
            YuvPicture picture = p.Picture();
            for (int i = 0; i < 3; ++i) {
                picture.planes[i] = packed.data() + order[i];
                picture.strides[i] = 2 * s.sw;
                picture.steps[i] = i == 0 ? 2 : 4;
            }
            for (const bool average : {false, true}) {
                std::vector<uint8_t> out(static_cast<size_t>(Stride(s.dw)) * s.dh, 0xEE);
                ASSERT_TRUE(ScalePictureRows(picture, out.data(), s.dw, s.dh, Stride(s.dw), average,
                                             0, s.dh));
                EXPECT_TRUE(out == ScaleThenConvert(p, s.dw, s.dh, average))
                    << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh << " order " << order[0]
                    << (average ? " averaging" : " nearest");
            }
        }
    }
}

// Keeping whole pixels, source rows from tailFirst on come from the converted rows handed over
// with the planes, picked column by column; the rows above are converted as usual.
TEST(PictureScaler, NearestTakesTheLastRowsAsHandedOver) {
    const Planes p(40, 30, 1, 0, 9, false);
    std::vector<uint8_t> tail(2 * 3 * 40);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<uint8_t>(i * 7 + 1);
    YuvPicture picture = p.Picture();
    picture.tail = tail.data();
    picture.tailFirst = 28;
    const std::vector<uint8_t> plain = ScaleThenConvert(p, 23, 61, false);
    std::vector<uint8_t> out(static_cast<size_t>(Stride(23)) * 61, 0xEE);
    ASSERT_TRUE(ScalePictureRows(picture, out.data(), 23, 61, Stride(23), false, 0, 61));
    int tailRows = 0;
    for (int32_t d = 0; d < 61; ++d) {
        const int32_t source = static_cast<int32_t>((2 * d + 1) * 30 / (2 * 61));
        const size_t row = static_cast<size_t>(60 - d) * Stride(23);
        for (int32_t x = 0; x < 23; ++x) {
            const int32_t column = static_cast<int32_t>((2 * x + 1) * 40 / (2 * 23));
            const uint8_t* expected =
                source >= 28 ? &tail[static_cast<size_t>(source - 28) * 120 + 3 * column]
                             : &plain[row + 3 * x];
            ASSERT_TRUE(std::equal(expected, expected + 3, &out[row + 3 * x]))
                << "row " << d << " column " << x;
        }
        tailRows += source >= 28;
    }
    EXPECT_EQ(tailRows, 4);
}

// Bands made apart, as threads make them, give the whole frame's rows; each row's padding is
// cleared, and sizes that can't be served leave the output alone.
TEST(PictureScaler, BandsPaddingAndRefusals) {
    const Planes p(101, 57, 1, 1, 3, false);
    for (const bool average : {false, true}) {
        const std::vector<uint8_t> whole = ScaleThenConvert(p, 37, 23, average);
        std::vector<uint8_t> banded(whole.size(), 0xEE);
        for (int32_t first = 0; first < 23; first += 5)
            ASSERT_TRUE(ScalePictureRows(p.Picture(), banded.data(), 37, 23, Stride(37), average,
                                         first, first + 5));
        EXPECT_TRUE(banded == whole);
        for (int32_t row = 0; row < 23; ++row)
            EXPECT_EQ(whole[static_cast<size_t>(row) * Stride(37) + 111], 0) << row;
    }
    std::vector<uint8_t> out(64, 0xEE);
    EXPECT_FALSE(ScalePictureRows(p.Picture(), out.data(), 0, 3, 12, true, 0, 3));
    EXPECT_FALSE(ScalePictureRows(p.Picture(), out.data(), 5, 3, 12, true, 0, 3));  // stride < row
    YuvPicture empty = p.Picture();
    empty.width = 0;
    EXPECT_FALSE(ScalePictureRows(empty, out.data(), 4, 3, 12, true, 0, 3));
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
}

INSTANTIATE_TEST_SUITE_P(Levels, PictureScalerKernels,
                         testing::Values(SCALE_KERNELS_PORTABLE, SCALE_KERNELS_BEST));

}  // namespace
