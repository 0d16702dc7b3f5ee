// The pixel-shape arithmetic and the video properties chunk: what a stretch does to the shape,
// the chunk written by our writer and read back by our reader (and by ffmpeg, where it is
// there), and damaged chunks that must read as "nothing said".
#include <gtest/gtest.h>

#include "avi_test_support.h"
#include "avifile/little_endian.h"
#include "avifile/video_properties.h"

namespace {

TEST(PixelAspect, FractionsAreReducedAndKeptWithinSixteenBits) {
    EXPECT_EQ(ReducedAspect(46080, 25920), (PixelAspect{16, 9}));
    EXPECT_EQ(ReducedAspect(0, 5), PixelAspect{});
    EXPECT_EQ(ReducedAspect(5, 0), PixelAspect{});
    // 1000003:999983 has no smaller terms; the closest that fits is within 1e-9 of it.
    const PixelAspect near = ReducedAspect(1000003, 999983);
    ASSERT_TRUE(near.Known());
    EXPECT_LE(near.num, kAspectTermLimit);
    EXPECT_LE(near.den, kAspectTermLimit);
    EXPECT_NEAR(static_cast<double>(near.num) / near.den, 1000003.0 / 999983.0, 1e-9);
    // Ratios beyond what 16 bits can say either way.
    EXPECT_EQ(ReducedAspect(uint64_t{1} << 40, 3), (PixelAspect{kAspectTermLimit, 1}));
    EXPECT_EQ(ReducedAspect(3, uint64_t{1} << 40), (PixelAspect{1, kAspectTermLimit}));
}

TEST(PixelAspect, AStretchKeepsTheShapeOfNonSquarePixelsOnly) {
    // 16:9 PAL DV to 360x240 and to its own size; 4:3 NTSC DV to 640x480.
    EXPECT_EQ(StretchedPixelAspect({64, 45}, 720, 576, 360, 240), (PixelAspect{32, 27}));
    EXPECT_EQ(StretchedPixelAspect({64, 45}, 720, 576, 720, 576), (PixelAspect{64, 45}));
    EXPECT_EQ(StretchedPixelAspect({8, 9}, 720, 480, 640, 480), (PixelAspect{1, 1}));
    EXPECT_EQ(DisplayAspect({32, 27}, 360, 240), (PixelAspect{16, 9}));
    // Square and unknown pixels stay square: the size asked for is the new shape.
    EXPECT_EQ(StretchedPixelAspect({}, 160, 120, 320, 180), (PixelAspect{1, 1}));
    EXPECT_EQ(StretchedPixelAspect({3, 3}, 160, 120, 320, 180), (PixelAspect{1, 1}));
    // The largest sides there are do not overflow.
    EXPECT_EQ(StretchedPixelAspect({65535, 65534}, 65536, 1, 1, 32767),
              ReducedAspect(static_cast<unsigned __int128>(65535) * 65536 * 32767, 65534));
    EXPECT_EQ(StretchedPixelAspect({64, 45}, 0, 576, 360, 240), PixelAspect{});
}

TEST(VideoProperties, WrittenByOurWriterAndReadBackWithEitherFieldOrder) {
    TempDir dir;
    for (const FieldOrder order :
         {FieldOrder::kProgressive, FieldOrder::kTopFirst, FieldOrder::kBottomFirst}) {
        const std::string path = dir.Path("vprp.avi");
        VideoProperties written;
        written.frameAspect = {16, 9};
        written.width = 360;
        written.height = 240;
        written.refreshRate = 25;
        written.fields = order;
        {
            const std::u16string name = U16(path);
            PAVIFILE file = nullptr;
            ASSERT_EQ(AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
            const AVISTREAMINFOW info = VideoHeader(0, 1, 25, 360, 240);
            const BITMAPINFOHEADER format = BitmapHeader(360, 240, 24, BI_RGB);
            PAVISTREAM stream = nullptr;
            ASSERT_EQ(AVIFileCreateStreamW(file, &stream, &info), AVIERR_OK);
            ASSERT_EQ(AVIStreamSetFormat(stream, 0, &format, sizeof format), AVIERR_OK);
            const std::vector<uint8_t> chunk = VideoPropertiesChunk(written);
            ASSERT_EQ(
                AVIStreamWriteData(stream, kFccVprp, chunk.data(), static_cast<LONG>(chunk.size())),
                AVIERR_OK);
            std::vector<uint8_t> frame(360 * 240 * 3, 7);
            ASSERT_EQ(AVIStreamWrite(stream, 0, 1, frame.data(), static_cast<LONG>(frame.size()),
                                     AVIIF_KEYFRAME, nullptr, nullptr),
                      AVIERR_OK);
            AVIStreamRelease(stream);
            AVIFileRelease(file);
            ASSERT_EQ(AVIFileLastCloseResult(), AVIERR_OK);
        }
        OpenedAvi opened(path);
        ASSERT_TRUE(opened.ok());
        VideoProperties read;
        ASSERT_TRUE(ReadVideoProperties(opened.streams.at(0), &read));
        EXPECT_EQ(read.frameAspect, (PixelAspect{16, 9}));
        EXPECT_EQ(read.width, 360u);
        EXPECT_EQ(read.height, 240u);
        EXPECT_EQ(read.refreshRate, 25u);
        EXPECT_EQ(read.fields, order);
        EXPECT_EQ(PixelAspectOf(read), (PixelAspect{32, 27}));
        if (HaveTool("ffprobe")) {
            EXPECT_EQ(ProbeStreamField(path, 0, "display_aspect_ratio"), "16:9");
            EXPECT_EQ(ProbeStreamField(path, 0, "sample_aspect_ratio"), "32:27");
        }
    }
}

TEST(VideoProperties, DamagedChunksSayNothingTheyCantSay) {
    VideoProperties p;
    p.frameAspect = {4, 3};
    p.width = 720;
    p.height = 576;
    p.fields = FieldOrder::kBottomFirst;
    std::vector<uint8_t> chunk = VideoPropertiesChunk(p);
    ASSERT_EQ(chunk.size(), (9u + 2 * 8) * 4);
    VideoProperties read;
    EXPECT_FALSE(ParseVideoProperties(chunk.data(), 35, &read));  // not even the frame's words
    // Two fields claimed, their descriptions cut off: no order can be read, so none is.
    ASSERT_TRUE(ParseVideoProperties(chunk.data(), 9 * 4, &read));
    EXPECT_EQ(read.fields, FieldOrder::kProgressive);
    EXPECT_EQ(PixelAspectOf(read), (PixelAspect{16, 15}));
    // An aspect with a zero term, or a frame of no size, states no shape.
    PutLe32(chunk.data() + 5 * 4, 0x00040000);
    ASSERT_TRUE(ParseVideoProperties(chunk.data(), chunk.size(), &read));
    EXPECT_FALSE(PixelAspectOf(read).Known());
    PutLe32(chunk.data() + 5 * 4, 0x00040003);
    PutLe32(chunk.data() + 6 * 4, 0);
    ASSERT_TRUE(ParseVideoProperties(chunk.data(), chunk.size(), &read));
    EXPECT_FALSE(PixelAspectOf(read).Known());
}

}  // namespace
