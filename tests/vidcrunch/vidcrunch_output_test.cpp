// What vidcrunch.exe writes: checked with FFmpeg's tools and read back through our own AVI
// library and frame decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"
#include "support/unicode_text.h"
#include "vidcrunch_test_support.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kSeconds = 3;
constexpr int kFrames = 25 * kSeconds;

// Every frame of the first video stream through our decoder, as 24-bit bottom-up rows.
std::vector<std::vector<uint8_t>> DecodeAllFrames(const std::string& path, DWORD* handler) {
    std::vector<std::vector<uint8_t>> frames;
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, FromUtf8(path).c_str(), OF_READ, nullptr) != AVIERR_OK) return frames;
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK) {
        AVISTREAMINFOW info{};
        AVIStreamInfoW(stream, &info, sizeof info);
        if (handler) *handler = info.fccHandler;
        PGETFRAME decoder = AVIStreamGetFrameOpen(stream, nullptr);
        LONG start = AVIStreamStart(stream), length = AVIStreamLength(stream);
        for (LONG i = start; decoder && i < start + length; ++i) {
            auto* frame = static_cast<const uint8_t*>(AVIStreamGetFrame(decoder, i));
            if (!frame) break;
            BITMAPINFOHEADER header;
            std::memcpy(&header, frame, sizeof header);
            size_t bytes =
                size_t((header.biWidth * 3 + 3) & ~3) * size_t(std::abs(header.biHeight));
            frames.emplace_back(frame, frame + sizeof header + bytes);
        }
        AVIStreamGetFrameClose(decoder);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return frames;
}

// PSNR of the pixels' luma. Colour is carried at a quarter of the resolution in 4:2:0, which
// on a synthetic picture of saturated bars costs far more in RGB than any coding loss, so the
// brightness is what shows whether a frame was coded well.
double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.size() <= sizeof(BITMAPINFOHEADER)) return -1;
    BITMAPINFOHEADER header;
    std::memcpy(&header, a.data(), sizeof header);
    size_t stride = size_t((header.biWidth * 3 + 3) & ~3);
    double sum = 0;
    size_t count = 0;
    for (size_t y = 0; y < size_t(std::abs(header.biHeight)); ++y) {
        const uint8_t* pa = a.data() + sizeof header + y * stride;
        const uint8_t* pb = b.data() + sizeof header + y * stride;
        for (size_t x = 0; x < size_t(header.biWidth); ++x, pa += 3, pb += 3) {
            double la = 0.114 * pa[0] + 0.587 * pa[1] + 0.299 * pa[2];
            double lb = 0.114 * pb[0] + 0.587 * pb[1] + 0.299 * pb[2];
            sum += (la - lb) * (la - lb);
            ++count;
        }
    }
    double mse = sum / double(count);
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

class CompressedFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = MakeTempDir();
        input_ = dir_ + "/clip.avi";
        output_ = dir_ + "/clip2.avi";
        ASSERT_TRUE(MakeRawAvi(input_, kWidth, kHeight, kSeconds));
        inputBytes_ = ReadWholeFile(input_);
        run_ = RunVidcrunch({input_, output_, "/console"});
    }
    static void TearDownTestSuite() { RemoveTree(dir_); }
    void SetUp() override { ASSERT_EQ(run_.exitCode, 0) << run_.err; }

    static std::string dir_, input_, output_, inputBytes_;
    static ProgramRun run_;
};
std::string CompressedFile::dir_, CompressedFile::input_, CompressedFile::output_,
    CompressedFile::inputBytes_;
ProgramRun CompressedFile::run_;

