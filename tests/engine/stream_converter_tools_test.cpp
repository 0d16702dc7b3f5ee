// The converter's output as independent tools see it: sources made by ffmpeg are converted by
// the engine, then ffprobe reads the streams back, ffmpeg's stream copy checks the audio bytes
// and ffmpeg's own scaler, fed the same decoded frames, gives the pixels to compare with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "avi/stream_converter.h"
#include "engine_test_files.h"
#include "support/unicode_text.h"

namespace {

bool HaveFfmpeg() {
    static const bool present =
        RunShell("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0;
    return present;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// Runs the engine as the job does: open, create, set the target size, convert, close.
void Convert(const std::string& sourcePath, const std::string& destinationPath, int32_t width,
             int32_t height, uint32_t options, const ConverterSettings& settings = {}) {
    AviFileRecord source;
    AviFileRecord destination;
    ASSERT_EQ(OpenSourceAvi(FromUtf8(sourcePath), source), 1);
    ASSERT_EQ(CreateDestinationAvi(FromUtf8(destinationPath), destination), 1);
    destination.fileInfo.dwWidth = static_cast<DWORD>(width);
    destination.fileInfo.dwHeight = static_cast<DWORD>(height);
    ConvertStreams(source, destination, options, nullptr, settings);
    CloseAvi(destination);
    CloseAvi(source);
    ASSERT_EQ(AVIFileLastCloseResult(), AVIERR_OK);
}

// One line per stream in file order, as ffprobe reports it after reading every packet:
// "type codec tag pixfmt WxH frames" for video, "type codec rate channels" for audio.
std::vector<std::string> ProbeStreams(const std::string& path) {
    std::string out;
    RunShell(
        "ffprobe -v error -count_packets -show_entries "
        "stream=codec_type,codec_name,codec_tag,pix_fmt,width,height,sample_rate,channels,"
        "nb_read_packets -of json " +
            Quoted(path),
        &out);
    // A small reader for ffprobe's flat per-stream objects: collect "key": value pairs.
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = out.find("{", at + 1)) != std::string::npos) {
        const size_t end = out.find("}", at);
        if (end == std::string::npos) break;
        const std::string object = out.substr(at, end - at);
        auto field = [&](const std::string& key) {
            const size_t k = object.find("\"" + key + "\":");
            if (k == std::string::npos) return std::string("-");
            size_t v = k + key.size() + 3;
            while (v < object.size() && (object[v] == ' ' || object[v] == '"')) ++v;
            size_t e = v;
            while (e < object.size() && object[e] != '"' && object[e] != ',' && object[e] != '\n')
                ++e;
            return object.substr(v, e - v);
        };
        const std::string type = field("codec_type");
        if (type == "video")
            lines.push_back("video " + field("codec_name") + " " + field("codec_tag") + " " +
                            field("pix_fmt") + " " + field("width") + "x" + field("height") + " " +
                            field("nb_read_packets"));
        else if (type != "-")
            lines.push_back(type + " " + field("codec_name") + " " + field("sample_rate") + " " +
                            field("channels"));
    }
    return lines;
}

// What ffprobe has to say about a file at warning level; empty for a well-formed file.
std::string ProbeWarnings(const std::string& path) {
    std::string out;
    RunShell("ffprobe -v warning " + Quoted(path) + " 2>&1", &out);
    return out;
}

// The digest of one audio stream's packets, copied out by ffmpeg without decoding.
std::string AudioDigest(const std::string& path, int audioIndex) {
    std::string out;
    RunShell("ffmpeg -v error -i " + Quoted(path) + " -map 0:a:" + std::to_string(audioIndex) +
                 " -c copy -f md5 - 2>/dev/null",
             &out);
    return out;
}

// Every frame of the first video stream decoded by ffmpeg to packed top-down BGR, optionally
// through its scaler; one output frame per stored frame (no frames repeated to fill gaps in
// time). Full-chroma flags keep swscale in RGB, so that only scaling is compared.
std::string DecodedFrames(const std::string& path, const std::string& scale = "") {
    std::string out;
    const std::string filter =
        scale.empty() ? ""
                      : " -vf scale=" + scale + "+full_chroma_int+full_chroma_inp+accurate_rnd";
    RunShell("ffmpeg -v error -i " + Quoted(path) + " -map 0:v:0 -fps_mode passthrough" + filter +
                 " -f rawvideo -pix_fmt bgr24 - 2>/dev/null",
             &out);
    return out;
}

// ffmpeg's scaling of `frames`, raw BGR frames of the given size.
std::string ScaledByFfmpeg(const std::string& framesPath, int width, int height,
                           const std::string& scale) {
    std::string out;
    RunShell("ffmpeg -v error -f rawvideo -pix_fmt bgr24 -s " + std::to_string(width) + "x" +
                 std::to_string(height) + " -i " + Quoted(framesPath) + " -vf scale=" + scale +
                 "+full_chroma_int+full_chroma_inp+accurate_rnd -f rawvideo -pix_fmt bgr24 - "
                 "2>/dev/null",
             &out);
    return out;
}

struct Difference {
    double psnr = 0;  // dB; 1000 for identical bytes
    int largest = 0;  // largest difference of one byte
};

Difference Compare(const std::string& a, const std::string& b) {
    Difference d;
    if (a.size() != b.size() || a.empty()) return d;
    double squares = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int delta = std::abs(static_cast<int>(static_cast<uint8_t>(a[i])) -
                                   static_cast<int>(static_cast<uint8_t>(b[i])));
        squares += static_cast<double>(delta) * delta;
        if (delta > d.largest) d.largest = delta;
    }
    d.psnr = squares == 0
                 ? 1000
                 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / squares);
    return d;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

class ToolsCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
    // A source file made by ffmpeg from its test pattern and sine tones.
    std::string MakeSource(const std::string& name, const std::string& arguments) {
        const std::string path = dir_.Path(name);
        const int rc = RunShell("ffmpeg -v error -y " + arguments + " " + Quoted(path) + " 2>&1");
        EXPECT_EQ(rc, 0) << "ffmpeg could not make " << name;
        return path;
    }
    ScratchDir dir_;
};

// 64x48, 20 frames of 24-bit uncompressed video, then stereo 22050 Hz and mono 8000 Hz PCM.
const char* const kRawWithTwoAudioStreams =
    "-f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
    "-f lavfi -i sine=frequency=1000:sample_rate=8000 -t 0.8 -map 0:v -map 1:a -map 2:a "
    "-ac:a:0 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le";

TEST_F(ToolsCheck, StreamsKeepSourceOrderAndAudioPacketsAreUntouched) {
    const std::string source = MakeSource("raw.avi", kRawWithTwoAudioStreams);
    const std::string destination = dir_.Path("out.avi");
    Convert(source, destination, 40, 30, OPTION_ANTI_ALIAS);

    EXPECT_EQ(ProbeStreams(source),
              (std::vector<std::string>{"video rawvideo 0x0000 bgr24 64x48 20",
                                        "audio pcm_s16le 22050 2", "audio pcm_s16le 8000 1"}));
    EXPECT_EQ(ProbeStreams(destination),
              (std::vector<std::string>{"video rawvideo 0x0000 bgr24 40x30 20",
                                        "audio pcm_s16le 22050 2", "audio pcm_s16le 8000 1"}));
    EXPECT_EQ(ProbeWarnings(destination), "");

    // The two tones differ, so a swapped or merged copy could not pass.
    const std::string first = AudioDigest(source, 0);
    const std::string second = AudioDigest(source, 1);
    ASSERT_NE(first.find("MD5="), std::string::npos);
    ASSERT_NE(first, second);
    EXPECT_EQ(AudioDigest(destination, 0), first);
    EXPECT_EQ(AudioDigest(destination, 1), second);
}

TEST_F(ToolsCheck, AudioBeforeVideoStaysFirst) {
    const std::string source = MakeSource(
        "audio-first.avi",
        "-f lavfi -i sine=frequency=300:sample_rate=44100 -f lavfi -i testsrc2=size=64x48:rate=25 "
        "-t 0.4 -map 0:a -map 1:v -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le");
    const std::string destination = dir_.Path("out.avi");
    Convert(source, destination, 32, 24, 0);
    EXPECT_EQ(ProbeStreams(destination),
              (std::vector<std::string>{"audio pcm_s16le 44100 1",
                                        "video rawvideo 0x0000 bgr24 32x24 10"}));
    EXPECT_EQ(ProbeWarnings(destination), "");
    EXPECT_EQ(AudioDigest(destination, 0), AudioDigest(source, 0));
}

// Uncompressed source: decoding is exact, so any difference comes from scaling or from how the
// frames were stored (row order, padding, position).
struct ScaleCase {
    int width, height;
    uint32_t options;
    const char* ffmpegFlags;
};

