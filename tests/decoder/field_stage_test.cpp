// The field stage under the frame decoder, on DV woven from a 50 p moving picture (ffmpeg's):
// what it hands on in order is what it hands on in any other order, drop frames repeat the
// deinterlaced picture before them, and what each frame is said to hold is true.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "decoder_test_support.h"

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;

struct Woven {
    TempDir dir;
    std::string path;
    std::string withDrops;
};

void MakeWoven(Woven* w) {
    w->path = w->dir.Path("woven.avi");
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc2=s=720x576:r=50 -t 0.6 "
                         "-vf tinterlace=mode=interleave_bottom,setfield=bff -c:v dvvideo "
                         "-pix_fmt yuv420p -y '" +
                         w->path + "'"),
              0);
    // The same with empty chunks at positions 4, 5 and 11: each sample from 4 on moves two
    // positions on, and from 10 on one more.
    w->withDrops = w->dir.Path("drops.avi");
    OpenedAvi avi(w->path);
    ASSERT_TRUE(avi.ok());
    PAVISTREAM stream = VideoStream(avi);
    std::vector<VideoSample> samples = StoredSamples(stream);
    for (VideoSample& sample : samples)
        sample.position += sample.position >= 10 ? 3 : sample.position >= 4 ? 2 : 0;
    ASSERT_TRUE(WriteVideoAvi(w->withDrops, StreamInfo(stream), ReadFormat(stream), samples));
}

// Every position's frame from a decoder with a field stage, asked in the order given.
std::vector<Image> Decode(PAVISTREAM stream, Deinterlacing mode, const std::vector<LONG>& order,
                          std::vector<PictureFacts>* facts = nullptr) {
    const BITMAPINFOHEADER wanted = Wanted(kWidth, kHeight);
    PGETFRAME decoder = AVIStreamGetFrameOpen(stream, &wanted, 1);
    EXPECT_EQ(AVIStreamGetFrameSetFields(decoder, mode), AVIERR_OK);
    std::vector<Image> frames(static_cast<size_t>(AVIStreamLength(stream)));
    if (facts) facts->assign(frames.size(), {});
    for (LONG position : order) {
        const DecodedPicture picture = AVIStreamGetPicture(decoder, position);
        if (picture.Empty() || picture.rows == nullptr) continue;
        frames[static_cast<size_t>(position)].assign(picture.rows,
                                                     picture.rows + RowBytes(kWidth) * kHeight);
        if (facts) (*facts)[static_cast<size_t>(position)] = picture.facts;
    }
    AVIStreamGetFrameClose(decoder);
    return frames;
}

// The positions where two runs' frames differ (empty when none do).
std::vector<LONG> Differences(const std::vector<Image>& a, const std::vector<Image>& b) {
    std::vector<LONG> positions;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i)
        if (i >= a.size() || i >= b.size() || a[i] != b[i])
            positions.push_back(static_cast<LONG>(i));
    return positions;
}

std::vector<LONG> InOrder(LONG length) {
    std::vector<LONG> order(static_cast<size_t>(length));
    for (LONG i = 0; i < length; ++i) order[static_cast<size_t>(i)] = i;
    return order;
}

// The woven file's video stream, and ffmpeg's file kept open for as long as the test runs.
struct WovenStream {
    Woven woven;
    std::unique_ptr<OpenedAvi> avi;
    PAVISTREAM stream = nullptr;
    LONG length = 0;
};
void OpenWoven(WovenStream* w, bool withDrops) {
    MakeWoven(&w->woven);
    w->avi = std::make_unique<OpenedAvi>(withDrops ? w->woven.withDrops : w->woven.path);
    ASSERT_TRUE(w->avi->ok());
    w->stream = VideoStream(*w->avi);
    w->length = AVIStreamLength(w->stream);
}

TEST(FieldStage, AnyOrderOfRequestsGivesTheFramesOfOneRunInOrder) {
    WovenStream w;
    ASSERT_NO_FATAL_FAILURE(OpenWoven(&w, true));
    PAVISTREAM stream = w.stream;
    const LONG length = w.length;
    ASSERT_EQ(length, 18);
    std::vector<PictureFacts> facts;
    const std::vector<Image> inOrder =
        Decode(stream, Deinterlacing::kAuto, InOrder(length), &facts);
    for (LONG i = 0; i < length; ++i) {
        ASSERT_FALSE(inOrder[static_cast<size_t>(i)].empty()) << i;
        EXPECT_TRUE(facts[static_cast<size_t>(i)].deinterlaced) << i;
        EXPECT_EQ(facts[static_cast<size_t>(i)].fields, FieldOrder::kProgressive) << i;
    }
    // Drop frames show the picture before them, deinterlaced as it was.
    for (const auto& [drop, shown] : {std::pair{4, 3}, std::pair{5, 3}, std::pair{12, 11}})
        EXPECT_TRUE(inOrder[static_cast<size_t>(drop)] == inOrder[static_cast<size_t>(shown)])
            << drop;
    // Backwards, and in jumps over drop frames and across the stream.
    std::vector<LONG> backwards = InOrder(length);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(Differences(Decode(stream, Deinterlacing::kAuto, backwards), inOrder),
              std::vector<LONG>{});
    const std::vector<LONG> jumps{9, 2, 17, 6, 0, 12, 13, 4, 1, 16, 3, 5, 7, 8, 10, 11, 14, 15};
    EXPECT_EQ(Differences(Decode(stream, Deinterlacing::kAuto, jumps), inOrder),
              std::vector<LONG>{});
}

TEST(FieldStage, KeptFieldsAreFoundAndConvertedFieldByField) {
    WovenStream w;
    ASSERT_NO_FATAL_FAILURE(OpenWoven(&w, false));
    PAVISTREAM stream = w.stream;
    const LONG length = w.length;
    std::vector<PictureFacts> facts;
    const std::vector<Image> kept = Decode(stream, Deinterlacing::kDetect, InOrder(length), &facts);
    for (LONG i = 0; i < length; ++i) {
        EXPECT_FALSE(facts[static_cast<size_t>(i)].deinterlaced) << i;
        EXPECT_EQ(facts[static_cast<size_t>(i)].fields, FieldOrder::kBottomFirst) << i;
    }
    // Each field's chroma stays on its own lines, as ffmpeg's field-wise conversion keeps it;
    // converted as a frame, the two fields' colours mix.
    const std::vector<Image> byFields =
        ReferenceFrames(w.woven.path, kWidth, kHeight, "scale=interl=1");
    const std::vector<Image> asFrames = DecodeAll(stream, kWidth, kHeight);
    ASSERT_EQ(byFields.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_GE(Psnr(kept[i], byFields[i]), 60.0) << i;
        EXPECT_LT(Psnr(asFrames[i], byFields[i]), 50.0) << i;
    }
    // Deinterlacing them changes every frame.
    const std::vector<Image> deinterlaced = Decode(stream, Deinterlacing::kAuto, InOrder(length));
    EXPECT_EQ(Differences(deinterlaced, kept).size(), kept.size());
}

}  // namespace
