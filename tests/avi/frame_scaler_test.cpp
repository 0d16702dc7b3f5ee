// Tests of ScaleFrame: hand-worked results of each filter, the optimised kernels held to the
// reference on random frames of many shapes, row padding, and frames that can't be served.
#include "avi/frame_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

int32_t Stride(int32_t width) {
    return (3 * width + 3) / 4 * 4;
}

BITMAPINFOHEADER Header(int32_t width, int32_t height) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<uint32_t>(Stride(width) * height);
    return h;
}

// A frame in DIB layout; the buffer is exactly as large as the rows, so ASan sees overreads.
struct Frame {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bytes;

    Frame(int32_t w, int32_t h) : width(w), height(h), bytes(static_cast<size_t>(Stride(w)) * h) {}
    uint8_t& At(int32_t x, int32_t storedRow, int channel) {
        return bytes[static_cast<size_t>(storedRow) * Stride(width) + 3 * x + channel];
    }
    void SetPixel(int32_t x, int32_t storedRow, uint8_t b, uint8_t g, uint8_t r) {
        At(x, storedRow, 0) = b;
        At(x, storedRow, 1) = g;
        At(x, storedRow, 2) = r;
    }
};

Frame RandomFrame(int32_t w, int32_t h, uint32_t seed) {
    Frame f(w, h);
    std::mt19937 random(seed);
    for (auto& b : f.bytes) b = static_cast<uint8_t>(random());
    return f;
}

// Restores the kernel choice after each test that forces one.
class ScaleKernelsGuard {
  public:
    ScaleKernelsGuard() : saved_(GetScaleKernels()) {}
    ~ScaleKernelsGuard() { SetScaleKernels(saved_); }

  private:
    int saved_;
};

// Output rows plus a tail that must never be written.
constexpr size_t kTail = 64;
constexpr uint8_t kUntouched = 0xA5;

std::vector<uint8_t> Scale(const Frame& source, int32_t width, int32_t height, int32_t antiAlias,
                           uint8_t fill = kUntouched) {
    const BITMAPINFOHEADER in = Header(source.width, source.height);
    const BITMAPINFOHEADER out = Header(width, height);
    std::vector<uint8_t> output(out.biSizeImage + kTail, fill);
    EXPECT_EQ(ScaleFrame(source.bytes.data(), output.data(), &in, &out, antiAlias), 0);
    return output;
}

uint8_t Value(const std::vector<uint8_t>& image, int32_t width, int32_t x, int32_t storedRow,
              int channel) {
    return image[static_cast<size_t>(storedRow) * Stride(width) + 3 * x + channel];
}

std::vector<int> OptimisedLevels() {
    ScaleKernelsGuard guard;
    std::vector<int> levels;
    for (int level : {SCALE_KERNELS_PORTABLE, SCALE_KERNELS_SSE2, SCALE_KERNELS_AVX2}) {
        if (SetScaleKernels(level) == level) levels.push_back(level);
    }
    return levels;
}

// ---- Hand-worked results ----

TEST(ScaleFrameAverage, HalvingTakesTheRoundedMeanOfEachBlock) {
    ScaleKernelsGuard guard;
    Frame source(4, 2);
    // Left block: blue 10+11+12+13 = 46 -> 11.5 -> 12; green 0+0+0+1 -> 0.25 -> 0;
    // red 255 * 4 -> 255. Right block: blue 1+2+3+4 = 10 -> 2.5 -> 3, green 7 -> 1.75 -> 2,
    // red 0+0+0+2 -> 0.5 -> 1.
    source.SetPixel(0, 0, 10, 0, 255);
    source.SetPixel(1, 0, 11, 0, 255);
    source.SetPixel(0, 1, 12, 0, 255);
    source.SetPixel(1, 1, 13, 1, 255);
    source.SetPixel(2, 0, 1, 1, 0);
    source.SetPixel(3, 0, 2, 2, 0);
    source.SetPixel(2, 1, 3, 2, 0);
    source.SetPixel(3, 1, 4, 2, 2);
    for (int level : {SCALE_KERNELS_REFERENCE, SCALE_KERNELS_PORTABLE, SCALE_KERNELS_BEST}) {
        SetScaleKernels(level);
        const auto out = Scale(source, 2, 1, 8);
        SCOPED_TRACE(level);
        EXPECT_EQ(Value(out, 2, 0, 0, 0), 12);
        EXPECT_EQ(Value(out, 2, 0, 0, 1), 0);
        EXPECT_EQ(Value(out, 2, 0, 0, 2), 255);
        EXPECT_EQ(Value(out, 2, 1, 0, 0), 3);
        EXPECT_EQ(Value(out, 2, 1, 0, 1), 2);
        EXPECT_EQ(Value(out, 2, 1, 0, 2), 1);
    }
}

