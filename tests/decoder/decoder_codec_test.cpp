// Compressed streams rewritten by our writer with drop frames, damage and other sizes: the
// decoder keeps every position where it belongs and never reads past what it was given.
#include <algorithm>
#include <utility>

#include <gtest/gtest.h>

#include "decoder_test_support.h"

namespace {

struct Source {
    TempDir dir;
    std::string path;
    int width = 0, height = 0;
    std::vector<Image> reference;  // ffmpeg's pictures of the file as made
};

void MakeSource(Source* s, const std::string& name, const std::string& encoder, int frames,
                int width, int height) {
    s->path = s->dir.Path(name + ".avi");
    s->width = width;
    s->height = height;
    ASSERT_TRUE(MakeAvi(
        s->path, "testsrc2=s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=25",
        frames, encoder));
    s->reference = ReferenceFrames(s->path, width, height);
    ASSERT_EQ(static_cast<int>(s->reference.size()), frames);
}

// Rewrites the video of `from` into `to` through `edit`, which may change the samples.
template <typename Edit>
void Rewrite(const std::string& from, const std::string& to, Edit edit) {
    OpenedAvi avi(from);
    ASSERT_TRUE(avi.ok());
    PAVISTREAM stream = VideoStream(avi);
    std::vector<VideoSample> samples = StoredSamples(stream);
    edit(samples);
    ASSERT_TRUE(WriteVideoAvi(to, StreamInfo(stream), ReadFormat(stream), samples));
}

TEST(DecoderCodec, DropFramesInCompressedStreamsRepeatThePictureBeforeThem) {
    for (const char* encoder : {"-c:v mjpeg -q:v 3", "-c:v libx264 -preset veryfast -g 5 -bf 2"}) {
        Source s;
        MakeSource(&s, "source", encoder, 12, 64, 48);
        std::string dropped = s.dir.Path("dropped.avi");
        // Every sample moves one position on from position 4, and position 4 stays empty.
        Rewrite(s.path, dropped, [](std::vector<VideoSample>& samples) {
            for (VideoSample& sample : samples)
                if (sample.position >= 4) ++sample.position;
        });
        OpenedAvi avi(dropped);
        PAVISTREAM stream = VideoStream(avi);
        ASSERT_EQ(AVIStreamLength(stream), 13);
        std::vector<Image> expected = s.reference;
        expected.insert(expected.begin() + 4, s.reference[3]);
        std::vector<Image> ours = DecodeAll(stream, s.width, s.height);
        ASSERT_EQ(ours.size(), expected.size());
        for (size_t i = 0; i < ours.size(); ++i)
            EXPECT_GE(Psnr(ours[i], expected[i]), 45.0) << encoder << " position " << i;

        BITMAPINFOHEADER wanted = Wanted(s.width, s.height);
        FrameDecoder decoder(stream, &wanted);
        for (LONG p : {4, 12, 0, 5, 4, 3})
            EXPECT_EQ(decoder.At(p, s.width, s.height), ours[static_cast<size_t>(p)])
                << encoder << " jump to " << p;
    }
}

// A frame delivered as planes, converted pixel by pixel into our row layout; the last rows come
// as handed over when the frame has them.
Image PlanesAsRows(const YuvPicture& p) {
    Image rows(RowBytes(p.width) * static_cast<uint64_t>(p.height), 0);
    for (int r = 0; r < p.height; ++r) {
        uint8_t* out = rows.data() + RowBytes(p.width) * static_cast<uint64_t>(p.height - 1 - r);
        if (p.tail && r >= p.tailFirst) {
            std::copy_n(p.tail + static_cast<ptrdiff_t>(r - p.tailFirst) * 3 * p.width, 3 * p.width,
                        out);
            continue;
        }
        const uint8_t* y = p.planes[0] + static_cast<ptrdiff_t>(r) * p.strides[0];
        const ptrdiff_t c = static_cast<ptrdiff_t>(r >> p.chromaShiftY);
        const uint8_t* u = p.planes[1] + c * p.strides[1];
        const uint8_t* v = p.planes[2] + c * p.strides[2];
        for (int x = 0; x < p.width; ++x) {
            const ptrdiff_t at = (x >> p.chromaShiftX) * p.steps[1];
            YuvToBgrPixel(p.toBgr, y[x * p.steps[0]] << 3, u[at] << 3, v[at] << 3, out + 3 * x);
        }
    }
    return rows;
}

// Delivered as planes, every picture (drop frames and jumps included) converts to exactly the
// rows the decoder delivers otherwise, and a frame stays whole while the decoder makes the
// next ones into its other slots. Layouts whose conversion blends chroma (10-bit here) still
// come as rows.
TEST(DecoderCodec, PlanesConvertToTheRowsAndStayValidAtDepth) {
    struct Case {
        const char* encoder;
        int width, height;
        bool planes;
    };
    const Case cases[] = {
        {"-c:v mjpeg -q:v 3 -pix_fmt yuvj422p", 66, 48, true},
        {"-c:v libx264 -preset veryfast -g 5 -bf 2 -pix_fmt yuv420p", 64, 48, true},
        {"-c:v libx264 -preset veryfast -pix_fmt yuv444p", 62, 48, true},
        {"-c:v rawvideo -pix_fmt uyvy422", 64, 48, true},
        {"-c:v rawvideo -pix_fmt yuyv422", 66, 48, true},
        {"-c:v ffv1 -pix_fmt yuv420p10le", 64, 48, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoder);
        Source s;
        MakeSource(&s, "source", c.encoder, 12, c.width, c.height);
        const std::string dropped = s.dir.Path("dropped.avi");
        Rewrite(s.path, dropped, [](std::vector<VideoSample>& samples) {
            for (VideoSample& sample : samples)
                if (sample.position >= 4) ++sample.position;
        });
        OpenedAvi avi(dropped);
        PAVISTREAM stream = VideoStream(avi);
        const std::vector<Image> rows = DecodeAll(stream, c.width, c.height);
        ASSERT_EQ(rows.size(), 13u);

        const BITMAPINFOHEADER wanted = Wanted(c.width, c.height);
        FrameDecoder decoder(stream, &wanted);
        ASSERT_EQ(AVIStreamGetFrameSetPlanar(decoder.handle, 1), AVIERR_OK);
        ASSERT_EQ(AVIStreamGetFrameSetDepth(decoder.handle, 3), AVIERR_OK);
        std::vector<std::pair<LONG, DecodedPicture>> held;
        // Requests for rows come between those for planes, some at the same position: each
        // gets what it asked for, and the frames handed out before stay whole.
        for (LONG p : {0, 1, 2, 3, -4, 4, 5, 6, 7, -7, 8, 9, 10, 11, 12, 4, 4, -4, 0, 7}) {
            if (p < 0) {
                EXPECT_EQ(decoder.At(-p, c.width, c.height), rows[static_cast<size_t>(-p)])
                    << "rows at " << -p;
                held.clear();  // that frame took a slot too
                continue;
            }
            const DecodedPicture frame = AVIStreamGetPicture(decoder.handle, p);
            ASSERT_FALSE(frame.Empty()) << "position " << p;
            held.emplace_back(p, frame);
            if (held.size() > 3) held.erase(held.begin());
            // The frames of the last three requests are all still whole.
            for (const auto& [position, kept] : held) {
                if (!c.planes) {
                    EXPECT_EQ(kept.planes, nullptr);
                    continue;
                }
                ASSERT_NE(kept.planes, nullptr) << "position " << position;
                EXPECT_EQ(kept.frame, nullptr);
                EXPECT_TRUE(PlanesAsRows(*kept.planes) == rows[static_cast<size_t>(position)])
                    << "position " << position << " after asking for " << p;
            }
        }
    }
}

TEST(DecoderCodec, DamagedSamplesGiveNoFrameOrSomeFrameAndLaterKeyFramesDecodeAgain) {
    for (const char* encoder : {"-c:v mjpeg -q:v 3", "-c:v libx264 -preset veryfast -g 6 -bf 2",
                                "-c:v mpeg4 -g 6 -bf 1", "-c:v huffyuv"}) {
        Source s;
        MakeSource(&s, "source", encoder, 18, 64, 48);
        std::string damaged = s.dir.Path("damaged.avi");
        Rewrite(s.path, damaged, [](std::vector<VideoSample>& samples) {
            samples[2].bytes.resize(samples[2].bytes.size() / 2);  // cut short
            for (size_t i = 0; i < samples[3].bytes.size(); i += 7)
                samples[3].bytes[i] ^= 0x5A;   // garbled
            samples[4].bytes.assign(3, 0xFF);  // a few stray bytes
        });
        OpenedAvi avi(damaged);
        PAVISTREAM stream = VideoStream(avi);
        BITMAPINFOHEADER wanted = Wanted(s.width, s.height);
        size_t frameBytes = RowBytes(s.width) * s.height;
        for (int pass = 0; pass < 2; ++pass) {
            FrameDecoder decoder(stream, &wanted);
            ASSERT_NE(decoder.handle, nullptr);
            // Sequentially, then in a jumping order.
            std::vector<LONG> order;
            for (LONG p = 0; p < 18; ++p) order.push_back(pass == 0 ? p : (p * 7) % 18);
            for (LONG p : order) {
                Image image = decoder.At(p, s.width, s.height);
                if (!image.empty()) {
                    EXPECT_EQ(image.size(), frameBytes);
                }
                // From the first key frame after the damage on, pictures are whole again.
                if (p >= 6) {
                    ASSERT_FALSE(image.empty()) << encoder << " position " << p;
                    EXPECT_GE(Psnr(image, s.reference[static_cast<size_t>(p)]), 45.0)
                        << encoder << " position " << p;
                }
            }
        }
    }
}

TEST(DecoderCodec, PicturesOfAnotherSizeAreScaledToTheWantedSize) {
    Source s;
    MakeSource(&s, "source", "-c:v libx264 -preset veryfast -bf 2", 6, 96, 64);
    std::string scaled;
    RunCommand("ffmpeg -v error -i '" + s.path +
                   "' -vf scale=48:40:flags=bicubic -f rawvideo -pix_fmt bgr24 -",
               &scaled);
    ASSERT_EQ(scaled.size(), size_t{6} * 48 * 40 * 3);
    OpenedAvi avi(s.path);
    std::vector<Image> ours = DecodeAll(VideoStream(avi), 48, 40);
    ASSERT_EQ(ours.size(), 6u);
    for (size_t i = 0; i < ours.size(); ++i) {
        Image reference = BottomUpPadded(
            reinterpret_cast<const uint8_t*>(scaled.data()) + i * 48 * 40 * 3, 48, 40);
        EXPECT_GE(Psnr(ours[i], reference), 35.0) << "frame " << i;
    }
}

bool HaveEncoder(const std::string& name) {
    return RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " + name) == 0;
}

// Writes `code` over the stream header's handler and the format's compression code.
void Retag(const std::string& from, const std::string& to, DWORD code) {
    std::vector<uint8_t> bytes = ReadWholeFile(from);
    for (const char* field : {"strh", "strf"}) {
        auto at = std::search(bytes.begin(), bytes.end(), field, field + 4);
        ASSERT_NE(at, bytes.end());
        size_t offset = static_cast<size_t>(at - bytes.begin()) + 8;
        offset += std::string(field) == "strh" ? 4 : 16;  // fccHandler, biCompression
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(code >> (8 * i));
    }
    WriteWholeFile(to, bytes);
}

// HEVC as libx265 writes it into AVI, with B-frames, closed and open GOPs (open ones have
// leading pictures that can't be decoded from their key frame), under every code in use.
TEST(DecoderCodec, HevcFramesMatchFfmpegInOrderAndAfterJumpsUnderEveryCode) {
    if (!HaveEncoder("libx265")) GTEST_SKIP() << "ffmpeg has no libx265 encoder";
    for (const char* gop : {"keyint=8:bframes=3:open-gop=0", "keyint=8:min-keyint=8:bframes=3"}) {
        Source s;
        MakeSource(&s, "source",
                   std::string("-c:v libx265 -vtag HEVC -x265-params log-level=error:") + gop, 30,
                   64, 48);
        for (DWORD code : {mmioFOURCC('H', 'E', 'V', 'C'), mmioFOURCC('h', '2', '6', '5'),
                           mmioFOURCC('h', 'v', 'c', '1'), mmioFOURCC('H', 'e', 'V', '1')}) {
            std::string path = s.dir.Path("retagged.avi");
            Retag(s.path, path, code);
            OpenedAvi avi(path);
            ASSERT_TRUE(avi.ok());
            PAVISTREAM stream = VideoStream(avi);
            std::string what =
                std::string(gop) + " code " + std::string(reinterpret_cast<const char*>(&code), 4);
            std::vector<Image> ours = DecodeAll(stream, s.width, s.height);
            ASSERT_EQ(ours.size(), s.reference.size());
            for (size_t i = 0; i < ours.size(); ++i)
                ASSERT_GE(Psnr(ours[i], s.reference[i]), 45.0) << what << " frame " << i;

            BITMAPINFOHEADER wanted = Wanted(s.width, s.height);
            FrameDecoder decoder(stream, &wanted);
            for (LONG p : {29, 3, 17, 8, 9, 0, 25, 16, 24, 12, 7, 28})
                ASSERT_TRUE(decoder.At(p, s.width, s.height) == ours[static_cast<size_t>(p)])
                    << what << " jump to " << p;
        }
    }
}

TEST(DecoderCodec, GarbageInACodecStreamNeverCrashes) {
    TempDir dir;
    for (DWORD fourcc : {mmioFOURCC('H', '2', '6', '4'), mmioFOURCC('X', 'V', 'I', 'D'),
                         mmioFOURCC('M', 'J', 'P', 'G'), mmioFOURCC('d', 'v', 's', 'd'),
                         mmioFOURCC('c', 'v', 'i', 'd'), mmioFOURCC('U', 'L', 'Y', '0')}) {
        std::string path = dir.Path("garbage.avi");
        std::vector<VideoSample> samples;
        for (LONG p = 0; p < 8; ++p)
            samples.push_back({p,
                               Pattern(static_cast<size_t>(50 + 97 * p), static_cast<uint32_t>(p)),
                               p % 3 == 0});
        std::vector<uint8_t> extradata = Pattern(9, 77);
        ASSERT_TRUE(WriteVideoAvi(path, VideoHeader(fourcc, 1, 25, 32, 16),
                                  FormatBytes(BitmapHeader(32, 16, 24, fourcc), extradata),
                                  samples));
        OpenedAvi avi(path);
        BITMAPINFOHEADER wanted = Wanted(32, 16);
        FrameDecoder decoder(VideoStream(avi), &wanted);
        for (LONG p : {0, 1, 2, 7, 3, 0, 5, 6, 7})
            if (decoder.handle) {
                Image image = decoder.At(p, 32, 16);
                if (!image.empty()) {
                    EXPECT_EQ(image.size(), RowBytes(32) * 16);
                }
            }
    }
}

}  // namespace
