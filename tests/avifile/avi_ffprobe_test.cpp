// Files from our writer read by FFmpeg: no warnings, and the stream counts, frame counts,
// durations and packets that we wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "avi_test_support.h"

namespace {

struct Options {
    int frames = 50;
    LONG videoStart = 0;
    int gapEvery = 0;      // leave out every n-th frame (0: none)
    int extraStreams = 0;  // more video streams added after the first is written
    double audioSeconds = 2;
    uint64_t riffLimit = 0;  // 0: the default
};

constexpr LONG kWidth = 64, kHeight = 48;

void WriteFile(const std::string& path, const Options& o) {
    AVIFileSetRiffLimitForTests(o.riffLimit);
    std::u16string name = U16(path);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    BITMAPINFOHEADER bih = BitmapHeader(kWidth, kHeight, 24, BI_RGB);
    auto addVideo = [&](uint32_t seed) {
        AVISTREAMINFOW vi = VideoHeader(0, 1, 25, kWidth, kHeight);
        vi.dwStart = static_cast<DWORD>(o.videoStart);
        PAVISTREAM v = nullptr;
        ASSERT_EQ(AVIFileCreateStreamW(file, &v, &vi), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
        for (int i = 0; i < o.frames; ++i) {
            if (o.gapEvery && i % o.gapEvery == 1) continue;
            std::vector<uint8_t> frame = Pattern(bih.biSizeImage, seed + static_cast<uint32_t>(i));
            ASSERT_EQ(AVIStreamWrite(v, o.videoStart + i, 1, frame.data(),
                                     static_cast<LONG>(frame.size()), 0, nullptr, nullptr),
                      AVIERR_OK);
        }
        AVIStreamRelease(v);
    };
    addVideo(0);
    if (o.audioSeconds > 0) {
        WAVEFORMATEX wf = PcmFormat(22050, 1);
        AVISTREAMINFOW ai = PcmHeader(22050, 1);
        PAVISTREAM a = nullptr;
        ASSERT_EQ(AVIFileCreateStreamW(file, &a, &ai), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(a, 0, &wf, sizeof wf), AVIERR_OK);
        std::vector<uint8_t> pcm = Pattern(static_cast<size_t>(22050 * o.audioSeconds) * 2, 99);
        ASSERT_EQ(AVIStreamWrite(a, 0, static_cast<LONG>(pcm.size() / 2), pcm.data(),
                                 static_cast<LONG>(pcm.size()), AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        AVIStreamRelease(a);
    }
    for (int s = 0; s < o.extraStreams; ++s) addVideo(1000u * static_cast<uint32_t>(s + 1));
    AVIFileRelease(file);
    AVIFileSetRiffLimitForTests(0);
    ASSERT_EQ(AVIFileLastCloseResult(), AVIERR_OK);
}

int64_t BytesOfStream(const std::vector<ProbePacket>& packets, int stream, int64_t* count) {
    int64_t bytes = 0;
    *count = 0;
    for (const ProbePacket& p : packets) {
        if (p.stream != stream) continue;
        bytes += p.size;
        ++*count;
    }
    return bytes;
}

class OurFilesInFfmpeg : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("ffprobe") || !HaveTool("ffmpeg"))
            GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    }
    // Writes the file, checks FFmpeg reads it cleanly and returns its path.
    std::string Check(const std::string& name, const Options& o) {
        std::string path = dir_.Path(name);
        WriteFile(path, o);
        EXPECT_EQ(ProbeWarnings(path), "");
        std::string decodeWarnings;
        RunCommand("ffmpeg -v warning -nostdin -i '" + path + "' -map 0 -f null - 2>&1",
                   &decodeWarnings);
        // FFmpeg notes the channel layout it assumes for mono PCM; that says nothing about the
        // file.
        if (decodeWarnings.find("Guessed Channel Layout") != std::string::npos)
            decodeWarnings.clear();
        EXPECT_EQ(decodeWarnings, "");
        return path;
    }
    TempDir dir_;
};

TEST_F(OurFilesInFfmpeg, VideoAndAudioHaveTheirFramesAndDurations) {
    Options o;
    std::string path = Check("plain.avi", o);
    EXPECT_EQ(ProbeStreamField(path, 0, "nb_frames"), "50");
    EXPECT_EQ(ProbeStreamField(path, 0, "duration"), "2.000000");
    EXPECT_EQ(ProbeStreamField(path, 0, "width"), "64");
    EXPECT_EQ(ProbeStreamField(path, 1, "codec_name"), "pcm_s16le");
    std::vector<ProbePacket> packets = ProbePackets(path);
    int64_t count = 0;
    EXPECT_EQ(BytesOfStream(packets, 0, &count), 50 * 64 * 48 * 3);
    EXPECT_EQ(count, 50);
    EXPECT_EQ(BytesOfStream(packets, 1, &count), 22050 * 2 * 2);
    for (const ProbePacket& p : packets) EXPECT_TRUE(p.key);
}

TEST_F(OurFilesInFfmpeg, OpenDmlPartsAreFollowed) {
    Options o;
    o.frames = 400;
    o.audioSeconds = 16;
    o.riffLimit = 1 << 20;
    std::string path = Check("odml.avi", o);
    EXPECT_EQ(ProbeStreamField(path, 0, "nb_read_packets"), "400");
    EXPECT_EQ(ProbeStreamField(path, 0, "duration"), "16.000000");
    int64_t count = 0;
    EXPECT_EQ(BytesOfStream(ProbePackets(path), 1, &count), 22050 * 2 * 16);
}

TEST_F(OurFilesInFfmpeg, GapsKeepTheFramesAfterThemInPlace) {
    Options o;
    o.gapEvery = 5;
    std::string path = Check("gaps.avi", o);
    EXPECT_EQ(ProbeStreamField(path, 0, "nb_frames"), "50");
    EXPECT_EQ(ProbeStreamField(path, 0, "nb_read_packets"), "40");  // FFmpeg skips the empty ones
    std::vector<ProbePacket> packets = ProbePackets(path);
    int seen = 0;
    for (const ProbePacket& p : packets) {
        if (p.stream != 0) continue;
        EXPECT_NE(p.pts % 5, 1) << "a frame sits where the gap is";
        ++seen;
    }
    EXPECT_EQ(seen, 40);
}

TEST_F(OurFilesInFfmpeg, StreamStartingLaterStartsLater) {
    Options o;
    o.videoStart = 5;
    std::string path = Check("start.avi", o);
    EXPECT_EQ(ProbeStreamField(path, 0, "nb_read_packets"), "50");
    std::vector<ProbePacket> packets = ProbePackets(path);
    auto video = std::find_if(packets.begin(), packets.end(),
                              [](const ProbePacket& p) { return p.stream == 0; });
    ASSERT_NE(video, packets.end());
    EXPECT_EQ(video->pts, 5);
}

TEST_F(OurFilesInFfmpeg, StreamsAddedLateWithOpenDml) {
    Options o;
    o.frames = 120;
    o.extraStreams = 9;
    o.riffLimit = 1 << 20;
    std::string path = Check("late.avi", o);
    for (int s : {0, 2, 10}) EXPECT_EQ(ProbeStreamField(path, s, "nb_read_packets"), "120") << s;
}

}  // namespace
