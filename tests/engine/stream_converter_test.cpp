// The stream converter on real files: which streams the destination gets under each option,
// the exact progress reports, frame positions and sizes, and raw copies that keep every sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <tuple>

#include "avi/frame_scaler.h"
#include "avi/stream_converter.h"
#include "engine_test_files.h"
#include "support/unicode_text.h"

namespace {

using Call = std::tuple<DWORD, int32_t, int32_t, int32_t>;  // type, index, current, total
std::vector<Call> calls;

int32_t RecordCall(int32_t type, int32_t index, int32_t current, int32_t total) {
    calls.emplace_back(static_cast<DWORD>(type), index, current, total);
    return 0;
}

struct Opened {
    PAVIFILE file = nullptr;
    AVIFILEINFOW info{};
    std::vector<PAVISTREAM> streams;
    explicit Opened(const std::string& path) {
        const std::u16string name = FromUtf8(path);
        if (AVIFileOpenW(&file, name.c_str(), OF_READ, nullptr) != AVIERR_OK) return;
        AVIFileInfoW(file, &info, sizeof info);
        for (DWORD i = 0; i < info.dwStreams; ++i) {
            PAVISTREAM s = nullptr;
            if (AVIFileGetStream(file, &s, 0, static_cast<LONG>(i)) == AVIERR_OK)
                streams.push_back(s);
        }
    }
    ~Opened() {
        for (PAVISTREAM s : streams) AVIStreamRelease(s);
        if (file != nullptr) AVIFileRelease(file);
    }
    AVISTREAMINFOW Info(size_t i) const {
        AVISTREAMINFOW header{};
        AVIStreamInfoW(streams.at(i), &header, sizeof header);
        return header;
    }
    std::vector<uint8_t> Format(size_t i) const {
        LONG size = 0;
        if (AVIStreamReadFormat(streams.at(i), 0, nullptr, &size) != AVIERR_OK) return {};
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        AVIStreamReadFormat(streams.at(i), 0, bytes.data(), &size);
        bytes.resize(static_cast<size_t>(size));
        return bytes;
    }
    std::vector<uint8_t> Sample(size_t i, LONG position) const {
        LONG bytes = 0;
        AVIStreamRead(streams.at(i), position, 1, nullptr, 0, &bytes, nullptr);
        std::vector<uint8_t> data(static_cast<size_t>(bytes));
        if (bytes > 0)
            AVIStreamRead(streams.at(i), position, 1, data.data(), bytes, nullptr, nullptr);
        return data;
    }
    std::vector<uint8_t> All(size_t i) const {
        const LONG length = AVIStreamLength(streams.at(i));
        LONG bytes = 0;
        AVIStreamRead(streams.at(i), 0, length, nullptr, 0, &bytes, nullptr);
        std::vector<uint8_t> data(static_cast<size_t>(bytes));
        if (bytes > 0)
            AVIStreamRead(streams.at(i), 0, length, data.data(), bytes, nullptr, nullptr);
        return data;
    }
};

std::vector<char> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Converts `sourcePath` into `destinationPath` at the given target size.
void Convert(const std::string& sourcePath, const std::string& destinationPath, int32_t width,
             int32_t height, uint32_t options, ProgressCallback callback = RecordCall,
             const ConverterSettings& settings = {}) {
    calls.clear();
    AviFileRecord source;
    AviFileRecord destination;
    ASSERT_EQ(OpenSourceAvi(FromUtf8(sourcePath), source), 1);
    ASSERT_EQ(CreateDestinationAvi(FromUtf8(destinationPath), destination), 1);
    destination.fileInfo.dwWidth = static_cast<DWORD>(width);
    destination.fileInfo.dwHeight = static_cast<DWORD>(height);
    EXPECT_EQ(ConvertStreams(source, destination, options, callback, settings), 0);
    CloseAvi(destination);
    CloseAvi(source);
    ASSERT_EQ(AVIFileLastCloseResult(), AVIERR_OK);
}

BITMAPINFOHEADER HeaderOf(const std::vector<uint8_t>& format) {
    BITMAPINFOHEADER header{};
    if (format.size() >= sizeof header) std::memcpy(&header, format.data(), sizeof header);
    return header;
}

TEST(ConvertStreams, VideoAudioAndOtherStreamsWithTheirExactReports) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(3, 16, 8), Audio(800), Other()}));
    Convert(dir.Path("in.avi"), dir.Path("out.avi"), 8, 4, 0);
    const std::vector<Call> expected{
        {streamtypeVIDEO, 0, 0, 3},     {streamtypeVIDEO, 0, 0, 3}, {streamtypeVIDEO, 0, 1, 3},
        {streamtypeVIDEO, 0, 2, 3},     {streamtypeVIDEO, 0, 3, 3}, {streamtypeAUDIO, 1, 0, 800},
        {streamtypeAUDIO, 1, 800, 800}, {streamtypeTEXT, 2, 0, 4},  {streamtypeTEXT, 2, 4, 4}};
    EXPECT_EQ(calls, expected);

    Opened in(dir.Path("in.avi"));
    Opened out(dir.Path("out.avi"));
    ASSERT_EQ(out.streams.size(), 3u);
    const BITMAPINFOHEADER header = HeaderOf(out.Format(0));
    EXPECT_EQ(out.Format(0).size(), 40u);
    EXPECT_EQ(header.biWidth, 8);
    EXPECT_EQ(header.biHeight, 4);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, BI_RGB);
    EXPECT_EQ(header.biSizeImage, 24u * 4);
    const AVISTREAMINFOW video = out.Info(0);
    EXPECT_EQ(video.rcFrame.right, 8);
    EXPECT_EQ(video.rcFrame.bottom, 4);
    EXPECT_EQ(AVIStreamLength(out.streams[0]), 3);

    // Each frame is the nearest-neighbour scaling of the source frame at its position.
    BITMAPINFOHEADER sourceHeader = HeaderOf(in.Format(0));
    sourceHeader.biSizeImage = 0;
    for (LONG p = 0; p < 3; ++p) {
        std::vector<uint8_t> expectedFrame(header.biSizeImage);
        const std::vector<uint8_t> pixels = in.Sample(0, p);
        ScaleFrame(pixels.data(), expectedFrame.data(), &sourceHeader, &header, 0);
        EXPECT_EQ(out.Sample(0, p), expectedFrame) << "frame " << p;
    }
    // Audio: the whole format and every byte; the other stream: every sample as it was.
    EXPECT_EQ(out.Format(1), in.Format(1));
    EXPECT_EQ(out.All(1), in.All(1));
    EXPECT_EQ(AVIStreamLength(out.streams[2]), 4);
    for (LONG p = 0; p < 4; ++p) {
        EXPECT_EQ(out.Sample(2, p), in.Sample(2, p));
        EXPECT_EQ(AVIStreamIsKeyFrame(out.streams[2], p), AVIStreamIsKeyFrame(in.streams[2], p));
    }
}

