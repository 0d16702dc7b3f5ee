// Files made by other writers (FFmpeg, GStreamer) and damaged copies of them, read by our
// reader and checked against FFmpeg's view of the same file: packet sizes, key flags, bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "avi_test_support.h"
#include "avifile/little_endian.h"

namespace {

// What FFmpeg reads of one stream: its packets and their bytes.
struct ProbedStream {
    std::vector<ProbePacket> packets;
    std::vector<uint8_t> bytes;
};

std::map<int, ProbedStream> ProbeStreams(const std::string& path, const TempDir& dir,
                                         size_t streamCount) {
    std::map<int, ProbedStream> streams;
    for (const ProbePacket& p : ProbePackets(path)) streams[p.stream].packets.push_back(p);
    for (size_t i = 0; i < streamCount; ++i) {
        std::string out = dir.Path("stream" + std::to_string(i) + ".bin");
        EXPECT_EQ(RunCommand("ffmpeg -v error -y -i '" + path + "' -map 0:" + std::to_string(i) +
                             " -c copy -f data '" + out + "'"),
                  0);
        streams[static_cast<int>(i)].bytes = ReadWholeFile(out);
    }
    return streams;
}

// Our reader must find what FFmpeg finds: every chunk of a variable-size stream as a packet of
// the same size and key flag, and the same bytes in every stream.
void ExpectSameAsFfmpeg(const std::string& path, const TempDir& dir, bool compareKeys = true) {
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok()) << path;
    std::map<int, ProbedStream> probed = ProbeStreams(path, dir, in.streams.size());
    for (size_t i = 0; i < in.streams.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        PAVISTREAM s = in.streams[i];
        const ProbedStream& p = probed[static_cast<int>(i)];
        EXPECT_EQ(ReadAllBytes(s), p.bytes);
        AVISTREAMINFOW info = StreamInfo(s);
        if (info.dwSampleSize != 0)
            continue;  // FFmpeg cuts fixed-size audio into packets of its own
        std::vector<ProbePacket> ours;
        for (LONG c = 0; c < AVIStreamChunkCount(s); ++c) {
            AVICHUNKINFO chunk{};
            ASSERT_EQ(AVIStreamChunkInfo(s, c, &chunk), AVIERR_OK);
            if (chunk.size > 0)
                ours.push_back({static_cast<int>(i), chunk.firstSample, chunk.size,
                                (chunk.flags & AVIIF_KEYFRAME) != 0});
        }
        ASSERT_EQ(ours.size(), p.packets.size());
        for (size_t k = 0; k < ours.size(); ++k) {
            EXPECT_EQ(ours[k].size, p.packets[k].size) << "packet " << k;
            if (info.fccType == streamtypeVIDEO) {
                EXPECT_EQ(ours[k].pts, p.packets[k].pts) << "packet " << k;
            }
            if (compareKeys) {
                EXPECT_EQ(ours[k].key, p.packets[k].key) << "packet " << k;
            }
        }
        EXPECT_EQ(AVIStreamLength(s), static_cast<LONG>(AVIStreamChunkCount(s)));
    }
}

class ExternalAvi : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg") || !HaveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
    std::string Ffmpeg(const std::string& name, const std::string& args) {
        std::string path = dir_.Path(name);
        std::string command =
            "ffmpeg -v error -y -f lavfi -i testsrc=size=96x64:rate=25 -f lavfi -i "
            "sine=frequency=440:sample_rate=22050 " +
            args + " -t 2 -f avi '" + path + "'";
        EXPECT_EQ(RunCommand(command), 0) << command;
        return path;
    }
    TempDir dir_;
};

TEST_F(ExternalAvi, FfmpegMjpegWithPcm) {
    std::string path = Ffmpeg("mjpeg.avi", "-c:v mjpeg -q:v 5 -c:a pcm_s16le");
    ExpectSameAsFfmpeg(path, dir_);
    OpenedAvi in(path);
    ASSERT_EQ(in.streams.size(), 2u);
    EXPECT_EQ(in.info.dwWidth, 96u);
    EXPECT_EQ(in.info.dwHeight, 64u);
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 50);
    EXPECT_EQ(StreamInfo(in.streams[1]).dwSampleSize, 2u);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 44100);
}