TEST_F(CompressedFile, IsH264OfTheSourceSizeWithEveryFrame) {
    EXPECT_EQ(ProbeStream(output_, "v:0", "codec_name"), "h264");
    EXPECT_EQ(ProbeStream(output_, "v:0", "codec_tag_string"), "H264");
    EXPECT_EQ(ProbeStream(output_, "v:0", "width"), std::to_string(kWidth));
    EXPECT_EQ(ProbeStream(output_, "v:0", "height"), std::to_string(kHeight));
    EXPECT_EQ(ProbeStream(output_, "v:0", "pix_fmt"), "yuv420p");
    EXPECT_EQ(ProbeStream(output_, "v:0", "nb_read_packets"), std::to_string(kFrames));
    EXPECT_EQ(ProbeStream(output_, "v:0", "r_frame_rate"), "25/1");
    EXPECT_LT(ReadWholeFile(output_).size() * 5, inputBytes_.size());
}

TEST_F(CompressedFile, KeepsTheAudioByteForByteAndLeavesTheInputAlone) {
    std::string md5 = PacketMd5(input_, "a");
    ASSERT_NE(md5.find("MD5="), std::string::npos);
    EXPECT_EQ(PacketMd5(output_, "a"), md5);
    EXPECT_EQ(ProbeStream(output_, "a:0", "nb_read_packets"),
              ProbeStream(input_, "a:0", "nb_read_packets"));
    EXPECT_EQ(ReadWholeFile(input_), inputBytes_);
}

TEST_F(CompressedFile, InterleavesVideoAndAudioAboutOnceASecond) {
    std::vector<int> streams = PacketStreamsInFileOrder(output_);
    ASSERT_FALSE(streams.empty());
    int runs = 1;
    for (size_t i = 1; i < streams.size(); ++i) runs += streams[i] != streams[i - 1];
    // One run of each stream per second: video, audio, video, audio, ...
    EXPECT_GE(runs, 2 * kSeconds);
    EXPECT_LE(runs, 2 * kSeconds + 2);
    EXPECT_EQ(streams.front(), 0);
}

TEST_F(CompressedFile, LooksLikeTheSource) {
    EXPECT_GE(VideoPsnr(output_, input_), 40.0);
}

TEST_F(CompressedFile, ReportsRisingPercentagesInUtf16EndingAt100) {
    const std::string& out = run_.out;
    ASSERT_EQ(out.size() % 2, 0u);
    std::vector<int> values;
    std::string line;
    for (size_t i = 0; i < out.size(); i += 2) {
        ASSERT_EQ(out[i + 1], '\0') << "not UTF-16LE at byte " << i;
        char c = out[i];
        if (c == '\r') {
            ASSERT_LT(i + 3, out.size());
            ASSERT_EQ(out[i + 2], '\n') << "CR without LF";
            ASSERT_FALSE(line.empty());
            values.push_back(std::stoi(line));
            line.clear();
            i += 2;
        } else {
            ASSERT_TRUE(c >= '0' && c <= '9') << "unexpected character " << int(c);
            line.push_back(c);
        }
    }
    EXPECT_TRUE(line.empty()) << "the last line has no end";
    ASSERT_GE(values.size(), 3u);
    EXPECT_EQ(values.front(), 0);
    EXPECT_EQ(values.back(), 100);
    for (size_t i = 1; i < values.size(); ++i) EXPECT_GT(values[i], values[i - 1]);
}

TEST_F(CompressedFile, ReadsBackThroughOurOwnLibraryAndDecoder) {
    DWORD handler = 0;
    std::vector<std::vector<uint8_t>> compressed = DecodeAllFrames(output_, &handler);
    std::vector<std::vector<uint8_t>> source = DecodeAllFrames(input_, nullptr);
    EXPECT_EQ(handler, mmioFOURCC('H', '2', '6', '4'));
    ASSERT_EQ(compressed.size(), size_t(kFrames));
    ASSERT_EQ(source.size(), size_t(kFrames));
    // The frames stay in order: each is closest to its own source frame, not a neighbour.
    for (size_t i = 0; i < compressed.size(); ++i) {
        double own = LumaPsnr(compressed[i], source[i]);
        EXPECT_GE(own, 38.0) << "frame " << i;
        if (i + 1 < compressed.size()) {
            EXPECT_GT(own, LumaPsnr(compressed[i], source[i + 1])) << "frame " << i;
        }
    }
}