TEST(ScaleFrameAverage, ThreeToTwoWeighsTheSharedPixelByHalves) {
    Frame source(3, 1);
    source.SetPixel(0, 0, 0, 90, 30);
    source.SetPixel(1, 0, 30, 90, 60);
    source.SetPixel(2, 0, 60, 0, 200);
    const auto out = Scale(source, 2, 1, 8);
    // Pixel 0 covers source [0, 1.5): (2 * p0 + p1) / 3; pixel 1: (p1 + 2 * p2) / 3.
    EXPECT_EQ(Value(out, 2, 0, 0, 0), 10);
    EXPECT_EQ(Value(out, 2, 0, 0, 1), 90);
    EXPECT_EQ(Value(out, 2, 0, 0, 2), 40);
    EXPECT_EQ(Value(out, 2, 1, 0, 0), 50);
    EXPECT_EQ(Value(out, 2, 1, 0, 1), 30);
    EXPECT_EQ(Value(out, 2, 1, 0, 2), 153);  // 460 / 3 = 153.33
}

TEST(ScaleFrameAverage, DoublingInterpolatesBetweenPixelCentres) {
    Frame source(2, 1);
    source.SetPixel(0, 0, 0, 0, 100);
    source.SetPixel(1, 0, 200, 202, 100);
    const auto out = Scale(source, 4, 1, 8);
    // Samples at -0.25 (edge), 0.25, 0.75, 1.25 (edge).
    const uint8_t blue[] = {0, 50, 150, 200};
    const uint8_t green[] = {0, 51, 152, 202};  // 50.5 and 151.5 round up
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(Value(out, 4, x, 0, 0), blue[x]) << x;
        EXPECT_EQ(Value(out, 4, x, 0, 1), green[x]) << x;
        EXPECT_EQ(Value(out, 4, x, 0, 2), 100) << x;
    }
}

TEST(ScaleFrameAverage, ChoosesTheFilterForEachAxisOnItsOwn) {
    // Width halves (area), height doubles (bilinear): each output row interpolates the two
    // column means. Means: bottom row (10 + 30) / 2 = 20, top row (100 + 140) / 2 = 120.
    Frame source(2, 2);
    source.SetPixel(0, 0, 10, 10, 10);
    source.SetPixel(1, 0, 30, 30, 30);
    source.SetPixel(0, 1, 100, 100, 100);
    source.SetPixel(1, 1, 140, 140, 140);
    const auto out = Scale(source, 1, 4, 1);
    const uint8_t expected[] = {20, 45, 95, 120};
    for (int y = 0; y < 4; ++y) EXPECT_EQ(Value(out, 1, 0, y, 1), expected[y]) << y;
}

TEST(ScaleFrameAverage, AnyNonzeroChoiceAverages) {
    const Frame source = RandomFrame(7, 5, 3);
    const auto expected = Scale(source, 3, 9, 8);
    EXPECT_EQ(Scale(source, 3, 9, 1), expected);
    EXPECT_EQ(Scale(source, 3, 9, -1), expected);
    EXPECT_NE(Scale(source, 3, 9, 0), expected);
}

TEST(ScaleFrameNearest, KeepsThePixelUnderEachCentre) {
    Frame source(4, 1);
    for (int x = 0; x < 4; ++x) source.SetPixel(x, 0, uint8_t(x), uint8_t(10 + x), uint8_t(20 + x));
    const auto halved = Scale(source, 2, 1, 0);
    // Centres of the two halves fall at 1.0 and 3.0 of the source: pixels 1 and 3.
    EXPECT_EQ(Value(halved, 2, 0, 0, 0), 1);
    EXPECT_EQ(Value(halved, 2, 1, 0, 0), 3);
    EXPECT_EQ(Value(halved, 2, 1, 0, 2), 23);

    const auto doubled = Scale(source, 8, 1, 0);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(Value(doubled, 8, x, 0, 0), x / 2) << x;
        EXPECT_EQ(Value(doubled, 8, x, 0, 1), 10 + x / 2) << x;
    }
}

