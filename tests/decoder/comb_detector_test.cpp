// The comb detector on a scene drawn here, moment by moment (a textured background panning
// under a bright square that moves the other way): woven into fields either way round, shot
// progressive, finely striped, and still.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "avifile/decoder/comb_detector.h"

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;

using Plane = std::vector<uint8_t>;

// The scene's luma at `moment` (in fields: two a frame).
uint8_t Scene(int x, int y, int moment) {
    const int left = 40 + 9 * moment, top = 100;
    if (x >= left && x < left + 48 && y >= top && y < top + 48) return 235;
    const double texture =
        60 * std::sin((x - 5.0 * moment) / 7.0) * std::cos(y / 11.0) + 30 * std::sin(y / 3.0);
    return static_cast<uint8_t>(128 + texture);
}

// Frame k: rows of `firstRows` parity from moment 2k, the others from the moment after
// (the same moment when `progressive`).
Plane Frame(int k, int firstParity, bool progressive, uint8_t (*scene)(int, int, int) = Scene) {
    Plane plane(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        const int moment = 2 * k + ((y & 1) == firstParity || progressive ? 0 : 1);
        for (int x = 0; x < kWidth; ++x)
            plane[static_cast<size_t>(y) * kWidth + x] = scene(x, y, moment);
    }
    return plane;
}

// A neighbour that is empty is missing, as at the ends of a stream.
LumaPlane Luma(const Plane& plane) {
    return {plane.empty() ? nullptr : plane.data(), kWidth};
}
FieldOrder Detect(const Plane& before, const Plane& frame, const Plane& after) {
    return DetectCombing(Luma(before), Luma(frame), Luma(after), kWidth, kHeight);
}

TEST(CombDetector, FindsWovenFieldsAndTheirOrder) {
    for (const auto& [parity, order] :
         {std::pair{0, FieldOrder::kTopFirst}, std::pair{1, FieldOrder::kBottomFirst}}) {
        const Plane a = Frame(3, parity, false), b = Frame(4, parity, false),
                    c = Frame(5, parity, false);
        EXPECT_EQ(Detect(a, b, c), order);
        // At the ends of a stream one neighbour is enough; none is not.
        EXPECT_EQ(Detect({}, b, c), order);
        EXPECT_EQ(Detect(a, b, {}), order);
        EXPECT_EQ(Detect({}, b, {}), FieldOrder::kProgressive);
    }
}

TEST(CombDetector, LeavesProgressiveFramesAloneHoweverFinelyStriped) {
    const Plane a = Frame(3, 0, true), b = Frame(4, 0, true), c = Frame(5, 0, true);
    EXPECT_EQ(Detect(a, b, c), FieldOrder::kProgressive);
    EXPECT_EQ(Detect({}, b, c), FieldOrder::kProgressive);
    EXPECT_EQ(Detect(a, b, {}), FieldOrder::kProgressive);
    // One-line stripes panning as a whole: every line differs from the lines around it, which
    // a threshold on that alone would take for combing.
    auto stripes = [](int x, int y, int moment) {
        return static_cast<uint8_t>(128 + 90 * std::sin((x + 2.5 * moment) / 7.0) *
                                              ((y & 1) != 0 ? 1 : -1));
    };
    const Plane s = Frame(3, 0, true, stripes), t = Frame(4, 0, true, stripes),
                u = Frame(5, 0, true, stripes);
    EXPECT_EQ(Detect(s, t, u), FieldOrder::kProgressive);
    // A still scene woven from two moments that show the same picture: nothing to mend.
    const Plane still = Frame(0, 0, true, [](int x, int y, int) { return Scene(x, y, 0); });
    EXPECT_EQ(Detect(still, still, still), FieldOrder::kProgressive);
}

TEST(CombDetector, NeedsRoomToJudge) {
    const Plane b = Frame(4, 0, false);
    EXPECT_EQ(DetectCombing({b.data(), kWidth}, {b.data(), kWidth}, {b.data(), kWidth}, kWidth, 7),
              FieldOrder::kProgressive);
    EXPECT_EQ(DetectCombing({b.data(), kWidth}, {b.data(), kWidth}, {b.data(), kWidth}, 0, kHeight),
              FieldOrder::kProgressive);
    // A frame narrower and shorter than one block is judged as one block.
    const Plane a = Frame(3, 0, false), c = Frame(5, 0, false);
    EXPECT_NO_FATAL_FAILURE(
        DetectCombing({a.data(), kWidth}, {b.data(), kWidth}, {c.data(), kWidth}, 20, 12));
}

}  // namespace