TEST(ConvertStreams, AveragingUsesTheAntiAliasedScaler) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(2, 16, 8)}));
    Convert(dir.Path("in.avi"), dir.Path("out.avi"), 6, 3, OPTION_ANTI_ALIAS);
    Opened in(dir.Path("in.avi"));
    Opened out(dir.Path("out.avi"));
    BITMAPINFOHEADER sourceHeader = HeaderOf(in.Format(0));
    const BITMAPINFOHEADER header = HeaderOf(out.Format(0));
    std::vector<uint8_t> averaged(header.biSizeImage);
    std::vector<uint8_t> nearest(header.biSizeImage);
    const std::vector<uint8_t> pixels = in.Sample(0, 1);
    ScaleFrame(pixels.data(), averaged.data(), &sourceHeader, &header, 8);
    ScaleFrame(pixels.data(), nearest.data(), &sourceHeader, &header, 0);
    ASSERT_NE(averaged, nearest);
    EXPECT_EQ(out.Sample(0, 1), averaged);
}

// At its own size a frame comes out as it went in, with and without averaging, whether it is
// written straight from the decoder (rows without padding) or through the scaler.
TEST(ConvertStreams, KeptSizeStoresEveryFrameAsItIs) {
    ScratchDir dir;
    for (int32_t width : {16, 15}) {
        for (uint32_t options : {0u, OPTION_ANTI_ALIAS}) {
            ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(4, width, 6), Audio(400)}));
            Convert(dir.Path("in.avi"), dir.Path("out.avi"), width, 6, options);
            Opened in(dir.Path("in.avi"));
            Opened out(dir.Path("out.avi"));
            ASSERT_EQ(AVIStreamLength(out.streams.at(0)), 4);
            for (LONG j = 0; j < 4; ++j)
                EXPECT_EQ(out.Sample(0, j), in.Sample(0, j))
                    << "width " << width << " options " << options << " frame " << j;
        }
    }
}