TEST(ScaleFrameNearest, PicksRowsCountingFromTheTopOfThePicture) {
    // Stored rows 0..3 are picture rows 3..0. Halving keeps picture rows 1 and 3 (from the
    // top), which are stored rows 2 and 0; stored order stays bottom first.
    Frame source(1, 4);
    for (int y = 0; y < 4; ++y) source.SetPixel(0, y, uint8_t(y), 0, 0);
    const auto out = Scale(source, 1, 2, 0);
    EXPECT_EQ(Value(out, 1, 0, 0, 0), 0);
    EXPECT_EQ(Value(out, 1, 0, 1, 0), 2);
}

// ---- Sizes unchanged, padding, untouched memory ----

TEST(ScaleFrame, EqualSizeCopiesThePixelsAndClearsThePadding) {
    for (int32_t width : {1, 2, 3, 4, 321}) {
        Frame source = RandomFrame(width, 3, width);
        for (int32_t antiAlias : {0, 8}) {
            const auto out = Scale(source, width, 3, antiAlias);
            for (int32_t y = 0; y < 3; ++y) {
                for (int32_t i = 0; i < Stride(width); ++i) {
                    const uint8_t expected =
                        i < 3 * width ? source.bytes[y * Stride(width) + i] : 0;
                    ASSERT_EQ(out[y * Stride(width) + i], expected)
                        << width << " " << y << " " << i;
                }
            }
        }
    }
}

TEST(ScaleFrame, WritesEveryPaddingByteAsZeroAndNothingPastTheImage) {
    const Frame source = RandomFrame(13, 11, 5);
    for (int32_t width : {1, 2, 3, 5, 321}) {
        for (int32_t antiAlias : {0, 8}) {
            const auto out = Scale(source, width, 7, antiAlias, 0xFF);
            const size_t image = static_cast<size_t>(Stride(width)) * 7;
            EXPECT_EQ(Stride(width) - 3 * width, static_cast<int>(width % 4));
            for (int32_t y = 0; y < 7; ++y) {
                for (int32_t i = 3 * width; i < Stride(width); ++i) {
                    EXPECT_EQ(out[y * Stride(width) + i], 0) << width << " " << y;
                }
            }
            for (size_t i = image; i < out.size(); ++i) ASSERT_EQ(out[i], 0xFF) << width;
        }
    }
}

TEST(ScaleFrame, Width321HasRowsOf964Bytes) {
    EXPECT_EQ(Header(321, 10).biSizeImage, 9640u);
    const Frame source = RandomFrame(100, 10, 9);
    const auto out = Scale(source, 321, 10, 8, 0xFF);
    for (int y = 0; y < 10; ++y) EXPECT_EQ(out[y * 964 + 963], 0);
    EXPECT_EQ(out[9640], 0xFF);
}

// ---- Optimised kernels against the reference ----

struct Shape {
    int32_t sw, sh, dw, dh;
};

std::string Describe(const Shape& s, int level, int32_t antiAlias) {
    return std::to_string(s.sw) + "x" + std::to_string(s.sh) + " -> " + std::to_string(s.dw) + "x" +
           std::to_string(s.dh) + " kernels " + std::to_string(level) + " antiAlias " +
           std::to_string(antiAlias);
}

// Halving, two-thirds shrinks and doubling, alone, mixed or with an axis kept, at widths that
// leave vector blocks incomplete, odd destination widths (row padding) and rows too short for
// any vector.
std::vector<Shape> ExactShapes() {
    std::vector<Shape> shapes;
    const int32_t widths[][2] = {{963, 642}, {642, 321}, {3, 2},     {2, 1}, {45, 30}, {86, 43},
                                 {50, 50},   {7, 7},     {321, 642}, {1, 2}, {9, 18},  {40, 80}};
    const int32_t heights[][2] = {{9, 6}, {8, 4}, {3, 2}, {2, 1}, {4, 4}, {5, 10}, {1, 2}};
    for (const auto& w : widths) {
        for (const auto& h : heights) shapes.push_back({w[0], h[0], w[1], h[1]});
    }
    return shapes;
}