struct CodecCase {
    const char* name;
    const char* switchText;
    const char* codecName;
    DWORD fourcc;
};

class OtherCodec : public ::testing::TestWithParam<CodecCase> {};

TEST_P(OtherCodec, GivesAFileBothFfmpegAndOurDecoderRead) {
    const CodecCase& c = GetParam();
    std::string dir = MakeTempDir();
    std::string input = dir + "/odd.avi", output = dir + "/odd2.avi";
    // An odd frame size, which 4:2:0 coders can't take at face value.
    ASSERT_TRUE(MakeRawAvi(input, 63, 47, 1));
    std::vector<std::string> arguments = {input, output};
    if (c.switchText[0]) arguments.push_back(c.switchText);
    ProgramRun run = RunVidcrunch(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ProbeStream(output, "v:0", "codec_name"), c.codecName);
    EXPECT_EQ(ProbeStream(output, "v:0", "width"), "63");
    EXPECT_EQ(ProbeStream(output, "v:0", "height"), "47");
    EXPECT_EQ(ProbeStream(output, "v:0", "nb_read_packets"), "25");
    EXPECT_EQ(PacketMd5(output, "a"), PacketMd5(input, "a"));
    EXPECT_GE(VideoPsnr(output, input), 38.0);

    DWORD handler = 0;
    std::vector<std::vector<uint8_t>> compressed = DecodeAllFrames(output, &handler);
    std::vector<std::vector<uint8_t>> source = DecodeAllFrames(input, nullptr);
    EXPECT_EQ(handler, c.fourcc);
    ASSERT_EQ(compressed.size(), 25u);
    ASSERT_EQ(source.size(), 25u);
    for (size_t i = 0; i < compressed.size(); ++i) {
        if (c.fourcc == mmioFOURCC('F', 'F', 'V', '1')) {
            EXPECT_EQ(compressed[i], source[i]) << "lossless frame " << i << " differs";
        } else {
            EXPECT_GE(LumaPsnr(compressed[i], source[i]), 32.0) << "frame " << i;
        }
    }
    RemoveTree(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, OtherCodec,
    ::testing::Values(CodecCase{"H264", "", "h264", mmioFOURCC('H', '2', '6', '4')},
                      CodecCase{"Mpeg4", "/codec:mpeg4", "mpeg4", mmioFOURCC('F', 'M', 'P', '4')},
                      CodecCase{"Mjpeg", "/codec:mjpeg", "mjpeg", mmioFOURCC('M', 'J', 'P', 'G')},
                      CodecCase{"Ffv1", "/codec:ffv1", "ffv1", mmioFOURCC('F', 'F', 'V', '1')}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return std::string(info.param.name); });

// An odd-sized source through the default H.264: 4:2:0 High profile, which players and hardware
// decoders take, at the exact size as players show it.
struct OddSize {
    int width;
    int height;
};

void PrintTo(const OddSize& size, std::ostream* out) {
    *out << size.width << "x" << size.height;
}

class OddSizedH264 : public ::testing::TestWithParam<OddSize> {};

// The width and height a file's AVI headers give: the stream header's frame rectangle and the
// BITMAPINFOHEADER.
void HeaderSizes(const std::string& path, RECT* frame, BITMAPINFOHEADER* format) {
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, FromUtf8(path).c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    AVISTREAMINFOW info{};
    AVIStreamInfoW(stream, &info, sizeof info);
    *frame = info.rcFrame;
    std::vector<uint8_t> bytes(4096);
    LONG size = static_cast<LONG>(bytes.size());
    EXPECT_EQ(AVIStreamReadFormat(stream, 0, bytes.data(), &size), AVIERR_OK);
    std::memcpy(format, bytes.data(), sizeof *format);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

TEST_P(OddSizedH264, Is420HighProfileShownAtTheExactSize) {
    const OddSize size = GetParam();
    const std::string w = std::to_string(size.width), h = std::to_string(size.height);
    const int codedWidth = size.width + size.width % 2, codedHeight = size.height + size.height % 2;
    std::string dir = MakeTempDir();
    std::string input = dir + "/odd.avi", output = dir + "/odd.h264.avi";
    ASSERT_TRUE(MakeRawAvi(input, size.width, size.height, 1));
    ProgramRun run = RunVidcrunch({input, output});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    EXPECT_EQ(ProbeStream(output, "v:0", "codec_name"), "h264");
    EXPECT_EQ(ProbeStream(output, "v:0", "profile"), "High");
    EXPECT_EQ(ProbeStream(output, "v:0", "pix_fmt"), "yuv420p");
    EXPECT_EQ(ProbeStream(output, "v:0", "width"), w);
    EXPECT_EQ(ProbeStream(output, "v:0", "height"), h);
    RECT frame{};
    BITMAPINFOHEADER format{};
    HeaderSizes(output, &frame, &format);
    EXPECT_EQ(frame.right - frame.left, size.width);
    EXPECT_EQ(frame.bottom - frame.top, size.height);
    EXPECT_EQ(format.biWidth, size.width);
    EXPECT_EQ(format.biHeight, size.height);

    // ffmpeg decodes every frame at the exact size, close to the source.
    std::string frames =
        RunShell("ffmpeg -nostdin -v error -i '" + output + "' -f rawvideo -pix_fmt bgr24 -");
    EXPECT_EQ(frames.size(), size_t(25) * size.width * size.height * 3);
    EXPECT_GE(VideoPsnr(output, input), 38.0);

    // The bitstream alone, without the AVI headers, holds the next even size; its extra column
    // and row repeat the edge rather than showing black.
    std::string bare = dir + "/bare.h264";
    int code = -1;
    RunShell("ffmpeg -nostdin -v error -i '" + output + "' -c:v copy -f h264 '" + bare + "'",
             &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(ProbeStream(bare, "v:0", "width"), std::to_string(codedWidth));
    EXPECT_EQ(ProbeStream(bare, "v:0", "height"), std::to_string(codedHeight));
    std::string luma = RunShell("ffmpeg -nostdin -v error -i '" + bare +
                                "' -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(luma.size(), size_t(codedWidth) * codedHeight);
    auto at = [&](int x, int y) { return int(uint8_t(luma[size_t(y) * codedWidth + x])); };
    // Lossy coding moves single pixels at sharp details; on average the padding is the edge.
    if (codedWidth != size.width) {
        double difference = 0;
        for (int y = 0; y < size.height; ++y)
            difference += std::abs(at(codedWidth - 1, y) - at(size.width - 1, y));
        EXPECT_LT(difference / size.height, 4.0) << "the padding column against the last one";
    }
    if (codedHeight != size.height) {
        double difference = 0;
        for (int x = 0; x < size.width; ++x)
            difference += std::abs(at(x, codedHeight - 1) - at(x, size.height - 1));
        EXPECT_LT(difference / size.width, 4.0) << "the padding row against the bottom one";
    }

    // Our own decoder gives the exact size, frame for frame like the source.
    std::vector<std::vector<uint8_t>> compressed = DecodeAllFrames(output, nullptr);
    std::vector<std::vector<uint8_t>> source = DecodeAllFrames(input, nullptr);
    ASSERT_EQ(compressed.size(), 25u);
    ASSERT_EQ(source.size(), 25u);
    for (size_t i = 0; i < compressed.size(); ++i) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, compressed[i].data(), sizeof header);
        EXPECT_EQ(header.biWidth, size.width);
        EXPECT_EQ(header.biHeight, size.height);
        EXPECT_GE(LumaPsnr(compressed[i], source[i]), 32.0) << "frame " << i;
    }
    RemoveTree(dir);
}

INSTANTIATE_TEST_SUITE_P(Sizes, OddSizedH264,
                         ::testing::Values(OddSize{63, 47}, OddSize{63, 48}, OddSize{64, 47},
                                           OddSize{321, 241}, OddSize{1, 1}),
                         [](const ::testing::TestParamInfo<OddSize>& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

}  // namespace