TEST(ConvertStreams, EmptyStreamStillGetsItsStreamFormatAndTwoReports) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(0, 16, 8)}));
    Convert(dir.Path("in.avi"), dir.Path("out.avi"), 32, 16, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{streamtypeVIDEO, 0, 0, 0}, {streamtypeVIDEO, 0, 0, 0}}));
    Opened out(dir.Path("out.avi"));
    ASSERT_EQ(out.streams.size(), 1u);
    EXPECT_EQ(HeaderOf(out.Format(0)).biWidth, 32);
    EXPECT_EQ(AVIStreamLength(out.streams[0]), 0);
}

TEST(ConvertStreams, FrameThatCannotBeDeliveredIsSkippedWithoutReport) {
    ScratchDir dir;
    TestStream video = Video(3, 16, 8);
    video.shortFrames = {1};
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {video}));
    Convert(dir.Path("in.avi"), dir.Path("out.avi"), 16, 8, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{streamtypeVIDEO, 0, 0, 3},
                                        {streamtypeVIDEO, 0, 0, 3},
                                        {streamtypeVIDEO, 0, 2, 3},
                                        {streamtypeVIDEO, 0, 3, 3}}));
    Opened out(dir.Path("out.avi"));
    EXPECT_EQ(out.Sample(0, 0), TestFramePixels(0, 0, 16, 8));
    EXPECT_TRUE(out.Sample(0, 1).empty());
    EXPECT_EQ(out.Sample(0, 2), TestFramePixels(0, 2, 16, 8));
}

// Converts without checking the result, which the caller wants to see.
int ConvertCounting(const std::string& sourcePath, const std::string& destinationPath) {
    AviFileRecord source;
    AviFileRecord destination;
    if (OpenSourceAvi(FromUtf8(sourcePath), source) != 1) return -100;
    if (CreateDestinationAvi(FromUtf8(destinationPath), destination) != 1) return -100;
    destination.fileInfo.dwWidth = 8;
    destination.fileInfo.dwHeight = 4;
    const int result = ConvertStreams(source, destination, 0, nullptr);
    CloseAvi(destination);
    CloseAvi(source);
    return result;
}

TEST(ConvertStreams, CountsTheVideoStreamsOfWhichNoFrameCouldBeDecoded) {
    ScratchDir dir;
    TestStream unknown = Video(3, 16, 8);
    unknown.compression = mmioFOURCC('Z', 'Z', 'Z', 'Z');  // no decoder for it
    TestStream broken = Video(3, 16, 8);
    broken.compression = mmioFOURCC('M', 'J', 'P', 'G');  // a decoder, but no frame decodes
    TestStream nothing = unknown;
    nothing.frames = 0;  // no frame to decode is no failure
    TestStream partly = Video(3, 16, 8);
    partly.shortFrames = {0, 2};  // some frames fail: those are skipped, as ever
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"),
                             {unknown, Video(2, 16, 8), broken, nothing, partly, Audio(100)}));
    EXPECT_EQ(ConvertCounting(dir.Path("in.avi"), dir.Path("out.avi")), 2);
    Opened out(dir.Path("out.avi"));
    ASSERT_EQ(out.streams.size(), 6u);
    EXPECT_EQ(AVIStreamLength(out.streams[0]), 0);
    EXPECT_EQ(AVIStreamLength(out.streams[1]), 2);
    EXPECT_EQ(AVIStreamLength(out.streams[4]), 2);  // positions 0 and 1, the first one empty

    ASSERT_TRUE(WriteTestAvi(dir.Path("good.avi"), {Video(2, 16, 8), partly, nothing}));
    EXPECT_EQ(ConvertCounting(dir.Path("good.avi"), dir.Path("good-out.avi")), 0);
}

