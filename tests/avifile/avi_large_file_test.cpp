// Files past 1 GiB, where OpenDML takes over for real: our writer's, read back by us and by
// FFmpeg, and FFmpeg's, read by us. Slow: they write over a gigabyte each.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "avi_test_support.h"
#include "avifile/little_endian.h"

namespace {

constexpr LONG kWidth = 640, kHeight = 480;
constexpr size_t kFrameBytes = kWidth * kHeight * 3;

// Cheap to make and to check: the frame number at the front, a fill byte after it.
std::vector<uint8_t> Frame(LONG i) {
    std::vector<uint8_t> frame(kFrameBytes, static_cast<uint8_t>(i * 7));
    PutLe32(frame.data(), static_cast<uint32_t>(i));
    return frame;
}

TEST(AviLargeFile, OurWriterPastOneGibIsReadBackByUsAndFfmpeg) {
    TempDir dir;
    std::string path = dir.Path("large.avi");
    const LONG frames = 1300;  // about 1.2 GB
    {
        std::u16string name = U16(path);
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
        AVISTREAMINFOW vi = VideoHeader(0, 1, 25, kWidth, kHeight);
        BITMAPINFOHEADER bih = BitmapHeader(kWidth, kHeight, 24, BI_RGB);
        PAVISTREAM v = nullptr, a = nullptr;
        ASSERT_EQ(AVIFileCreateStreamW(file, &v, &vi), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
        AVISTREAMINFOW ai = PcmHeader(44100, 2);
        WAVEFORMATEX wf = PcmFormat(44100, 2);
        ASSERT_EQ(AVIFileCreateStreamW(file, &a, &ai), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(a, 0, &wf, sizeof wf), AVIERR_OK);
        // Interleaved as the compressor writes: a frame, then its share of audio.
        std::vector<uint8_t> pcm = Pattern(1764 * 4, 3);
        for (LONG i = 0; i < frames; ++i) {
            std::vector<uint8_t> frame = Frame(i);
            ASSERT_EQ(AVIStreamWrite(v, i, 1, frame.data(), static_cast<LONG>(frame.size()), 0,
                                     nullptr, nullptr),
                      AVIERR_OK);
            ASSERT_EQ(AVIStreamWrite(a, i * 1764, 1764, pcm.data(), 1764 * 4, AVIIF_KEYFRAME,
                                     nullptr, nullptr),
                      AVIERR_OK);
        }
        AVIStreamRelease(v);
        AVIStreamRelease(a);
        AVIFileRelease(file);
        ASSERT_EQ(AVIFileLastCloseResult(), AVIERR_OK);
    }

    // Every RIFF part stays within 1 GiB, and the parts cover the file.
    {
        std::ifstream file(path, std::ios::binary);
        uint64_t pos = 0, parts = 0, end = std::filesystem::file_size(path);
        uint8_t head[12];
        while (pos < end && file.seekg(static_cast<std::streamoff>(pos)) &&
               file.read(reinterpret_cast<char*>(head), 12)) {
            EXPECT_EQ(GetLe32(head), mmioFOURCC('R', 'I', 'F', 'F'));
            EXPECT_LE(GetLe32(head + 4) + 8ull, 1ull << 30);
            pos += 8 + uint64_t{GetLe32(head + 4)};
            ++parts;
        }
        EXPECT_EQ(pos, end);
        EXPECT_GE(parts, 2u);
    }

    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(AVIStreamLength(in.streams[0]), frames);
    ASSERT_EQ(AVIStreamLength(in.streams[1]), frames * 1764);
    std::vector<uint8_t> frame(kFrameBytes);
    for (LONG i = 0; i < frames; ++i) {
        LONG bytes = 0, count = 0;
        ASSERT_EQ(AVIStreamRead(in.streams[0], i, 1, frame.data(), static_cast<LONG>(frame.size()),
                                &bytes, &count),
                  AVIERR_OK);
        ASSERT_EQ(frame, Frame(i)) << i;
    }
    std::vector<uint8_t> pcm(1764 * 4);
    LONG bytes = 0, count = 0;
    ASSERT_EQ(AVIStreamRead(in.streams[1], (frames - 1) * 1764, 1764, pcm.data(), 1764 * 4, &bytes,
                            &count),
              AVIERR_OK);
    EXPECT_EQ(pcm, Pattern(1764 * 4, 3));

    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    EXPECT_EQ(ProbeWarnings(path), "");
    EXPECT_EQ(ProbeStreamField(path, 0, "nb_read_packets"), std::to_string(frames));
    EXPECT_EQ(ProbeStreamField(path, 0, "duration"), "52.000000");
}

TEST(AviLargeFile, FfmpegOpenDmlFileIsReadLikeFfmpegReadsIt) {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    TempDir dir;
    std::string path = dir.Path("ffmpeg-large.avi");
    ASSERT_EQ(
        RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i "
                   "sine=sample_rate=44100 "
                   "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -frames:v 1300 -t 52 -f avi '" +
                   path + "'"),
        0);
    std::vector<ProbePacket> packets = ProbePackets(path);
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.streams.size(), 2u);
    std::vector<ProbePacket> video;
    int64_t audioBytes = 0;
    for (const ProbePacket& p : packets) {
        if (p.stream == 0) video.push_back(p);
        if (p.stream == 1) audioBytes += p.size;
    }
    ASSERT_EQ(AVIStreamChunkCount(in.streams[0]), static_cast<LONG>(video.size()));
    for (size_t i = 0; i < video.size(); ++i) {
        AVICHUNKINFO chunk{};
        ASSERT_EQ(AVIStreamChunkInfo(in.streams[0], static_cast<LONG>(i), &chunk), AVIERR_OK);
        EXPECT_EQ(chunk.size, static_cast<DWORD>(video[i].size));
        EXPECT_EQ((chunk.flags & AVIIF_KEYFRAME) != 0, video[i].key);
    }
    LONG bytes = 0, count = 0;
    ASSERT_EQ(
        AVIStreamRead(in.streams[1], 0, AVIStreamLength(in.streams[1]), nullptr, 0, &bytes, &count),
        AVIERR_OK);
    EXPECT_EQ(bytes, audioBytes);
    // A frame from the last part matches FFmpeg's copy of it.
    std::string last = dir.Path("last.bgr");
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -i '" + path +
                         "' -map 0:0 -c copy -f data -ss 51.8 '" + last + "'"),
              0);
    std::vector<uint8_t> tail = ReadWholeFile(last);
    ASSERT_GE(tail.size(), kFrameBytes);
    std::vector<uint8_t> frame(kFrameBytes);
    LONG total = AVIStreamLength(in.streams[0]);
    ASSERT_EQ(AVIStreamRead(in.streams[0], total - 1, 1, frame.data(),
                            static_cast<LONG>(frame.size()), &bytes, &count),
              AVIERR_OK);
    EXPECT_TRUE(
        std::equal(frame.begin(), frame.end(), tail.end() - static_cast<long>(kFrameBytes)));
}

}  // namespace
