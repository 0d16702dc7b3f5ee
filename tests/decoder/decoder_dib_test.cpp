// Uncompressed streams written by our own writer: every bit depth and row order, drop frames,
// damaged samples, other delivered sizes, and what the decoder refuses.
#include <cstring>

#include <gtest/gtest.h>

#include "decoder_test_support.h"

namespace {

std::vector<uint8_t> Le16(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> bytes;
    for (uint16_t v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return bytes;
}

std::vector<uint8_t> Le32(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> bytes;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return bytes;
}

std::vector<uint8_t> Bgr(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

// One file with a single frame of `format`, and its decoding at the stored size.
Image DecodeSingleFrame(const std::vector<uint8_t>& format, const std::vector<uint8_t>& frame,
                        int width, int height) {
    TempDir dir;
    std::string path = dir.Path("one.avi");
    EXPECT_TRUE(WriteVideoAvi(path, VideoHeader(0, 1, 25, width, height), format, {{0, frame}}));
    OpenedAvi avi(path);
    EXPECT_TRUE(avi.ok());
    BITMAPINFOHEADER wanted = Wanted(width, height);
    FrameDecoder decoder(VideoStream(avi), &wanted);
    EXPECT_NE(decoder.handle, nullptr);
    return decoder.At(0, width, height);
}

TEST(DecoderDib, SixteenBitMasksWidenEachChannelToEightBits) {
    // Four pixels, one row: pure red, pure green, pure blue and the middle code of each channel.
    BITMAPINFOHEADER h = BitmapHeader(4, 1, 16, BI_BITFIELDS);
    Image rgb565 = DecodeSingleFrame(FormatBytes(h, Le32({0xF800, 0x07E0, 0x001F})),
                                     Le16({0xF800, 0x07E0, 0x001F, 0x8410}), 4, 1);
    EXPECT_EQ(rgb565, Bgr({0, 0, 255, 0, 255, 0, 255, 0, 0, 132, 130, 132}));

    // BI_RGB at 16 bits is 555; the top bit is not part of any channel.
    h = BitmapHeader(4, 1, 16, BI_RGB);
    Image rgb555 = DecodeSingleFrame(FormatBytes(h), Le16({0xFC00, 0x03E0, 0x801F, 0x4210}), 4, 1);
    EXPECT_EQ(rgb555, Bgr({0, 0, 255, 0, 255, 0, 255, 0, 0, 132, 132, 132}));
}

TEST(DecoderDib, ThirtyTwoBitPixelsFollowTheirMasksAndIgnoreTheFourthByte) {
    BITMAPINFOHEADER h = BitmapHeader(2, 1, 32, BI_RGB);
    Image plain = DecodeSingleFrame(FormatBytes(h), Bgr({1, 2, 3, 99, 4, 5, 6, 77}), 2, 1);
    EXPECT_EQ(plain, Bgr({1, 2, 3, 4, 5, 6, 0, 0}));

    // Red in the low byte, blue in the third: the channels trade places.
    h = BitmapHeader(2, 1, 32, BI_BITFIELDS);
    Image swapped = DecodeSingleFrame(FormatBytes(h, Le32({0x0000FF, 0x00FF00, 0xFF0000})),
                                      Bgr({1, 2, 3, 99, 4, 5, 6, 77}), 2, 1);
    EXPECT_EQ(swapped, Bgr({3, 2, 1, 6, 5, 4, 0, 0}));
}

TEST(DecoderDib, PalettesOfFourAndOneBitsWithShortAndDefaultColourCounts) {
    // 4 bits, two colours given: index 5 has no colour and shows black. Pixels 1, 5, 0.
    BITMAPINFOHEADER h = BitmapHeader(3, 1, 4, BI_RGB);
    h.biClrUsed = 2;
    Image four = DecodeSingleFrame(FormatBytes(h, Bgr({10, 20, 30, 0, 40, 50, 60, 0})),
                                   Bgr({0x15, 0x00, 0, 0}), 3, 1);
    EXPECT_EQ(four, Bgr({40, 50, 60, 0, 0, 0, 10, 20, 30, 0, 0, 0}));

    // 1 bit, biClrUsed 0 means both colours; the leftmost pixel is the top bit. Two rows, stored
    // bottom row first.
    h = BitmapHeader(9, 2, 1, BI_RGB);
    Image one = DecodeSingleFrame(FormatBytes(h, Bgr({0, 0, 0, 0, 255, 255, 255, 0})),
                                  Bgr({0xA0, 0x80, 0, 0, 0x00, 0x00, 0, 0}), 9, 2);
    Image expected(2 * 28, 0);
    for (int x : {0, 2, 8}) std::memset(&expected[3 * x], 255, 3);
    EXPECT_EQ(one, expected);
}

TEST(DecoderDib, TopDownStoredOrDeliveredRowsAreTurnedTheRightWay) {
    const int w = 5, h = 3;  // rows of 15 bytes padded to 16
    std::vector<uint8_t> rows(16 * h, 0);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < 15; ++i) rows[16 * y + i] = static_cast<uint8_t>(10 * y + i + 1);
    auto flipped = [&](const std::vector<uint8_t>& r) {
        std::vector<uint8_t> out(r.size());
        for (int y = 0; y < h; ++y) std::memcpy(&out[16 * y], &r[16 * (h - 1 - y)], 16);
        return out;
    };

    TempDir dir;
    for (bool storedTopDown : {false, true}) {
        std::string path = dir.Path(storedTopDown ? "down.avi" : "up.avi");
        BITMAPINFOHEADER format = BitmapHeader(w, storedTopDown ? -h : h, 24, BI_RGB);
        ASSERT_TRUE(
            WriteVideoAvi(path, VideoHeader(0, 1, 25, w, h), FormatBytes(format), {{0, rows}}));
        OpenedAvi avi(path);
        PAVISTREAM stream = VideoStream(avi);
        const std::vector<uint8_t> bottomUp = storedTopDown ? flipped(rows) : rows;

        BITMAPINFOHEADER up = Wanted(w, h);
        FrameDecoder upDecoder(stream, &up);
        EXPECT_EQ(upDecoder.At(0, w, h), bottomUp) << "stored top-down: " << storedTopDown;
        BITMAPINFOHEADER down = Wanted(w, -h);
        FrameDecoder downDecoder(stream, &down);
        EXPECT_EQ(downDecoder.At(0, w, -h), flipped(bottomUp))
            << "stored top-down: " << storedTopDown;
        // No wanted header: the stream's own size, bottom-up.
        FrameDecoder ownDecoder(stream, nullptr);
        EXPECT_EQ(ownDecoder.At(0, w, h), bottomUp) << "stored top-down: " << storedTopDown;
    }
}

TEST(DecoderDib, DropFramesRepeatTheFrameBeforeThemAndLeadingOnesHaveNone) {
    const int w = 4, h = 2;
    BITMAPINFOHEADER format = BitmapHeader(w, h, 24, BI_RGB);
    std::vector<uint8_t> a = Pattern(24, 1), b = Pattern(24, 2), c = Pattern(24, 3);
    TempDir dir;
    std::string path = dir.Path("drops.avi");
    // Position 0 and 3 stay empty.
    ASSERT_TRUE(WriteVideoAvi(path, VideoHeader(0, 1, 25, w, h), FormatBytes(format),
                              {{1, a}, {2, b}, {4, c}}));
    OpenedAvi avi(path);
    PAVISTREAM stream = VideoStream(avi);
    ASSERT_EQ(AVIStreamLength(stream), 5);
    BITMAPINFOHEADER wanted = Wanted(w, h);
    {
        FrameDecoder fresh(stream, &wanted);
        EXPECT_EQ(fresh.At(3, w, h), b) << "asked first, a drop frame still finds its picture";
    }
    std::vector<Image> all = DecodeAll(stream, w, h);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_TRUE(all[0].empty());
    EXPECT_EQ(all[1], a);
    EXPECT_EQ(all[2], b);
    EXPECT_EQ(all[3], b);
    EXPECT_EQ(all[4], c);
}

TEST(DecoderDib, ShortSamplesGiveNoFrameAndTheNextFrameStillComes) {
    TempDir dir;
    for (WORD bits : {24, 16}) {
        const int w = 4, h = 2;
        size_t size = static_cast<size_t>(((w * bits + 31) / 32) * 4 * h);
        std::string path = dir.Path("short" + std::to_string(bits) + ".avi");
        std::vector<uint8_t> good = Pattern(size, 5);
        std::vector<uint8_t> cut(good.begin(), good.end() - 1);
        ASSERT_TRUE(WriteVideoAvi(path, VideoHeader(0, 1, 25, w, h),
                                  FormatBytes(BitmapHeader(w, h, bits, BI_RGB)),
                                  {{0, good}, {1, cut}, {2, good}}));
        OpenedAvi avi(path);
        std::vector<Image> all = DecodeAll(VideoStream(avi), w, h);
        ASSERT_EQ(all.size(), 3u);
        EXPECT_FALSE(all[0].empty()) << bits;
        EXPECT_TRUE(all[1].empty()) << bits;
        EXPECT_EQ(all[2], all[0]) << bits;
    }
}

TEST(DecoderDib, AnotherWantedSizeIsScaledIntoItsOwnRows) {
    // A uniform colour stays that colour at any size; a 565 source goes through the same path.
    TempDir dir;
    std::string path = dir.Path("scaled.avi");
    std::vector<uint8_t> rows;
    for (int i = 0; i < 16; ++i) rows.insert(rows.end(), {30, 60, 90});
    ASSERT_TRUE(WriteVideoAvi(path, VideoHeader(0, 1, 25, 4, 4),
                              FormatBytes(BitmapHeader(4, 4, 24, BI_RGB)), {{0, rows}}));
    OpenedAvi avi(path);
    for (auto [w, h] : {std::pair{7, 3}, std::pair{2, 9}, std::pair{1, 1}}) {
        BITMAPINFOHEADER wanted = Wanted(w, h);
        FrameDecoder decoder(VideoStream(avi), &wanted);
        Image image = decoder.At(0, w, h);
        ASSERT_EQ(image.size(), RowBytes(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(Bgr({image[RowBytes(w) * y + 3 * x], image[RowBytes(w) * y + 3 * x + 1],
                               image[RowBytes(w) * y + 3 * x + 2]}),
                          Bgr({30, 60, 90}))
                    << w << "x" << h << " at " << x << "," << y;
    }
}

TEST(DecoderDib, RefusesWhatItCannotDeliverWithoutCrashing) {
    TempDir dir;
    std::string path = dir.Path("refuse.avi");
    ASSERT_TRUE(WriteVideoAvi(path, VideoHeader(0, 1, 25, 4, 2),
                              FormatBytes(BitmapHeader(4, 2, 24, BI_RGB)), {{0, Pattern(24, 1)}},
                              /*withAudio=*/true));
    OpenedAvi avi(path);
    ASSERT_EQ(avi.streams.size(), 2u);
    PAVISTREAM video = avi.streams[0];

    for (auto [w, h, bits] :
         {std::tuple{0, 2, 24}, std::tuple{4, 0, 24}, std::tuple{-4, 2, 24}, std::tuple{4, 2, 32},
          std::tuple{70000, 2, 24}, std::tuple{40000, 40000, 24}, std::tuple{4, INT32_MIN, 24}}) {
        BITMAPINFOHEADER wanted = Wanted(4, 2);
        wanted.biWidth = w;
        wanted.biHeight = h;
        wanted.biBitCount = static_cast<WORD>(bits);
        EXPECT_EQ(AVIStreamGetFrameOpen(video, &wanted), nullptr) << w << "x" << h << "x" << bits;
    }
    BITMAPINFOHEADER wanted = Wanted(4, 2);
    EXPECT_EQ(AVIStreamGetFrameOpen(avi.streams[1], &wanted), nullptr) << "audio stream";
    EXPECT_EQ(AVIStreamGetFrameOpen(nullptr, &wanted), nullptr);
    // The converter does not test the open result.
    EXPECT_EQ(AVIStreamGetFrame(nullptr, 0), nullptr);
    EXPECT_EQ(AVIStreamGetFrameClose(nullptr), AVIERR_OK);

    FrameDecoder decoder(video, &wanted);
    ASSERT_NE(decoder.handle, nullptr);
    EXPECT_EQ(AVIStreamGetFrame(decoder.handle, -1), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(decoder.handle, 1), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(decoder.handle, INT32_MAX), nullptr);
    EXPECT_NE(AVIStreamGetFrame(decoder.handle, 0), nullptr);

    // An unknown compression code, and a handler code that names nothing either.
    std::string unknown = dir.Path("unknown.avi");
    ASSERT_TRUE(WriteVideoAvi(unknown, VideoHeader(mmioFOURCC('Z', 'Z', 'Z', 'Z'), 1, 25, 4, 2),
                              FormatBytes(BitmapHeader(4, 2, 24, mmioFOURCC('Z', 'Z', 'Z', 'Z'))),
                              {{0, Pattern(24, 1)}}));
    OpenedAvi unknownAvi(unknown);
    EXPECT_EQ(AVIStreamGetFrameOpen(VideoStream(unknownAvi), &wanted), nullptr);
}

TEST(DecoderDib, TheDecoderKeepsTheStreamAliveAfterTheFileIsReleased) {
    TempDir dir;
    std::string path = dir.Path("alive.avi");
    std::vector<uint8_t> rows = Pattern(24, 9);
    ASSERT_TRUE(WriteVideoAvi(path, VideoHeader(0, 1, 25, 4, 2),
                              FormatBytes(BitmapHeader(4, 2, 24, BI_RGB)), {{0, rows}}));
    PGETFRAME decoder = nullptr;
    {
        OpenedAvi avi(path);
        BITMAPINFOHEADER wanted = Wanted(4, 2);
        decoder = AVIStreamGetFrameOpen(VideoStream(avi), &wanted);
        ASSERT_NE(decoder, nullptr);
    }
    auto* frame = static_cast<const uint8_t*>(AVIStreamGetFrame(decoder, 0));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Image(frame + 40, frame + 64), rows);
    AVIStreamGetFrameClose(decoder);
}

}  // namespace