TEST(ConvertStreams, FixedSizeStreamsArriveWholeInPiecesOfAnySize) {
    ScratchDir dir;
    TestStream audio = Audio(20011);  // 2.5 s at 8 kHz, not a whole number of pieces
    audio.start = 3;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {audio}));
    Opened in(dir.Path("in.avi"));
    const std::vector<uint8_t> samples = in.All(0);
    ASSERT_EQ(samples.size(), 20011u * 4);
    // One sample a piece, a limit that is no multiple of the sample size, a few KiB.
    for (const int64_t limit : {int64_t{1}, int64_t{1001}, int64_t{4096}}) {
        ConverterSettings settings;
        settings.copyPieceBytes = limit;
        Convert(dir.Path("in.avi"), dir.Path("out.avi"), 8, 4, 0, RecordCall, settings);
        Opened out(dir.Path("out.avi"));
        ASSERT_EQ(out.streams.size(), 1u);
        EXPECT_EQ(AVIStreamStart(out.streams[0]), 3) << limit;
        EXPECT_EQ(AVIStreamLength(out.streams[0]), 20011) << limit;
        EXPECT_TRUE(out.All(0) == samples) << limit;
    }
    // With the default, pieces of a second are the writer's own chunks: the copy of a file of
    // one stream is the file itself.
    Convert(dir.Path("in.avi"), dir.Path("same.avi"), 8, 4, 0);
    // Only the stream's frame rectangle differs: an audio-only file has no frame size, and
    // scaling by it gives the smallest edge.
    std::vector<char> copy = ReadWholeFile(dir.Path("same.avi"));
    std::vector<char> original = ReadWholeFile(dir.Path("in.avi"));
    ASSERT_EQ(copy.size(), original.size());
    const std::string strh = "strh";
    const auto at = std::search(original.begin(), original.end(), strh.begin(), strh.end());
    ASSERT_NE(at, original.end());
    const auto rect = (at - original.begin()) + 8 + 48;
    std::copy(copy.begin() + rect, copy.begin() + rect + 8, original.begin() + rect);
    EXPECT_TRUE(copy == original);
}

TEST(ConvertStreams, StreamStartingAtFiveKeepsItsPositions) {
    ScratchDir dir;
    TestStream video = Video(3, 16, 8);
    video.start = 5;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {video, Audio(400)}));
    Convert(dir.Path("in.avi"), dir.Path("out.avi"), 16, 8, 0);
    EXPECT_EQ(std::vector<Call>(calls.begin(), calls.begin() + 5),
              (std::vector<Call>{{streamtypeVIDEO, 0, 0, 3},
                                 {streamtypeVIDEO, 0, 0, 3},
                                 {streamtypeVIDEO, 0, 1, 3},
                                 {streamtypeVIDEO, 0, 2, 3},
                                 {streamtypeVIDEO, 0, 3, 3}}));
    Opened in(dir.Path("in.avi"));
    Opened out(dir.Path("out.avi"));
    EXPECT_EQ(AVIStreamStart(out.streams[0]), 5);
    EXPECT_EQ(AVIStreamLength(out.streams[0]), 3);
    for (LONG p = 5; p < 8; ++p) EXPECT_EQ(out.Sample(0, p), TestFramePixels(0, p - 5, 16, 8));
    EXPECT_EQ(out.All(1), in.All(1));
}

TEST(ConvertStreams, OddTargetWidthGivesPaddedRowsAndZeroSizeGivesNoFrames) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(2, 16, 8)}));
    Convert(dir.Path("in.avi"), dir.Path("wide.avi"), 321, 3, 0);
    {
        Opened out(dir.Path("wide.avi"));
        EXPECT_EQ(HeaderOf(out.Format(0)).biSizeImage, 964u * 3);
        EXPECT_EQ(out.Sample(0, 1).size(), 964u * 3);
    }
    Convert(dir.Path("in.avi"), dir.Path("flat.avi"), 0, 8, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{streamtypeVIDEO, 0, 0, 2}, {streamtypeVIDEO, 0, 2, 2}}));
    Opened out(dir.Path("flat.avi"));
    ASSERT_EQ(out.streams.size(), 1u);
    EXPECT_EQ(HeaderOf(out.Format(0)).biWidth, 0);
    EXPECT_EQ(HeaderOf(out.Format(0)).biSizeImage, 0u);
}