std::vector<Shape> Shapes() {
    std::vector<Shape> shapes;
    // Each axis shrinks, enlarges or stays, for odd and even sizes.
    const int32_t widths[][2] = {{321, 160}, {160, 321}, {321, 321}, {3, 1},  {1, 3},
                                 {3, 3},     {1, 1},     {64, 48},   {19, 64}};
    const int32_t heights[][2] = {{9, 4}, {4, 9}, {5, 5}, {1, 3}, {3, 1}, {1, 1}};
    for (const auto& w : widths) {
        for (const auto& h : heights) shapes.push_back({w[0], h[0], w[1], h[1]});
    }
    shapes.push_back({1, 1, 37, 29});
    shapes.push_back({1920, 12, 1280, 8});  // the common 3:2 shrink
    shapes.push_back({640, 6, 320, 3});     // exact halving
    shapes.push_back({64, 5, 128, 10});     // exact doubling
    shapes.push_back({1919, 7, 1280, 5});   // 3 taps per pixel
    shapes.push_back({1000, 50, 7, 3});     // many taps: the wide filter
    shapes.push_back({5, 300, 3, 2});
    shapes.push_back({250, 3, 17, 3});  // 15-16 taps
    for (const Shape& s : ExactShapes()) shapes.push_back(s);
    return shapes;
}

TEST(ScaleFrameKernels, MatchTheReferenceOnRandomFrames) {
    ScaleKernelsGuard guard;
    uint32_t seed = 1;
    for (const Shape& s : Shapes()) {
        const Frame source = RandomFrame(s.sw, s.sh, seed++);
        for (int32_t antiAlias : {0, 8}) {
            SetScaleKernels(SCALE_KERNELS_REFERENCE);
            const auto expected = Scale(source, s.dw, s.dh, antiAlias);
            for (int level : OptimisedLevels()) {
                SetScaleKernels(level);
                const auto actual = Scale(source, s.dw, s.dh, antiAlias);
                int worst = 0;
                for (size_t i = 0; i < expected.size(); ++i) {
                    worst = std::max(worst, std::abs(int(expected[i]) - int(actual[i])));
                }
                // Whole pixels are copied exactly; averages may differ by one step.
                EXPECT_LE(worst, antiAlias ? 1 : 0) << Describe(s, level, antiAlias);
            }
        }
    }
}

// Frames cut into row bands (any number, in any order, as threads finish them) come out
// byte for byte as one call makes them, with every kernel and the reference.
TEST(ScaleFrameRows, BandsInAnyOrderGiveTheWholeFrame) {
    ScaleKernelsGuard guard;
    std::vector<int> levels = OptimisedLevels();
    levels.push_back(SCALE_KERNELS_REFERENCE);
    uint32_t seed = 100;
    const Shape shapes[] = {{321, 9, 160, 4},    {160, 4, 321, 9}, {64, 48, 19, 64},
                            {1920, 12, 1280, 8}, {640, 6, 320, 3}, {64, 5, 128, 10},
                            {1000, 50, 7, 3},    {5, 300, 3, 2},   {7, 7, 7, 7},
                            {1, 1, 37, 29},      {19, 40, 64, 120}};
    for (const Shape& s : shapes) {
        const Frame source = RandomFrame(s.sw, s.sh, seed++);
        const BITMAPINFOHEADER in = Header(s.sw, s.sh);
        const BITMAPINFOHEADER out = Header(s.dw, s.dh);
        for (int32_t antiAlias : {0, 8}) {
            for (int level : levels) {
                SetScaleKernels(level);
                const auto whole = Scale(source, s.dw, s.dh, antiAlias);
                for (int bands : {2, 3, 7}) {
                    std::vector<uint8_t> banded(whole.size(), kUntouched);
                    // Last band first: no band may lean on rows another band has not made.
                    for (int band = bands - 1; band >= 0; --band) {
                        const int32_t first = s.dh * band / bands;
                        const int32_t end = s.dh * (band + 1) / bands;
                        EXPECT_EQ(ScaleFrameRows(source.bytes.data(), banded.data(), &in, &out,
                                                 antiAlias, first, end),
                                  0);
                    }
                    EXPECT_EQ(banded, whole)
                        << Describe(s, level, antiAlias) << " in " << bands << " bands";
                }
            }
        }
    }
}