TEST_F(ToolsCheck, FramesMatchFfmpegScalingOfTheSameFrames) {
    const std::string source = MakeSource("raw.avi", kRawWithTwoAudioStreams);
    const std::string sourceFrames = DecodedFrames(source);
    ASSERT_EQ(sourceFrames.size(), 64u * 48 * 3 * 20);
    const ScaleCase cases[] = {
        // Nearest on whole and half ratios picks the same pixels as swscale's point filter.
        {32, 24, 0, "flags=neighbor"},
        {128, 96, 0, "flags=neighbor"},
        {96, 72, 0, "flags=neighbor"},
        // Averaging, shrinking by 2, by an uneven ratio, to an odd width (padded rows) and
        // enlarging, where both interpolate.
        {32, 24, OPTION_ANTI_ALIAS, "flags=area"},
        {40, 30, OPTION_ANTI_ALIAS, "flags=area"},
        {50, 37, OPTION_ANTI_ALIAS, "flags=area"},
        {100, 75, OPTION_ANTI_ALIAS, "flags=area"},
        {128, 96, OPTION_ANTI_ALIAS, "flags=bilinear"},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                     c.ffmpegFlags);
        const std::string destination = dir_.Path("out.avi");
        Convert(source, destination, c.width, c.height, c.options);
        const std::string size = std::to_string(c.width) + ":" + std::to_string(c.height);
        const std::string ours = DecodedFrames(destination);
        const std::string reference = DecodedFrames(source, size + ":" + c.ffmpegFlags);
        ASSERT_EQ(ours.size(), static_cast<size_t>(c.width) * c.height * 3 * 20);
        ASSERT_EQ(ours.size(), reference.size());
        const Difference d = Compare(ours, reference);
        EXPECT_GE(d.psnr, 40.0);
        if (c.options == 0)
            EXPECT_EQ(d.largest, 0) << "nearest picks other pixels than ffmpeg";
        else
            EXPECT_LE(d.largest, 2);
        EXPECT_EQ(ProbeWarnings(destination), "");
    }
}

// Compressed sources go through the codec; ffmpeg decodes the same source once and its scaler
// works from those frames.
TEST_F(ToolsCheck, CompressedSourcesAreDecodedInDisplayOrderAndScaled) {
    struct Compressed {
        const char* name;
        const char* arguments;
        std::vector<std::string> expectedStreams;
    };
    const Compressed sources[] = {
        {"mjpeg.avi",
         "-f lavfi -i sine=frequency=500:sample_rate=44100 -f lavfi -i "
         "testsrc2=size=160x120:rate=25 -t 0.6 -map 0:a -map 1:v -c:v mjpeg -q:v 3 -c:a pcm_s16le",
         {"audio pcm_s16le 44100 1", "video rawvideo 0x0000 bgr24 80x60 15"}},
        // B-frames: stored order differs from display order.
        {"mpeg4.avi",
         "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=22050 -t 0.6 "
         "-c:v mpeg4 -q:v 3 -bf 2 -c:a pcm_s16le",
         {"video rawvideo 0x0000 bgr24 80x60 15", "audio pcm_s16le 22050 1"}},
    };
    for (const Compressed& s : sources) {
        SCOPED_TRACE(s.name);
        const std::string source = MakeSource(s.name, s.arguments);
        const std::string frames = DecodedFrames(source);
        ASSERT_EQ(frames.size(), 160u * 120 * 3 * 15);
        WriteBytes(dir_.Path("frames.bgr"), frames);
        for (const uint32_t options : {0u, OPTION_ANTI_ALIAS}) {
            const std::string destination = dir_.Path("out.avi");
            Convert(source, destination, 80, 60, options);
            EXPECT_EQ(ProbeStreams(destination), s.expectedStreams);
            EXPECT_EQ(ProbeWarnings(destination), "");
            EXPECT_EQ(AudioDigest(destination, 0), AudioDigest(source, 0));
            const std::string reference =
                ScaledByFfmpeg(dir_.Path("frames.bgr"), 160, 120,
                               options != 0 ? "80:60:flags=area" : "80:60:flags=neighbor");
            const Difference d = Compare(DecodedFrames(destination), reference);
            EXPECT_GE(d.psnr, 40.0) << "options " << options;
        }
    }
}

// Converts with the picture scaler on or off.
void ConvertScalingPlanes(bool planes, const std::string& source, const std::string& destination,
                          int32_t width, int32_t height, uint32_t options) {
    ConverterSettings settings;
    settings.scalePlanes = planes;
    Convert(source, destination, width, height, options, settings);
}