TEST(ConvertStreams, HugeOrNegativeTargetSizesSkipTheFramesSafely) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(2, 16, 8)}));
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{
             {2147483647, 2147483647}, {100000, 100000}, {-16, 8}, {-2147483647 - 1, 8}}) {
        Convert(dir.Path("in.avi"), dir.Path("out.avi"), w, h, OPTION_ANTI_ALIAS);
        EXPECT_EQ(calls.size(), 2u) << w << " x " << h;
        Opened out(dir.Path("out.avi"));
        ASSERT_EQ(out.streams.size(), 1u);
        EXPECT_EQ(AVIStreamLength(out.streams[0]), 0);
    }
}

TEST(ConvertStreams, OptionsMoveVideoAndAudioToTheRawCopyOrDropThem) {
    ScratchDir dir;
    TestStream video = Video(4, 16, 8);
    video.emptyFrames = {2};
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {video, Audio(300), Other()}));
    Opened in(dir.Path("in.avi"));

    // Raw copies: every sample with its size, position and key flag, and the stream's format.
    Convert(dir.Path("in.avi"), dir.Path("raw.avi"), 8, 4, OPTION_NO_VIDEO | OPTION_NO_AUDIO);
    EXPECT_EQ(calls, (std::vector<Call>{{streamtypeVIDEO, 0, 0, 4},
                                        {streamtypeVIDEO, 0, 4, 4},
                                        {streamtypeAUDIO, 1, 0, 300},
                                        {streamtypeAUDIO, 1, 300, 300},
                                        {streamtypeTEXT, 2, 0, 4},
                                        {streamtypeTEXT, 2, 4, 4}}));
    {
        Opened raw(dir.Path("raw.avi"));
        ASSERT_EQ(raw.streams.size(), 3u);
        EXPECT_EQ(AVIStreamLength(raw.streams[0]), 4);
        for (LONG p = 0; p < 4; ++p) {
            EXPECT_EQ(raw.Sample(0, p), in.Sample(0, p)) << p;
            EXPECT_EQ(AVIStreamIsKeyFrame(raw.streams[0], p),
                      AVIStreamIsKeyFrame(in.streams[0], p));
        }
        EXPECT_EQ(raw.Format(0), in.Format(0));
        EXPECT_EQ(raw.All(1), in.All(1));
        EXPECT_EQ(raw.Info(0).rcFrame.right, 8);  // the rectangle is scaled all the same
    }
    // With "other" streams dropped too, no stream is left, and nothing is reported.
    Convert(dir.Path("in.avi"), dir.Path("none.avi"), 8, 4,
            OPTION_NO_VIDEO | OPTION_NO_AUDIO | OPTION_NO_OTHER);
    EXPECT_TRUE(calls.empty());
    {
        Opened none(dir.Path("none.avi"));
        EXPECT_EQ(none.streams.size(), 0u);
    }
    // Dropping other streams alone keeps video and audio on their own rules.
    Convert(dir.Path("in.avi"), dir.Path("av.avi"), 8, 4, OPTION_NO_OTHER);
    Opened av(dir.Path("av.avi"));
    ASSERT_EQ(av.streams.size(), 2u);
    EXPECT_EQ(av.Info(0).fccType, streamtypeVIDEO);
    EXPECT_EQ(av.Info(1).fccType, streamtypeAUDIO);
    EXPECT_EQ(HeaderOf(av.Format(0)).biBitCount, 24);
}