TEST(ScaleFrameRows, RowsOutsideTheRangeAreLeftAlone) {
    const Frame source = RandomFrame(40, 30, 7);
    const BITMAPINFOHEADER in = Header(40, 30);
    const BITMAPINFOHEADER out = Header(21, 10);  // rows of 63 bytes padded to 64
    std::vector<uint8_t> output(out.biSizeImage + kTail, kUntouched);
    ScaleFrameRows(source.bytes.data(), output.data(), &in, &out, 8, 3, 5);
    const auto whole = Scale(source, 21, 10, 8);
    const size_t stride = Stride(21);
    for (size_t i = 0; i < output.size(); ++i) {
        const bool inside = i >= 3 * stride && i < 5 * stride;
        EXPECT_EQ(output[i], inside ? whole[i] : kUntouched) << "byte " << i;
    }
    // Ranges past the frame are clipped; an empty one writes nothing.
    std::vector<uint8_t> clipped(out.biSizeImage + kTail, kUntouched);
    ScaleFrameRows(source.bytes.data(), clipped.data(), &in, &out, 8, -5, 1000);
    EXPECT_EQ(clipped, whole);
    std::vector<uint8_t> none(out.biSizeImage + kTail, kUntouched);
    ScaleFrameRows(source.bytes.data(), none.data(), &in, &out, 8, 6, 6);
    EXPECT_EQ(none, std::vector<uint8_t>(out.biSizeImage + kTail, kUntouched));
}

TEST(ScaleFrameKernels, HalvingTwoThirdsAndDoublingAreExact) {
    // These sizes weigh whole, half and quarter pixels only, which the kernels can sum without
    // rounding: they must give the exact average, not just come within one step of it.
    ScaleKernelsGuard guard;
    uint32_t seed = 100;
    for (const Shape& s : ExactShapes()) {
        if (s.sw == s.dw && s.sh == s.dh) continue;
        const Frame source = RandomFrame(s.sw, s.sh, seed++);
        SetScaleKernels(SCALE_KERNELS_REFERENCE);
        const auto expected = Scale(source, s.dw, s.dh, 8);
        for (int level : OptimisedLevels()) {
            SetScaleKernels(level);
            EXPECT_EQ(Scale(source, s.dw, s.dh, 8), expected) << Describe(s, level, 8);
        }
    }
}

TEST(ScaleFrameKernels, NearestRowsComeOutTheSameAtAnyOutputAlignment) {
    // The shuffling kernels line their stores up with the output buffer, which may start
    // anywhere: every start must give the reference's bytes and write nothing around them.
    ScaleKernelsGuard guard;
    const Shape shapes[] = {{160, 4, 321, 9}, {64, 3, 128, 7}, {7, 2, 30, 3},
                            {321, 5, 160, 4}, {90, 3, 60, 2},  {12, 2, 6, 2}};
    for (const Shape& s : shapes) {
        const Frame source = RandomFrame(s.sw, s.sh, 77);
        SetScaleKernels(SCALE_KERNELS_REFERENCE);
        const auto expected = Scale(source, s.dw, s.dh, 0);
        const size_t image = static_cast<size_t>(Stride(s.dw)) * s.dh;
        SetScaleKernels(SCALE_KERNELS_BEST);
        const BITMAPINFOHEADER in = Header(s.sw, s.sh), out = Header(s.dw, s.dh);
        for (size_t shift = 0; shift < 32; ++shift) {
            std::vector<uint8_t> buffer(shift + image + kTail, kUntouched);
            ScaleFrame(source.bytes.data(), buffer.data() + shift, &in, &out, 0);
            const std::vector<uint8_t> written(buffer.begin() + shift,
                                               buffer.begin() + shift + image);
            EXPECT_TRUE(std::equal(written.begin(), written.end(), expected.begin()))
                << Describe(s, SCALE_KERNELS_BEST, 0) << " shift " << shift;
            for (size_t i = 0; i < shift; ++i) ASSERT_EQ(buffer[i], kUntouched) << shift;
            for (size_t i = shift + image; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kUntouched);
        }
    }
}

TEST(ScaleFrameKernels, KeepAFlatFrameFlat) {
    // Weights that don't sum to one show up as a drift of a flat colour.
    ScaleKernelsGuard guard;
    for (const Shape& s : Shapes()) {
        Frame source(s.sw, s.sh);
        for (int32_t y = 0; y < s.sh; ++y) {
            for (int32_t x = 0; x < s.sw; ++x) source.SetPixel(x, y, 0, 255, 77);
        }
        for (int level : {SCALE_KERNELS_REFERENCE, SCALE_KERNELS_PORTABLE, SCALE_KERNELS_SSE2,
                          SCALE_KERNELS_AVX2}) {
            if (SetScaleKernels(level) != level) continue;
            const auto out = Scale(source, s.dw, s.dh, 8);
            for (int32_t y = 0; y < s.dh; ++y) {
                for (int32_t x = 0; x < s.dw; ++x) {
                    ASSERT_EQ(Value(out, s.dw, x, y, 0), 0) << Describe(s, level, 8);
                    ASSERT_EQ(Value(out, s.dw, x, y, 1), 255) << Describe(s, level, 8);
                    ASSERT_EQ(Value(out, s.dw, x, y, 2), 77) << Describe(s, level, 8);
                }
            }
        }
    }
}