TEST_F(ExternalAvi, FfmpegMpeg4WithMp3) {
    if (RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libmp3lame") != 0)
        GTEST_SKIP() << "no MP3 encoder";
    std::string path = Ffmpeg("mpeg4.avi", "-c:v mpeg4 -g 12 -bf 0 -c:a libmp3lame -q:a 4");
    ExpectSameAsFfmpeg(path, dir_);
    OpenedAvi in(path);
    ASSERT_EQ(in.streams.size(), 2u);
    // MP3 frames vary in size: one sample per chunk.
    EXPECT_EQ(StreamInfo(in.streams[1]).dwSampleSize, 0u);
    // The nearest key frame at or before each frame, as FFmpeg's packet flags say.
    // Empty chunks (frames the encoder held back) have no packet but keep their position.
    LONG lastKey = -1, keys = 0;
    for (const ProbePacket& p : ProbePackets(path)) {
        if (p.stream != 0) continue;
        LONG frame = static_cast<LONG>(p.pts);
        if (p.key) {
            lastKey = frame;
            ++keys;
        }
        EXPECT_EQ(AVIStreamNearestKeyFrame(in.streams[0], frame), lastKey) << frame;
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], frame), p.key ? 1 : 0) << frame;
    }
    EXPECT_GE(keys, 4);
}

TEST_F(ExternalAvi, FfmpegRawVideoWithTwoAudioStreams) {
    std::string path = dir_.Path("raw.avi");
    ASSERT_EQ(
        RunCommand(
            "ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i "
            "sine=sample_rate=8000 "
            "-f lavfi -i sine=frequency=1000:sample_rate=16000 -map 0 -map 1 -map 2 -c:v rawvideo "
            "-pix_fmt bgr24 -c:a:0 pcm_s16le -c:a:1 pcm_u8 -t 1.5 -f avi '" +
            path + "'"),
        0);
    ExpectSameAsFfmpeg(path, dir_);
    OpenedAvi in(path);
    ASSERT_EQ(in.streams.size(), 3u);
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 15);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 12000);
    EXPECT_EQ(AVIStreamLength(in.streams[2]), 24000);
    EXPECT_EQ(StreamInfo(in.streams[2]).dwSampleSize, 1u);
}

TEST_F(ExternalAvi, GstreamerAvimux) {
    if (!HaveTool("gst-launch-1.0")) GTEST_SKIP() << "gst-launch-1.0 not installed";
    std::string path = dir_.Path("gst.avi");
    std::string pipeline =
        "gst-launch-1.0 -q videotestsrc num-buffers=30 ! "
        "video/x-raw,width=80,height=60,framerate=25/1 ! jpegenc ! "
        "avimux name=mux ! filesink location='" +
        path +
        "' audiotestsrc num-buffers=20 samplesperbuffer=1024 ! "
        "audioconvert ! audio/x-raw,format=S16LE,rate=22050,channels=1 ! mux. >/dev/null 2>&1";
    ASSERT_EQ(RunCommand(pipeline), 0);
    ExpectSameAsFfmpeg(path, dir_);
    OpenedAvi in(path);
    ASSERT_EQ(in.streams.size(), 2u);
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 30);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 20 * 1024);
}

// Offsets in idx1 are rewritten from the 'movi' list to the file's start, as some writers do.
TEST_F(ExternalAvi, Idx1WithAbsoluteOffsetsReadsTheSame) {
    std::string path = Ffmpeg("rel.avi", "-c:v mjpeg -c:a pcm_s16le");
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    const char movi[] = "movi", idx1[] = "idx1";
    size_t moviAt = static_cast<size_t>(std::search(bytes.begin(), bytes.end(), movi, movi + 4) -
                                        bytes.begin());
    size_t idx1At = static_cast<size_t>(
        std::search(bytes.begin() + static_cast<long>(moviAt), bytes.end(), idx1, idx1 + 4) -
        bytes.begin());
    ASSERT_LT(idx1At, bytes.size());
    uint32_t entries = GetLe32(&bytes[idx1At + 4]) / 16;
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t* offset = &bytes[idx1At + 8 + 16 * i + 8];
        PutLe32(offset, GetLe32(offset) + static_cast<uint32_t>(moviAt));
    }
    std::string absolute = dir_.Path("abs.avi");
    WriteWholeFile(absolute, bytes);
    OpenedAvi a(path), b(absolute);
    ASSERT_TRUE(a.ok());
    ASSERT_TRUE(b.ok());
    for (size_t s = 0; s < 2; ++s) {
        EXPECT_EQ(ReadAllSamples(b.streams[s]), ReadAllSamples(a.streams[s]));
        AVICHUNKINFO ca{}, cb{};
        AVIStreamChunkInfo(a.streams[s], 3, &ca);
        AVIStreamChunkInfo(b.streams[s], 3, &cb);
        EXPECT_EQ(ca.offset, cb.offset);
        EXPECT_EQ(ca.flags, cb.flags);
    }
}