// A stream copied as it is keeps every chunk of its header list (its codec data, its video
// properties, chunks we know nothing of); a video stream decoded and written anew keeps none,
// since they describe the old pictures.
TEST(ConvertStreams, HeaderChunksGoWithCopiedStreamsOnly) {
    ScratchDir dir;
    const DWORD strd = mmioFOURCC('s', 't', 'r', 'd'), vprp = mmioFOURCC('v', 'p', 'r', 'p');
    const DWORD odd = mmioFOURCC('a', 'b', 'c', 'd');
    const std::vector<std::pair<DWORD, std::string>> chunks{
        {strd, "codec data"}, {vprp, std::string(68, '\x07')}, {odd, "odd"}};
    TestStream video = Video(2, 16, 8);
    video.headerChunks = chunks;
    TestStream audio = Audio(100);
    audio.headerChunks = chunks;
    TestStream other = Other();
    other.headerChunks = chunks;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {video, audio, other}));
    const auto data = [](PAVISTREAM stream, DWORD id) {
        LONG size = 0;
        if (AVIStreamReadData(stream, id, nullptr, &size) != AVIERR_OK) return std::string("none");
        std::string bytes(static_cast<size_t>(size), '\0');
        AVIStreamReadData(stream, id, bytes.data(), &size);
        return bytes;
    };
    for (const uint32_t options : {0u, uint32_t{OPTION_NO_VIDEO}}) {
        Convert(dir.Path("in.avi"), dir.Path("out.avi"), 8, 4, options);
        Opened out(dir.Path("out.avi"));
        ASSERT_EQ(out.streams.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            const bool converted = i == 0 && options == 0;
            for (const auto& [id, bytes] : chunks)
                EXPECT_EQ(data(out.streams[i], id), converted ? "none" : bytes)
                    << "stream " << i << " with options " << options;
        }
    }
}

TEST(ConvertStreams, AudioFormatKeepsItsExtraBytes) {
    ScratchDir dir;
    TestStream extensible = Audio(100);
    extensible.audioExtraBytes = 22;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Audio(100), extensible}));
    Convert(dir.Path("in.avi"), dir.Path("out.avi"), 16, 8, 0);
    Opened in(dir.Path("in.avi"));
    Opened out(dir.Path("out.avi"));
    EXPECT_EQ(out.Format(0).size(), 16u);
    EXPECT_EQ(out.Format(1).size(), 40u);
    EXPECT_EQ(out.Format(1), in.Format(1));
}

TEST(ConvertStreams, NullCallbackWritesTheSameFile) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(3, 16, 8), Audio(500), Other()}));
    Convert(dir.Path("in.avi"), dir.Path("a.avi"), 10, 6, OPTION_ANTI_ALIAS);
    Convert(dir.Path("in.avi"), dir.Path("b.avi"), 10, 6, OPTION_ANTI_ALIAS, nullptr);
    EXPECT_TRUE(calls.empty());
    const std::string a = FileBytes(dir.Path("a.avi")), b = FileBytes(dir.Path("b.avi"));
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, b);
}

TEST(ConvertStreams, FrameEdgesRoundHalfToEvenAndBadProductsBecomeTheSmallestInteger) {
    EXPECT_EQ(ScaleFrameEdge(1, 0.5), 0);
    EXPECT_EQ(ScaleFrameEdge(3, 0.5), 2);
    EXPECT_EQ(ScaleFrameEdge(5, 0.5), 2);
    EXPECT_EQ(ScaleFrameEdge(-3, 0.5), -2);
    EXPECT_EQ(ScaleFrameEdge(640, 0.5), 320);
    const int32_t smallest = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(ScaleFrameEdge(0, std::numeric_limits<double>::infinity()), smallest);
    EXPECT_EQ(ScaleFrameEdge(10, std::numeric_limits<double>::infinity()), smallest);
    EXPECT_EQ(ScaleFrameEdge(0, std::nan("")), smallest);
    EXPECT_EQ(ScaleFrameEdge(2147483647, 2.0), smallest);
    EXPECT_EQ(ScaleFrameEdge(2147483647, 1.0), 2147483647);

    // Rectangles made of such edges give headers without an image instead of overflowing.
    const BITMAPINFOHEADER bad = FrameHeaderFor(RECT{smallest, 0, 100, 10}, true);
    EXPECT_EQ(bad.biWidth, 0);
    EXPECT_EQ(bad.biSizeImage, 0u);
    const BITMAPINFOHEADER both =
        FrameHeaderFor(RECT{smallest, smallest, smallest, smallest}, true);
    EXPECT_EQ(both.biWidth, 0);
    EXPECT_EQ(both.biSizeImage, 0u);
    const BITMAPINFOHEADER good = FrameHeaderFor(RECT{0, 0, 101, 2}, true);
    EXPECT_EQ(good.biSizeImage, 304u * 2);
    EXPECT_EQ(FrameHeaderFor(RECT{0, 0, 101, 2}, false).biSizeImage, 0u);
}

}  // namespace