TEST(ScaleFrameKernels, SelectionFallsBackToWhatTheProcessorHas) {
    ScaleKernelsGuard guard;
    EXPECT_EQ(SetScaleKernels(SCALE_KERNELS_REFERENCE), SCALE_KERNELS_REFERENCE);
    EXPECT_EQ(GetScaleKernels(), SCALE_KERNELS_REFERENCE);
    EXPECT_EQ(SetScaleKernels(-5), SCALE_KERNELS_REFERENCE);
    const int best = SetScaleKernels(SCALE_KERNELS_BEST);
    EXPECT_GE(best, SCALE_KERNELS_PORTABLE);
    EXPECT_LE(best, SCALE_KERNELS_AVX2);
    EXPECT_EQ(SetScaleKernels(SCALE_KERNELS_PORTABLE), SCALE_KERNELS_PORTABLE);
}

// ---- Frames that can't be served ----

TEST(ScaleFrame, LeavesTheOutputAloneWhenTheSizesCantBeServed) {
    const Frame source = RandomFrame(4, 4, 1);
    const BITMAPINFOHEADER good = Header(4, 4);
    struct Case {
        const char* what;
        BITMAPINFOHEADER in, out;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, auto change) {
        Case c{what, good, Header(2, 2)};
        change(c.in, c.out);
        cases.push_back(c);
    };
    add("zero destination width", [](auto&, auto& o) { o.biWidth = 0; });
    add("negative destination height", [](auto&, auto& o) { o.biHeight = -2; });
    add("zero source height", [](auto& i, auto&) { i.biHeight = 0; });
    add("negative source width", [](auto& i, auto&) { i.biWidth = -4; });
    add("32-bit destination", [](auto&, auto& o) { o.biBitCount = 32; });
    add("compressed source", [](auto& i, auto&) { i.biCompression = 1; });
    add("image size short by a byte", [](auto&, auto& o) { o.biSizeImage -= 1; });
    add("image size 0", [](auto&, auto& o) { o.biSizeImage = 0; });
    // Rows of 2^31 - 1 pixels would overflow 32-bit sizes; the 32-bit image size can't hold them.
    add("width overflowing 32 bits", [](auto&, auto& o) { o.biWidth = 0x7FFFFFFF; });
    add("height overflowing 32 bits", [](auto&, auto& o) {
        o.biHeight = 0x7FFFFFFF;
        o.biSizeImage = 0xFFFFFFFF;
    });
    add("destination larger than served", [](auto&, auto& o) {
        o.biWidth = SCALE_MAX_DIMENSION + 1;
        o.biHeight = 1;
        o.biSizeImage = 0xFFFFFFFF;
    });
    add("source larger than served", [](auto& i, auto&) { i.biHeight = SCALE_MAX_DIMENSION + 1; });
    for (const Case& c : cases) {
        for (int32_t antiAlias : {0, 8}) {
            std::vector<uint8_t> output(64, kUntouched);
            EXPECT_EQ(ScaleFrame(source.bytes.data(), output.data(), &c.in, &c.out, antiAlias), 0);
            EXPECT_EQ(output, std::vector<uint8_t>(64, kUntouched)) << c.what;
        }
    }
}

TEST(ScaleFrame, IgnoresNullArguments) {
    const Frame source = RandomFrame(4, 4, 1);
    const BITMAPINFOHEADER in = Header(4, 4), out = Header(2, 2);
    std::vector<uint8_t> output(out.biSizeImage, kUntouched);
    EXPECT_EQ(ScaleFrame(nullptr, output.data(), &in, &out, 8), 0);
    EXPECT_EQ(ScaleFrame(source.bytes.data(), nullptr, &in, &out, 8), 0);
    EXPECT_EQ(ScaleFrame(source.bytes.data(), output.data(), nullptr, &out, 8), 0);
    EXPECT_EQ(ScaleFrame(source.bytes.data(), output.data(), &in, nullptr, 8), 0);
    EXPECT_EQ(output, std::vector<uint8_t>(out.biSizeImage, kUntouched));
}

}  // namespace