// Without idx1, or with one that points nowhere, the movi list is walked instead.
TEST_F(ExternalAvi, MissingOrBrokenIndexFallsBackToScanning) {
    std::string path = Ffmpeg("indexed.avi", "-c:v mjpeg -c:a pcm_s16le");
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    const char idx1[] = "idx1";
    auto found = std::find_end(bytes.begin(), bytes.end(), idx1, idx1 + 4);
    ASSERT_NE(found, bytes.end());
    size_t idx1At = static_cast<size_t>(found - bytes.begin());

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(idx1At));
    std::vector<uint8_t> broken = bytes;
    uint32_t entries = GetLe32(&broken[idx1At + 4]) / 16;
    for (uint32_t i = 0; i < entries; ++i)
        PutLe32(&broken[idx1At + 8 + 16 * i + 8], 0x7FFFFF00u - i);

    OpenedAvi reference(path);
    ASSERT_TRUE(reference.ok());
    for (const auto& damaged : {cut, broken}) {
        OpenedAvi in(damaged.data(), damaged.size());
        ASSERT_TRUE(in.ok());
        ASSERT_EQ(in.streams.size(), 2u);
        for (size_t s = 0; s < 2; ++s) {
            EXPECT_EQ(AVIStreamLength(in.streams[s]), AVIStreamLength(reference.streams[s]));
            EXPECT_EQ(ReadAllBytes(in.streams[s]), ReadAllBytes(reference.streams[s]));
        }
        // Key frames of compressed video can't be known without an index: only the first is one.
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 0), 1);
        EXPECT_EQ(AVIStreamNearestKeyFrame(in.streams[0], 40), 0);
    }
}

// Offset of the last occurrence of a FOURCC in a file.
size_t LastFourcc(const std::vector<uint8_t>& bytes, const char* fourcc) {
    auto found = std::find_end(bytes.begin(), bytes.end(), fourcc, fourcc + 4);
    return found == bytes.end() ? bytes.size() : static_cast<size_t>(found - bytes.begin());
}

// A file cut inside its idx1 (a copy stopped early) still holds every chunk in its movi list:
// all of them are read, as FFmpeg reads them, whether the cut leaves many entries or none.
TEST_F(ExternalAvi, FileCutInsideIdx1GivesEveryFrameOfTheMoviList) {
    std::string path = dir_.Path("whole.avi");
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=96x64:rate=25 -frames:v 200 "
                         "-c:v mjpeg -q:v 5 -f avi '" +
                         path + "'"),
              0);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    size_t idx1At = LastFourcc(bytes, "idx1");
    ASSERT_LT(idx1At, bytes.size());
    ASSERT_EQ(GetLe32(&bytes[idx1At + 4]), 200u * 16);
    OpenedAvi whole(path);
    ASSERT_TRUE(whole.ok());
    std::vector<std::vector<uint8_t>> frames = ReadAllSamples(whole.streams[0]);
    ASSERT_EQ(frames.size(), 200u);

    // 145 entries and a half, one entry short, only the chunk header.
    for (size_t keep : {size_t{8 + 145 * 16 + 7}, size_t{8 + 199 * 16}, size_t{8}}) {
        SCOPED_TRACE("idx1 bytes kept: " + std::to_string(keep));
        std::string cut = dir_.Path("cut.avi");
        WriteWholeFile(cut, std::vector<uint8_t>(bytes.begin(),
                                                 bytes.begin() + static_cast<long>(idx1At + keep)));
        EXPECT_EQ(ProbeStreamField(cut, 0, "nb_read_packets"), "200");
        ExpectSameAsFfmpeg(cut, dir_, false);
        OpenedAvi in(cut);
        ASSERT_TRUE(in.ok());
        std::vector<std::vector<uint8_t>> read = ReadAllSamples(in.streams[0]);
        ASSERT_EQ(read.size(), frames.size());
        EXPECT_TRUE(read == frames);
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 0), 1);
    }
}

