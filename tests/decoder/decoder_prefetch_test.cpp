// Decoding ahead: a decoder given a greater depth keeps earlier frames intact while it makes
// the next ones, and the prefetcher's thread gives every position exactly what the decoder
// gives when asked in turn, failed frames included.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "avifile/decoder/frame_prefetcher.h"
#include "decoder_test_support.h"

namespace {

struct Case {
    const char* name;
    const char* encoder;
};
// Compressed with and without reordering, stored 24-bit rows read in place, and 16-bit rows
// converted on the way.
const Case kCases[] = {{"mjpeg", "-c:v mjpeg -q:v 3"},
                       {"h264", "-c:v libx264 -preset veryfast -g 5 -bf 2"},
                       {"bgr24", "-c:v rawvideo -pix_fmt bgr24"},
                       {"rgb555", "-c:v rawvideo -pix_fmt rgb555le"}};
constexpr int kWidth = 64, kHeight = 48;

// The source made by ffmpeg, rewritten with drop frames at 3 and 7 (which show the frame before
// them again) and, if asked, sample 5 replaced by bytes that decode to nothing.
std::string MakeCase(const TempDir& dir, const Case& c, bool damaged) {
    const std::string made = dir.Path(std::string(c.name) + ".avi");
    EXPECT_TRUE(MakeAvi(made, "testsrc2=s=64x48:r=25", 12, c.encoder)) << c.name;
    const std::string path = dir.Path(std::string(c.name) + "-edited.avi");
    OpenedAvi avi(made);
    PAVISTREAM stream = VideoStream(avi);
    std::vector<VideoSample> samples = StoredSamples(stream);
    for (VideoSample& sample : samples) {
        if (damaged && sample.position == 5) sample.bytes.assign(7, 0x55);
        sample.position += (sample.position >= 3) + (sample.position >= 6);
    }
    EXPECT_TRUE(WriteVideoAvi(path, StreamInfo(stream), ReadFormat(stream), samples)) << c.name;
    return path;
}

Image RowsOf(const void* frame) {
    if (frame == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(frame) + sizeof(BITMAPINFOHEADER);
    return Image(bytes, bytes + RowBytes(kWidth) * kHeight);
}

TEST(DecoderDepth, EarlierFramesStayIntactWhileTheNextAreMade) {
    TempDir dir;
    for (const Case& c : kCases) {
        OpenedAvi avi(MakeCase(dir, c, false));
        PAVISTREAM stream = VideoStream(avi);
        const std::vector<Image> expected = DecodeAll(stream, kWidth, kHeight);
        ASSERT_EQ(expected.size(), 14u) << c.name;
        for (int depth : {2, 3, 5}) {
            const BITMAPINFOHEADER wanted = Wanted(kWidth, kHeight);
            FrameDecoder decoder(stream, &wanted);
            // A frame delivered before the call stays valid across it.
            const void* first = AVIStreamGetFrame(decoder.handle, 0);
            ASSERT_EQ(AVIStreamGetFrameSetDepth(decoder.handle, depth), AVIERR_OK);
            std::vector<const void*> held = {first};
            for (LONG p = 1; p < 14; ++p) {
                held.push_back(AVIStreamGetFrame(decoder.handle, p));
                if (static_cast<int>(held.size()) > depth) held.erase(held.begin());
                // Every frame of the last `depth` requests still shows its own picture.
                for (size_t k = 0; k < held.size(); ++k) {
                    const LONG at = p - static_cast<LONG>(held.size() - 1 - k);
                    EXPECT_EQ(RowsOf(held[k]), expected[static_cast<size_t>(at)])
                        << c.name << " depth " << depth << " frame " << at << " after " << p;
                    for (size_t other = 0; other < k; ++other)
                        EXPECT_NE(held[k], held[other]) << c.name << " shares a buffer";
                }
            }
            // Back to one frame: later requests still decode right.
            ASSERT_EQ(AVIStreamGetFrameSetDepth(decoder.handle, 1), AVIERR_OK);
            EXPECT_EQ(RowsOf(AVIStreamGetFrame(decoder.handle, 2)), expected[2]) << c.name;
            EXPECT_EQ(RowsOf(AVIStreamGetFrame(decoder.handle, 3)), expected[3]) << c.name;
        }
    }
}

TEST(DecoderDepth, RefusesDepthsOutOfRange) {
    EXPECT_EQ(AVIStreamGetFrameSetDepth(nullptr, 2), AVIERR_BADPARAM);
    TempDir dir;
    OpenedAvi avi(MakeCase(dir, kCases[2], false));
    const BITMAPINFOHEADER wanted = Wanted(kWidth, kHeight);
    FrameDecoder decoder(VideoStream(avi), &wanted);
    EXPECT_EQ(AVIStreamGetFrameSetDepth(decoder.handle, 0), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamGetFrameSetDepth(decoder.handle, 17), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamGetFrameSetDepth(decoder.handle, 16), AVIERR_OK);
}

TEST(FramePrefetcher, GivesEveryPositionWhatTheDecoderGivesInTurn) {
    TempDir dir;
    for (const Case& c : kCases) {
        OpenedAvi avi(MakeCase(dir, c, true));
        PAVISTREAM stream = VideoStream(avi);
        // One decoder asked position by position is the reference.
        std::vector<Image> expected;
        {
            const BITMAPINFOHEADER wanted = Wanted(kWidth, kHeight);
            FrameDecoder decoder(stream, &wanted);
            for (LONG p = 0; p < 14; ++p)
                expected.push_back(RowsOf(AVIStreamGetFrame(decoder.handle, p)));
        }
        // The damaged sample (now at 6) gives no frame, except from H.264, whose decoder
        // hides the damage with the picture before it.
        if (std::string(c.name) != "h264") {
            EXPECT_TRUE(expected[6].empty()) << c.name;
        }
        for (int ahead : {1, 2, 4}) {
            const BITMAPINFOHEADER wanted = Wanted(kWidth, kHeight);
            FrameDecoder decoder(stream, &wanted);
            FramePrefetcher frames(decoder.handle, 0, 14, ahead);
            int64_t position = -1, next = 0;
            DecodedPicture frame;
            while (frames.Next(&position, &frame)) {
                ASSERT_EQ(position, next) << c.name;
                EXPECT_EQ(RowsOf(frame.frame), expected[static_cast<size_t>(next)])
                    << c.name << " ahead " << ahead << " position " << next;
                ++next;
            }
            EXPECT_EQ(next, 14) << c.name;
            EXPECT_FALSE(frames.Next(&position, &frame));
            EXPECT_GE(frames.DecodeSeconds(), 0.0);
        }
    }
}

TEST(FramePrefetcher, StopsCleanlyWhenLeftEarlyOrGivenNothing) {
    TempDir dir;
    OpenedAvi avi(MakeCase(dir, kCases[1], false));
    PAVISTREAM stream = VideoStream(avi);
    const BITMAPINFOHEADER wanted = Wanted(kWidth, kHeight);
    FrameDecoder decoder(stream, &wanted);
    {
        // The thread is blocked with a full queue when the prefetcher goes.
        FramePrefetcher frames(decoder.handle, 0, 14, 2);
        int64_t position = 0;
        DecodedPicture frame;
        ASSERT_TRUE(frames.Next(&position, &frame));
        EXPECT_EQ(position, 0);
    }
    // The decoder is still good for use on its own afterwards.
    EXPECT_NE(AVIStreamGetFrame(decoder.handle, 13), nullptr);
    {
        FramePrefetcher frames(decoder.handle, 5, 5, 3);  // no positions
        int64_t position = 0;
        DecodedPicture frame;
        EXPECT_FALSE(frames.Next(&position, &frame));
    }
    {
        FramePrefetcher frames(nullptr, 0, 3, 3);  // no decoder: null frames, in order
        int64_t position = -1;
        DecodedPicture frame;
        frame.frame = &position;  // not empty, so that Next is seen to empty it
        for (int64_t p = 0; p < 3; ++p) {
            ASSERT_TRUE(frames.Next(&position, &frame));
            EXPECT_EQ(position, p);
            EXPECT_TRUE(frame.Empty());
        }
        EXPECT_FALSE(frames.Next(&position, &frame));
    }
}

}  // namespace