// Every YUV layout the decoders give, scaled as planes and as rows of converted pixels: keeping
// whole pixels the files must be the same byte for byte; averaging, the pictures differ where
// converting before or after averaging rounds differently. Layouts the picture scaler does not
// take (10-bit, NV12, 4:2:0 of an odd height) go the way of rows both times.
TEST_F(ToolsCheck, ScalingPlanesFirstKeepsWholePixelsExactOnEveryLayout) {
    struct Layout {
        const char* name;
        const char* arguments;
    };
    // Colours kept away from the edges of what BGR holds, so that no conversion clips.
    const char* const input = "-f lavfi -i testsrc2=size=98x66:rate=25,hue=s=0.4 -t 0.24 ";
    const Layout layouts[] = {
        {"h264-420", "-c:v libx264 -bf 2 -pix_fmt yuv420p"},
        {"h264-709-full", "-c:v libx264 -pix_fmt yuvj420p -colorspace bt709 -color_range pc"},
        {"h264-422", "-c:v libx264 -pix_fmt yuv422p"},
        {"h264-444", "-c:v libx264 -pix_fmt yuv444p"},
        {"mjpeg-420", "-c:v mjpeg -pix_fmt yuvj420p"},
        {"mjpeg-422", "-c:v mjpeg -pix_fmt yuvj422p"},
        {"mjpeg-444", "-c:v mjpeg -pix_fmt yuvj444p"},
        {"huffyuv-422", "-c:v huffyuv -pix_fmt yuv422p"},
        {"mpeg4-xvid", "-c:v mpeg4 -vtag XVID -bf 2 -q:v 3"},
        {"ffv1-10bit", "-c:v ffv1 -pix_fmt yuv420p10le"},
        {"raw-yuyv", "-c:v rawvideo -pix_fmt yuyv422"},
        {"raw-uyvy", "-c:v rawvideo -pix_fmt uyvy422"},
        {"raw-nv12", "-c:v rawvideo -pix_fmt nv12"},
    };
    std::vector<std::string> sources;
    for (const Layout& l : layouts)
        sources.push_back(
            MakeSource(std::string(l.name) + ".avi", input + std::string(l.arguments)));
    // Odd heights: 4:2:2 stays pixel by pixel, 4:2:0 blends chroma rows.
    for (const char* format : {"yuv422p", "yuv420p"})
        sources.push_back(MakeSource(
            std::string("odd-") + format + ".avi",
            "-f lavfi -i testsrc=size=98x67:rate=25,hue=s=0.4 -t 0.24 -c:v ffv1 -pix_fmt " +
                std::string(format)));
    sources.push_back(
        MakeSource("dv-pal.avi",
                   "-f lavfi -i testsrc2=size=720x576:rate=25,hue=s=0.4 -t 0.12 -c:v dvvideo "
                   "-pix_fmt yuv420p"));
    for (const std::string& source : sources) {
        for (const auto& [width, height] : {std::pair{61, 37}, std::pair{131, 97}}) {
            SCOPED_TRACE(source + " -> " + std::to_string(width) + "x" + std::to_string(height));
            const std::string planes = dir_.Path("planes.avi");
            const std::string rows = dir_.Path("rows.avi");
            ConvertScalingPlanes(true, source, planes, width, height, 0);
            ConvertScalingPlanes(false, source, rows, width, height, 0);
            const std::string planeBytes = FileBytes(planes);
            ASSERT_GT(planeBytes.size(), static_cast<size_t>(width) * height * 3 * 3);
            EXPECT_TRUE(planeBytes == FileBytes(rows)) << "keeping whole pixels";

            ConvertScalingPlanes(true, source, planes, width, height, OPTION_ANTI_ALIAS);
            ConvertScalingPlanes(false, source, rows, width, height, OPTION_ANTI_ALIAS);
            const Difference d = Compare(DecodedFrames(planes), DecodedFrames(rows));
            // Full range reaches black and white, where a colour edge still clips a little.
            const double least = source.find("full") != std::string::npos ? 48.0 : 50.0;
            EXPECT_GE(d.psnr, least) << "averaging";
        }
    }
}

// A full-range BT.709 stream with B-frames: every picture converted as ffmpeg converts it. The
// converter once lost the range on a remade libswscale context and gave most pictures
// limited-range colours.
TEST_F(ToolsCheck, FullRangePicturesKeepTheirRangeOnEveryFrame) {
    const std::string source =
        MakeSource("full.avi",
                   "-f lavfi -i testsrc2=size=96x64:rate=25 -t 0.4 -c:v libx264 -bf 3 "
                   "-pix_fmt yuvj420p -colorspace bt709 -color_range pc");
    const std::string reference = DecodedFrames(source);
    ASSERT_EQ(reference.size(), 96u * 64 * 3 * 10);
    for (const bool planes : {false, true}) {
        SCOPED_TRACE(planes ? "planes" : "rows");
        const std::string destination = dir_.Path("out.avi");
        ConvertScalingPlanes(planes, source, destination, 96, 64, 0);
        EXPECT_TRUE(DecodedFrames(destination) == reference);
    }
}

}  // namespace
