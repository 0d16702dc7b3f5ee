// Files from ffmpeg's encoders, decoded by the frame decoder and compared frame by frame with
// ffmpeg's own decoding of the same file.
#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "decoder_test_support.h"

namespace {

struct FormatCase {
    const char* name;
    const char* source;  // lavfi graph
    int width;
    int height;
    int frames;
    const char* encoder;
    bool exact;  // lossless or raw: every byte must match
};

void PrintTo(const FormatCase& c, std::ostream* out) {
    *out << c.name;
}

class DecoderFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(DecoderFormats, EveryFrameMatchesFfmpegSequentiallyAndAfterJumps) {
    const FormatCase& c = GetParam();
    TempDir dir;
    std::string path = dir.Path(std::string(c.name) + ".avi");
    ASSERT_TRUE(MakeAvi(path, c.source, c.frames, c.encoder));
    std::vector<Image> reference = ReferenceFrames(path, c.width, c.height);
    ASSERT_FALSE(reference.empty());

    OpenedAvi avi(path);
    ASSERT_TRUE(avi.ok());
    PAVISTREAM stream = VideoStream(avi);
    ASSERT_NE(stream, nullptr);
    AVISTREAMINFOW info = StreamInfo(stream);
    ASSERT_EQ(info.rcFrame.right - info.rcFrame.left, c.width);
    ASSERT_EQ(info.rcFrame.bottom - info.rcFrame.top, c.height);

    std::vector<Image> expected = ExpectedWithDrops(reference, stream);
    std::vector<Image> ours = DecodeAll(stream, c.width, c.height);
    ASSERT_EQ(ours.size(), expected.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        ASSERT_FALSE(ours[i].empty()) << "frame " << i;
        if (c.exact)
            ASSERT_TRUE(ours[i] == expected[i])
                << "frame " << i << ", PSNR " << Psnr(ours[i], expected[i]);
        else
            ASSERT_GE(Psnr(ours[i], expected[i]), 45.0) << "frame " << i;
    }

    // Jumps in both directions, from a fresh decoder, give what sequential reading gave.
    std::vector<LONG> order(ours.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<LONG>(i);
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    BITMAPINFOHEADER wanted = Wanted(c.width, c.height);
    FrameDecoder decoder(stream, &wanted);
    for (LONG p : order)
        ASSERT_TRUE(decoder.At(p, c.width, c.height) == ours[static_cast<size_t>(p)])
            << "position " << p;
}

// testsrc2 keeps even sizes only; testsrc gives the odd ones.
const FormatCase kCases[] = {
    {"Bgr24", "testsrc=s=321x241:r=25", 321, 241, 5, "-c:v rawvideo -pix_fmt bgr24", true},
    {"Bgra", "testsrc2=s=64x48:r=25", 64, 48, 5, "-c:v rawvideo -pix_fmt bgra", true},
    {"Rgb555", "testsrc=s=67x33:r=25", 67, 33, 5, "-c:v rawvideo -pix_fmt rgb555le", true},
    {"Pal8", "testsrc=s=65x35:r=25", 65, 35, 4, "-c:v rawvideo -pix_fmt pal8", true},
    {"Mjpeg", "testsrc2=s=96x64:r=25", 96, 64, 8, "-c:v mjpeg -q:v 3", false},
    {"Mpeg4", "testsrc2=s=96x64:r=25", 96, 64, 30, "-c:v mpeg4 -q:v 4 -g 10", false},
    {"Mpeg4BFrames", "testsrc2=s=96x64:r=25", 96, 64, 30, "-c:v mpeg4 -q:v 4 -g 10 -bf 2", false},
    {"XvidPackedBFrames", "testsrc2=s=96x64:r=25", 96, 64, 30, "-c:v libxvid -g 10 -bf 2", false},
    {"H264BFrames", "testsrc2=s=96x64:r=25", 96, 64, 30,
     "-c:v libx264 -preset veryfast -g 10 -bf 3", false},
    {"HuffYuv", "testsrc=s=65x33:r=25", 65, 33, 4, "-c:v huffyuv -pix_fmt rgb24", true},
    {"HuffYuv422", "testsrc2=s=64x32:r=25", 64, 32, 4, "-c:v huffyuv", true},
    {"Ffv1", "testsrc=s=67x35:r=25", 67, 35, 4, "-c:v ffv1", true},
    {"UtVideo", "testsrc2=s=64x48:r=25", 64, 48, 4, "-c:v utvideo", true},
    {"Cinepak", "testsrc2=s=64x48:r=25", 64, 48, 6, "-c:v cinepak", false},
    {"MsVideo1", "testsrc2=s=64x48:r=25", 64, 48, 6, "-c:v msvideo1", false},
    {"Dv", "testsrc2=s=720x576:r=25", 720, 576, 3, "-c:v dvvideo -pix_fmt yuv420p", false},
};

INSTANTIATE_TEST_SUITE_P(Ffmpeg, DecoderFormats, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FormatCase>& info) {
                             return info.param.name;
                         });

}  // namespace
