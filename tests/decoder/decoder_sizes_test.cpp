// Tiny and odd-sized compressed frames: each codec at sizes that are not whole macroblocks, whole
// SIMD groups or even, delivered exactly as ffmpeg shows them.
#include <gtest/gtest.h>

#include "decoder_size_sweep.h"

namespace {

struct SizeCase {
    const SweepCodec* codec;
    SweepSize size;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.codec->name << " " << c.size.width << "x" << c.size.height;
}

class DecoderSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(DecoderSizes, FramesMatchFfmpegInBothRowOrders) {
    const SizeCase& c = GetParam();
    std::string refusal = SweepRefusal(*c.codec, c.size.width, c.size.height);
    if (!refusal.empty()) GTEST_SKIP() << refusal;
    CheckSweepSize(*c.codec, c.size.width, c.size.height);
}

std::vector<SizeCase> Cases() {
    const SweepSize sizes[] = {{1, 1},   {2, 2},   {15, 9},   {84, 33},
                               {85, 47}, {96, 50}, {127, 63}, {321, 241}};
    std::vector<SizeCase> cases;
    for (size_t i = 0; i < kSweepCodecCount; ++i)
        for (SweepSize size : sizes) cases.push_back({&kSweepCodecs[i], size});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, DecoderSizes, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                             return std::string(info.param.codec->name) + "_" +
                                    std::to_string(info.param.size.width) + "x" +
                                    std::to_string(info.param.size.height);
                         });

}  // namespace
