// Decoding ahead in the compressor: with frames decoded on a thread of their own, the output,
// the progress and the failures are exactly those of the one-thread compressor.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "avifile/avi_file.h"
#include "vidcrunch/avi_compressor.h"
#include "vidcrunch/video_encoder.h"
#include "vidcrunch_test_support.h"

namespace {

std::string progressBytes;
void KeepProgress(const std::string& bytes) {
    progressBytes += bytes;
}

struct Outcome {
    int result = 0;
    std::string error;
    std::string progress;
    std::string output;  // empty when no file was left
};

Outcome Compress(const std::string& input, const std::string& output, VideoCodec codec,
                 int threads) {
    CompressorOptions options;
    options.inputPath = input;
    options.outputPath = output;
    options.codec = codec;
    options.quality = CodecDefaultQuality(codec);
    options.preset = "veryfast";
    options.threads = threads;
    ProgressReporter progress;
    progress.write = KeepProgress;
    progressBytes.clear();
    Outcome outcome;
    outcome.result = CompressAvi(options, &progress, &outcome.error);
    outcome.progress = progressBytes;
    if (FileExists(output)) outcome.output = ReadWholeFile(output);
    return outcome;
}

// Overwrites the data of video frame `n` with zeros, which no decoder reads as a picture.
// ffprobe tells where the frame's bytes are.
bool BlankVideoFrame(const std::string& path, int n) {
    int code = -1;
    const std::string where = RunShell(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "packet=pos,size -of compact=p=0 '" +
            path + "' | sed -n " + std::to_string(n + 1) + "p",
        &code);
    long long position = -1, size = -1;
    if (code != 0 || std::sscanf(where.c_str(), "size=%lld|pos=%lld", &size, &position) != 2 ||
        position < 0 || size <= 0)
        return false;
    std::string bytes = ReadWholeFile(path);
    if (static_cast<unsigned long long>(position + size) > bytes.size()) return false;
    std::memset(bytes.data() + position, 0, static_cast<size_t>(size));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

class PrefetchedCompression : public ::testing::Test {
  protected:
    void SetUp() override {
        // One encoding thread on both sides, so that the encoder's output depends on its
        // input alone and any difference comes from how the frames were read. The encoders
        // are lossless (FFV1) or intra-only (MJPEG): x264's output also depends on what
        // memory it is given holds before it writes there, so it differs from run to run in
        // one process whatever the input.
        SetEncoderThreads(1);
        AVIFileInit();
        dir_ = MakeTempDir();
    }
    void TearDown() override {
        AVIFileExit();
        SetEncoderThreads(0);
        RemoveTree(dir_);
    }
    std::string Make(const std::string& name, const std::string& video) {
        const std::string path = dir_ + "/" + name + ".avi";
        int code = -1;
        RunShell(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi "
            "-i sine=frequency=440:sample_rate=22050 -t 3 -ac 2 " +
                video + " -c:a pcm_s16le '" + path + "'",
            &code);
        EXPECT_EQ(code, 0) << name;
        return path;
    }
    void ExpectSameOnEveryThreadCount(const std::string& input, VideoCodec codec, bool completes) {
        const Outcome one = Compress(input, dir_ + "/one.avi", codec, 1);
        EXPECT_EQ(one.result, completes ? 1 : 0) << input << ": " << one.error;
        for (int threads : {0, 2, 3}) {
            const Outcome many = Compress(input, dir_ + "/many.avi", codec, threads);
            EXPECT_EQ(many.result, one.result) << input << " threads " << threads;
            EXPECT_EQ(many.error, one.error) << input << " threads " << threads;
            EXPECT_EQ(many.progress, one.progress) << input << " threads " << threads;
            EXPECT_EQ(many.output.size(), one.output.size()) << input << " threads " << threads;
            EXPECT_TRUE(many.output == one.output) << input << " threads " << threads;
        }
        if (completes) {
            EXPECT_FALSE(one.output.empty()) << input;
        }
    }
    std::string dir_;
};

TEST_F(PrefetchedCompression, ReorderedH264MjpegAndRawGiveTheSameFile) {
    ExpectSameOnEveryThreadCount(Make("h264", "-c:v libx264 -preset veryfast -g 12 -bf 3"),
                                 VideoCodec::Ffv1, true);
    ExpectSameOnEveryThreadCount(Make("mjpeg", "-c:v mjpeg -q:v 4"), VideoCodec::Mjpeg, true);
    ExpectSameOnEveryThreadCount(Make("raw", "-c:v rawvideo -pix_fmt bgr24"), VideoCodec::Ffv1,
                                 true);
}

// A frame that can't be decoded ends the job at the same frame with the same message, and the
// partial output goes, however far ahead the decoding thread had got.
TEST_F(PrefetchedCompression, AnUndecodableFrameFailsAtTheSameFrame) {
    const std::string input = Make("broken", "-c:v mjpeg -q:v 4");
    ASSERT_TRUE(BlankVideoFrame(input, 40));
    ExpectSameOnEveryThreadCount(input, VideoCodec::Mjpeg, false);
    const Outcome outcome = Compress(input, dir_ + "/out.avi", VideoCodec::Mjpeg, 2);
    EXPECT_NE(outcome.error.find("frame 40 can't be decoded"), std::string::npos) << outcome.error;
    EXPECT_FALSE(FileExists(dir_ + "/out.avi"));
}

}  // namespace