// Damaged idx1 entries (an offset into another chunk, a garbled id, a wrong size) are not used;
// the chunks they stood for come from the movi list, and the sound entries keep their key
// flags, which a walk of the movi list alone can't give.
TEST_F(ExternalAvi, DamagedIdx1EntriesAreReplacedByTheChunksTheMoviListHolds) {
    std::string path = Ffmpeg("mpeg4.avi", "-c:v mpeg4 -g 12 -bf 0 -c:a pcm_s16le");
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    size_t idx1At = LastFourcc(bytes, "idx1");
    ASSERT_LT(idx1At, bytes.size());
    uint32_t entries = GetLe32(&bytes[idx1At + 4]) / 16;
    ASSERT_GT(entries, 60u);
    auto entry = [&](uint32_t i) { return &bytes[idx1At + 8 + 16 * i]; };
    OpenedAvi reference(path);
    ASSERT_TRUE(reference.ok());

    std::vector<uint8_t> into = bytes, garbled = bytes, resized = bytes;
    PutLe32(&into[idx1At + 8 + 16 * 20 + 8], GetLe32(entry(21) + 8) + 6);
    std::memcpy(&garbled[idx1At + 8 + 16 * 30], "\x01zz\x02", 4);
    PutLe32(&resized[idx1At + 8 + 16 * 40 + 12], GetLe32(entry(40) + 12) / 2);
    for (const auto& damaged : {into, garbled, resized}) {
        OpenedAvi in(damaged.data(), damaged.size());
        ASSERT_TRUE(in.ok());
        ASSERT_EQ(in.streams.size(), 2u);
        for (size_t s = 0; s < 2; ++s) {
            std::vector<std::vector<uint8_t>> read = ReadAllSamples(in.streams[s]);
            ASSERT_EQ(read.size(), static_cast<size_t>(AVIStreamLength(reference.streams[s])));
            EXPECT_TRUE(read == ReadAllSamples(reference.streams[s])) << "stream " << s;
        }
        EXPECT_EQ(AVIStreamNearestKeyFrame(in.streams[0], 40), 36);
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 48), 1);
    }
}

// Files cut inside their headers hold no stream that can be read: FFmpeg calls them invalid
// data, and so are they here. A cut after the data list has begun still opens.
TEST_F(ExternalAvi, FileCutInsideItsHeadersIsRefused) {
    for (const char* video : {"-c:v mjpeg", "-c:v rawvideo -pix_fmt bgr24"}) {
        SCOPED_TRACE(video);
        std::string path = Ffmpeg("whole.avi", std::string(video) + " -c:a pcm_s16le");
        std::vector<uint8_t> bytes = ReadWholeFile(path);
        size_t moviAt = LastFourcc(bytes, "movi");
        ASSERT_GT(moviAt, 5000u);
        std::string cut = dir_.Path("cut.avi");
        for (size_t keep : {size_t{177}, size_t{2871}, size_t{5000}, moviAt + 4}) {
            SCOPED_TRACE("bytes kept: " + std::to_string(keep));
            WriteWholeFile(
                cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
            bool ffmpegReads = RunCommand("ffprobe -v quiet '" + cut + "'") == 0;
            OpenedAvi in(cut);
            EXPECT_EQ(in.ok(), ffmpegReads);
            if (keep < moviAt) {
                EXPECT_EQ(in.result, AVIERR_BADFORMAT);
            }
        }
        // Cut inside the data: the whole frames before the cut are there.
        size_t keep = moviAt + (bytes.size() - moviAt) / 2;
        WriteWholeFile(
            cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
        OpenedAvi whole(path), in(cut);
        ASSERT_TRUE(in.ok());
        std::vector<std::vector<uint8_t>> frames = ReadAllSamples(whole.streams[0]);
        std::vector<std::vector<uint8_t>> read = ReadAllSamples(in.streams[0]);
        ASSERT_GT(read.size(), 10u);
        ASSERT_LT(read.size(), frames.size());
        EXPECT_TRUE(std::equal(read.begin(), read.end(), frames.begin()));
    }
}

}  // namespace
