// The wide sweep of frame sizes: every width up to a few SIMD groups and beyond, against heights
// around the 2-row chroma pairs and 16-row macroblocks, for each codec.
#include <iostream>

#include <gtest/gtest.h>

#include "decoder_size_sweep.h"

void PrintTo(const SweepCodec* codec, std::ostream* out) {
    *out << codec->name;
}

namespace {

class DecoderSizeSweep : public testing::TestWithParam<const SweepCodec*> {};

TEST_P(DecoderSizeSweep, EverySizeMatchesFfmpeg) {
    const SweepCodec& codec = *GetParam();
    std::vector<int> widths;
    for (int w = 1; w <= 34; ++w) widths.push_back(w);
    for (int w : {47, 63, 65, 127, 129, 255, 257, 719, 1921}) widths.push_back(w);
    int skipped = 0;
    for (int width : widths)
        for (int height : {1, 2, 3, 8, 15, 17, 33, 241}) {
            if (!SweepRefusal(codec, width, height).empty()) {
                ++skipped;
                continue;
            }
            CheckSweepSize(codec, width, height);
            if (HasFatalFailure()) return;
        }
    if (skipped)
        std::cout << codec.name << ": " << skipped << " sizes skipped, "
                  << SweepRefusal(codec, 1, 1) << "\n";
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, DecoderSizeSweep, testing::ValuesIn([] {
                             std::vector<const SweepCodec*> codecs;
                             for (size_t i = 0; i < kSweepCodecCount; ++i)
                                 codecs.push_back(&kSweepCodecs[i]);
                             return codecs;
                         }()),
                         [](const testing::TestParamInfo<const SweepCodec*>& info) {
                             return std::string(info.param->name);
                         });

}  // namespace
