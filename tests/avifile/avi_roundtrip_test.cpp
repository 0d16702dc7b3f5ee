// Files made by our writer and read back by our reader: samples, flags, positions, headers.
#include <gtest/gtest.h>

#include <cstring>

#include "avi_test_support.h"
#include "avifile/little_endian.h"

namespace {

constexpr DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');

// A file opened for writing, released at the end of the scope unless closed before.
struct WrittenAvi {
    PAVIFILE file = nullptr;
    std::vector<PAVISTREAM> streams;
    explicit WrittenAvi(const std::string& path) {
        std::u16string name = U16(path);
        EXPECT_EQ(AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    }
    PAVISTREAM Add(const AVISTREAMINFOW& info, const void* format, LONG formatSize) {
        PAVISTREAM s = nullptr;
        EXPECT_EQ(AVIFileCreateStreamW(file, &s, &info), AVIERR_OK);
        if (format) {
            EXPECT_EQ(AVIStreamSetFormat(s, 0, format, formatSize), AVIERR_OK);
        }
        streams.push_back(s);
        return s;
    }
    HRESULT Close() {
        for (PAVISTREAM s : streams) AVIStreamRelease(s);
        streams.clear();
        if (file) AVIFileRelease(file);
        file = nullptr;
        return AVIFileLastCloseResult();
    }
    ~WrittenAvi() { Close(); }
};

HRESULT WriteSample(PAVISTREAM s, LONG pos, const std::vector<uint8_t>& data, DWORD flags) {
    return AVIStreamWrite(s, pos, 1, data.data(), static_cast<LONG>(data.size()), flags, nullptr,
                          nullptr);
}

struct TopLevelRiff {
    DWORD type;
    uint64_t offset;
    uint64_t size;
};
std::vector<TopLevelRiff> RiffParts(const std::vector<uint8_t>& file) {
    std::vector<TopLevelRiff> parts;
    for (uint64_t pos = 0; pos + 12 <= file.size();) {
        uint32_t size = GetLe32(&file[pos + 4]);
        parts.push_back({GetLe32(&file[pos + 8]), pos, size});
        pos += 8 + uint64_t{size} + (size & 1);
    }
    return parts;
}

TEST(AviRoundTrip, CompressedVideoAndPcmKeepSamplesFlagsAndHeaders) {
    TempDir dir;
    std::string path = dir.Path("a.avi");
    BITMAPINFOHEADER bih = BitmapHeader(320, 240, 24, kMjpg);
    std::vector<uint8_t> videoFormat(sizeof bih);
    std::memcpy(videoFormat.data(), &bih, sizeof bih);
    videoFormat.insert(videoFormat.end(), {1, 2, 3, 4, 5, 6});  // codec data after the header
    WAVEFORMATEX wf = PcmFormat(22050, 2);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keys;
    {
        WrittenAvi out(path);
        AVISTREAMINFOW vi = VideoHeader(kMjpg, 1001, 30000, 320, 240);
        const char16_t name[] = u"Kamera \u00e9\u4e2d";
        std::memcpy(vi.szName, name, sizeof name);
        PAVISTREAM v = out.Add(vi, videoFormat.data(), static_cast<LONG>(videoFormat.size()));
        ASSERT_EQ(AVIStreamWriteData(v, mmioFOURCC('s', 't', 'r', 'd'), "xyz", 3), AVIERR_OK);
        PAVISTREAM a = out.Add(PcmHeader(22050, 2), &wf, sizeof wf);
        std::vector<uint8_t> pcm = Pattern(22050 * 4 * 2, 7);
        for (int i = 0; i < 40; ++i) {
            frames.push_back(
                Pattern(1000 + 37 * i + (i % 2), static_cast<uint32_t>(i)));  // odd sizes too
            keys.push_back(i % 10 == 0);
            LONG samples = 0, bytes = 0;
            ASSERT_EQ(AVIStreamWrite(v, i, 1, frames.back().data(),
                                     static_cast<LONG>(frames.back().size()),
                                     keys.back() ? AVIIF_KEYFRAME : 0, &samples, &bytes),
                      AVIERR_OK);
            EXPECT_EQ(samples, 1);
            EXPECT_EQ(bytes, static_cast<LONG>(frames.back().size()));
        }
        ASSERT_EQ(AVIStreamWrite(a, 0, 44100, pcm.data(), static_cast<LONG>(pcm.size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        EXPECT_EQ(AVIFileHasFailed(out.file), 0);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }

    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(in.info.dwStreams, 2u);
    EXPECT_EQ(in.info.dwWidth, 320u);
    EXPECT_EQ(in.info.dwHeight, 240u);
    EXPECT_EQ(in.info.dwScale, 33367u);  // microseconds per frame at 30000/1001
    EXPECT_EQ(in.info.dwRate, 1000000u);
    EXPECT_EQ(in.info.dwLength, 60u);  // the audio lasts two seconds
    EXPECT_EQ(in.info.dwFlags & AVIF_HASINDEX, AVIF_HASINDEX);

    AVISTREAMINFOW vi = StreamInfo(in.streams[0]);
    EXPECT_EQ(vi.fccType, streamtypeVIDEO);
    EXPECT_EQ(vi.fccHandler, kMjpg);
    EXPECT_EQ(vi.dwScale, 1001u);
    EXPECT_EQ(vi.dwRate, 30000u);
    EXPECT_EQ(vi.dwLength, 40u);
    EXPECT_EQ(vi.dwSampleSize, 0u);
    EXPECT_EQ(vi.dwSuggestedBufferSize, static_cast<DWORD>(frames.back().size()));
    EXPECT_EQ(vi.rcFrame.right, 320);
    EXPECT_EQ(vi.rcFrame.bottom, 240);
    EXPECT_EQ(std::u16string(vi.szName), u"Kamera \u00e9\u4e2d");
    EXPECT_EQ(ReadFormat(in.streams[0]), videoFormat);
    char strd[8] = {};
    LONG strdSize = sizeof strd;
    ASSERT_EQ(AVIStreamReadData(in.streams[0], mmioFOURCC('s', 't', 'r', 'd'), strd, &strdSize),
              AVIERR_OK);
    EXPECT_EQ(std::string(strd, static_cast<size_t>(strdSize)), "xyz");

    EXPECT_EQ(ReadAllSamples(in.streams[0]), frames);
    for (LONG i = 0; i < 40; ++i)
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], i), keys[static_cast<size_t>(i)] ? 1 : 0) << i;

    AVISTREAMINFOW ai = StreamInfo(in.streams[1]);
    EXPECT_EQ(ai.dwSampleSize, 4u);
    EXPECT_EQ(ai.dwLength, 44100u);
    std::vector<uint8_t> format = ReadFormat(in.streams[1]);
    ASSERT_EQ(format.size(), sizeof wf);
    EXPECT_EQ(std::memcmp(format.data(), &wf, sizeof wf), 0);
    EXPECT_EQ(ReadAllBytes(in.streams[1]), Pattern(22050 * 4 * 2, 7));
}

TEST(AviRoundTrip, WritesPastTheEndLeaveEmptyNonKeySamplesInTheGap) {
    TempDir dir;
    std::string path = dir.Path("gap.avi");
    BITMAPINFOHEADER bih = BitmapHeader(8, 8, 24, BI_RGB);
    {
        WrittenAvi out(path);
        PAVISTREAM v = out.Add(VideoHeader(0, 1, 25, 8, 8), &bih, sizeof bih);
        ASSERT_EQ(WriteSample(v, 0, Pattern(192, 0), 0), AVIERR_OK);
        ASSERT_EQ(WriteSample(v, 3, Pattern(192, 3), 0), AVIERR_OK);
        ASSERT_EQ(WriteSample(v, 4, Pattern(192, 4), 0), AVIERR_OK);
        // Positions once written are not written again.
        EXPECT_EQ(WriteSample(v, 2, Pattern(192, 2), 0), AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamLength(v), 5);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    PAVISTREAM v = in.streams[0];
    ASSERT_EQ(AVIStreamLength(v), 5);
    std::vector<std::vector<uint8_t>> samples = ReadAllSamples(v);
    EXPECT_EQ(samples[0], Pattern(192, 0));
    EXPECT_TRUE(samples[1].empty());
    EXPECT_TRUE(samples[2].empty());
    EXPECT_EQ(samples[3], Pattern(192, 3));
    EXPECT_EQ(samples[4], Pattern(192, 4));
    // Uncompressed frames are complete by themselves even when written without the flag; the
    // filled gap is not.
    EXPECT_EQ(AVIStreamIsKeyFrame(v, 0), 1);
    EXPECT_EQ(AVIStreamIsKeyFrame(v, 1), 0);
    EXPECT_EQ(AVIStreamIsKeyFrame(v, 2), 0);
    EXPECT_EQ(AVIStreamIsKeyFrame(v, 3), 1);
    EXPECT_EQ(AVIStreamNearestKeyFrame(v, 2), 0);
}

TEST(AviRoundTrip, StreamStartingAboveZeroKeepsItsPositions) {
    TempDir dir;
    std::string path = dir.Path("start.avi");
    BITMAPINFOHEADER bih = BitmapHeader(4, 4, 24, BI_RGB);
    WAVEFORMATEX wf = PcmFormat(8000, 1);
    {
        WrittenAvi out(path);
        AVISTREAMINFOW vi = VideoHeader(0, 1, 25, 4, 4);
        vi.dwStart = 5;
        PAVISTREAM v = out.Add(vi, &bih, sizeof bih);
        for (LONG pos = 5; pos < 8; ++pos)
            ASSERT_EQ(WriteSample(v, pos, Pattern(48, static_cast<uint32_t>(pos)), 0), AVIERR_OK);
        // A copy "from position 0" of a stream that starts later lands at its start.
        AVISTREAMINFOW ai = PcmHeader(8000, 1);
        ai.dwStart = 100;
        PAVISTREAM a = out.Add(ai, &wf, sizeof wf);
        std::vector<uint8_t> pcm = Pattern(2000, 9);
        ASSERT_EQ(AVIStreamWrite(a, 0, 1000, pcm.data(), 2000, AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    PAVISTREAM v = in.streams[0];
    EXPECT_EQ(AVIStreamStart(v), 5);
    EXPECT_EQ(AVIStreamLength(v), 3);
    EXPECT_EQ(StreamInfo(v).dwStart, 5u);
    std::vector<uint8_t> sample(48);
    LONG bytes = 0, count = 0;
    ASSERT_EQ(AVIStreamRead(v, 6, 1, sample.data(), 48, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(sample, Pattern(48, 6));
    // Below the start reads from the start; at the end nothing is left.
    ASSERT_EQ(AVIStreamRead(v, 0, 1, sample.data(), 48, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(sample, Pattern(48, 5));
    ASSERT_EQ(AVIStreamRead(v, 8, 1, sample.data(), 48, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(bytes, 0);

    PAVISTREAM a = in.streams[1];
    EXPECT_EQ(AVIStreamStart(a), 100);
    EXPECT_EQ(AVIStreamLength(a), 1000);
    ASSERT_EQ(AVIStreamRead(a, 0, 1000, nullptr, 0, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(bytes, 2000);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(ReadAllBytes(a), Pattern(2000, 9));
}

TEST(AviRoundTrip, LongFixedSizeWriteIsStoredInChunksOfAboutASecond) {
    TempDir dir;
    std::string path = dir.Path("pcm.avi");
    WAVEFORMATEX wf = PcmFormat(48000, 2);
    std::vector<uint8_t> pcm = Pattern(48000 * 4 * 10 + 4 * 123, 3);  // 10 s and a bit
    {
        WrittenAvi out(path);
        PAVISTREAM a = out.Add(PcmHeader(48000, 2), &wf, sizeof wf);
        LONG samples = 0, bytes = 0;
        ASSERT_EQ(AVIStreamWrite(a, 0, static_cast<LONG>(pcm.size() / 4), pcm.data(),
                                 static_cast<LONG>(pcm.size()), AVIIF_KEYFRAME, &samples, &bytes),
                  AVIERR_OK);
        EXPECT_EQ(samples, 480123);
        // A byte count that is not a whole number of samples is refused.
        EXPECT_EQ(AVIStreamWrite(a, samples, 1, pcm.data(), 3, AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_BADPARAM);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    PAVISTREAM a = in.streams[0];
    ASSERT_EQ(AVIStreamLength(a), 480123);
    ASSERT_EQ(AVIStreamChunkCount(a), 11);
    for (LONG c = 0; c < AVIStreamChunkCount(a); ++c) {
        AVICHUNKINFO chunk{};
        ASSERT_EQ(AVIStreamChunkInfo(a, c, &chunk), AVIERR_OK);
        EXPECT_EQ(chunk.firstSample, 48000 * c);
        EXPECT_EQ(chunk.samples, c < 10 ? 48000 : 123);
        EXPECT_EQ(chunk.size, static_cast<DWORD>(chunk.samples * 4));
    }
    EXPECT_EQ(ReadAllBytes(a), pcm);

    // A read across a chunk border, and one limited by the buffer.
    std::vector<uint8_t> part(4 * 100);
    LONG bytes = 0, count = 0;
    ASSERT_EQ(AVIStreamRead(a, 47950, 100, part.data(), 400, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(count, 100);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), pcm.begin() + 47950 * 4));
    ASSERT_EQ(AVIStreamRead(a, 0, 100, part.data(), 399, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(bytes, 396);
    EXPECT_EQ(AVIStreamRead(a, 0, 100, part.data(), 3, &bytes, &count), AVIERR_BUFFERTOOSMALL);
    // As many as convenient: the rest of the chunk.
    ASSERT_EQ(AVIStreamRead(a, 47990, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes, &count),
              AVIERR_OK);
    EXPECT_EQ(count, 10);
    // Reads clip at the end.
    ASSERT_EQ(AVIStreamRead(a, 480100, 1000, nullptr, 0, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(count, 23);
    EXPECT_EQ(bytes, 92);
}

TEST(AviRoundTrip, VariableSizeReadsStopAtTheBufferAndRefuseATooSmallOne) {
    TempDir dir;
    std::string path = dir.Path("var.avi");
    BITMAPINFOHEADER bih = BitmapHeader(16, 16, 24, kMjpg);
    {
        WrittenAvi out(path);
        PAVISTREAM v = out.Add(VideoHeader(kMjpg, 1, 25, 16, 16), &bih, sizeof bih);
        for (LONG i = 0; i < 4; ++i)
            ASSERT_EQ(
                WriteSample(v, i, Pattern(100 + static_cast<size_t>(i), static_cast<uint32_t>(i)),
                            AVIIF_KEYFRAME),
                AVIERR_OK);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    PAVISTREAM v = in.streams[0];
    std::vector<uint8_t> buffer(1000);
    LONG bytes = 0, count = 0;
    ASSERT_EQ(AVIStreamRead(v, 0, 4, nullptr, 0, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(bytes, 100 + 101 + 102 + 103);
    EXPECT_EQ(count, 4);
    ASSERT_EQ(AVIStreamRead(v, 0, 4, buffer.data(), 250, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(bytes, 201);
    EXPECT_TRUE(std::equal(buffer.begin() + 100, buffer.begin() + 201, Pattern(101, 1).begin()));
    EXPECT_EQ(AVIStreamRead(v, 1, 1, buffer.data(), 100, &bytes, &count), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(count, 0);
    LONG size = 0;
    ASSERT_EQ(AVIStreamSampleSize(v, 3, &size), AVIERR_OK);
    EXPECT_EQ(size, 103);
}

TEST(AviRoundTrip, SeveralSamplesInOneVariableSizeWriteKeepEveryByteAndPosition) {
    TempDir dir;
    std::string path = dir.Path("multi.avi");
    std::vector<uint8_t> block = Pattern(777, 5);
    {
        WrittenAvi out(path);
        AVISTREAMINFOW ti{};
        ti.fccType = streamtypeTEXT;
        ti.dwScale = 1;
        ti.dwRate = 1;
        PAVISTREAM t = out.Add(ti, nullptr, 0);
        ASSERT_EQ(AVIStreamWrite(t, 0, 3, block.data(), 777, AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(WriteSample(t, 3, Pattern(5, 6), AVIIF_KEYFRAME), AVIERR_OK);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    PAVISTREAM t = in.streams[0];
    EXPECT_EQ(StreamInfo(t).fccType, streamtypeTEXT);
    EXPECT_TRUE(ReadFormat(t).empty());
    ASSERT_EQ(AVIStreamLength(t), 4);
    std::vector<uint8_t> expected = block;
    std::vector<uint8_t> tail = Pattern(5, 6);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(ReadAllBytes(t), expected);
}

TEST(AviRoundTrip, StreamsWithoutSamplesKeepTheirHeaders) {
    TempDir dir;
    std::string path = dir.Path("empty.avi");
    BITMAPINFOHEADER bih = BitmapHeader(0, 0, 24, BI_RGB);
    WAVEFORMATEX wf = PcmFormat(44100, 1);
    {
        WrittenAvi out(path);
        out.Add(VideoHeader(0, 1, 25, 0, 0), &bih, sizeof bih);
        out.Add(PcmHeader(44100, 1), &wf, 16);  // a 16-byte PCM format stays 16 bytes
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.streams.size(), 2u);
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 0);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 0);
    EXPECT_EQ(ReadFormat(in.streams[0]).size(), 40u);
    EXPECT_EQ(ReadFormat(in.streams[1]).size(), 16u);
    LONG bytes = -1, count = -1;
    EXPECT_EQ(AVIStreamRead(in.streams[1], 0, 10, nullptr, 0, &bytes, &count), AVIERR_OK);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(AVIStreamFindSample(in.streams[0], 0, FIND_PREV | FIND_KEY), -1);
}

TEST(AviRoundTrip, FilePastTheRiffLimitContinuesInOpenDmlParts) {
    TempDir dir;
    std::string path = dir.Path("odml.avi");
    const uint64_t limit = 1 << 20;
    AVIFileSetRiffLimitForTests(limit);
    BITMAPINFOHEADER bih = BitmapHeader(64, 48, 24, BI_RGB);
    WAVEFORMATEX wf = PcmFormat(44100, 2);
    std::vector<uint8_t> pcm = Pattern(44100 * 4 * 6, 11);
    const int frameCount = 300;
    {
        WrittenAvi out(path);
        PAVISTREAM v = out.Add(VideoHeader(0, 1, 50, 64, 48), &bih, sizeof bih);
        for (int i = 0; i < frameCount; ++i)
            ASSERT_EQ(WriteSample(v, i, Pattern(9216, static_cast<uint32_t>(i)), 0), AVIERR_OK);
        PAVISTREAM a = out.Add(PcmHeader(44100, 2), &wf, sizeof wf);
        ASSERT_EQ(AVIStreamWrite(a, 0, static_cast<LONG>(pcm.size() / 4), pcm.data(),
                                 static_cast<LONG>(pcm.size()), AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    AVIFileSetRiffLimitForTests(0);

    std::vector<uint8_t> bytes = ReadWholeFile(path);
    std::vector<TopLevelRiff> parts = RiffParts(bytes);
    ASSERT_GE(parts.size(), 3u);
    uint64_t covered = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].type,
                  i == 0 ? mmioFOURCC('A', 'V', 'I', ' ') : mmioFOURCC('A', 'V', 'I', 'X'));
        EXPECT_LE(parts[i].size + 8, limit);
        covered += parts[i].size + 8;
    }
    EXPECT_EQ(covered, bytes.size());

    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(AVIStreamLength(in.streams[0]), frameCount);
    std::vector<std::vector<uint8_t>> frames = ReadAllSamples(in.streams[0]);
    for (int i = 0; i < frameCount; ++i)
        ASSERT_EQ(frames[static_cast<size_t>(i)], Pattern(9216, static_cast<uint32_t>(i))) << i;
    EXPECT_EQ(ReadAllBytes(in.streams[1]), pcm);

    // The main header counts the first part's frames only; dmlh holds them all.
    auto find = [&](const char* id) {
        auto it = std::search(bytes.begin(), bytes.end(), id, id + 4);
        return static_cast<size_t>(it - bytes.begin());
    };
    size_t avih = find("avih"), dmlh = find("dmlh");
    ASSERT_LT(dmlh, bytes.size());
    EXPECT_LT(GetLe32(&bytes[avih + 8 + 16]), static_cast<uint32_t>(frameCount));
    EXPECT_GT(GetLe32(&bytes[avih + 8 + 16]), 0u);
    EXPECT_EQ(GetLe32(&bytes[dmlh + 8]), static_cast<uint32_t>(frameCount));
}

TEST(AviRoundTrip, StreamsAddedAfterDataStillGetTheirHeaders) {
    // Each stream is written completely before the next is created, and the late headers are
    // larger than the space kept for them at first: the data moves up to make room.
    TempDir dir;
    std::string path = dir.Path("late.avi");
    AVIFileSetRiffLimitForTests(1 << 20);
    const int streamCount = 12;
    {
        WrittenAvi out(path);
        for (int s = 0; s < streamCount; ++s) {
            std::vector<uint8_t> format(40 + 6000);
            BITMAPINFOHEADER bih = BitmapHeader(8, 8, 24, kMjpg);
            std::memcpy(format.data(), &bih, sizeof bih);
            PAVISTREAM v = out.Add(VideoHeader(kMjpg, 1, 25, 8, 8), format.data(),
                                   static_cast<LONG>(format.size()));
            for (int i = 0; i < 30; ++i)
                ASSERT_EQ(WriteSample(v, i, Pattern(5000, static_cast<uint32_t>(s * 100 + i)),
                                      AVIIF_KEYFRAME),
                          AVIERR_OK);
        }
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    AVIFileSetRiffLimitForTests(0);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    const char movi[] = "movi";
    size_t moviAt = static_cast<size_t>(std::search(bytes.begin(), bytes.end(), movi, movi + 4) -
                                        bytes.begin());
    EXPECT_GT(moviAt, static_cast<size_t>(streamCount) * 6040);  // the headers do come first
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.streams.size(), static_cast<size_t>(streamCount));
    for (int s = 0; s < streamCount; ++s) {
        EXPECT_EQ(ReadFormat(in.streams[static_cast<size_t>(s)]).size(), 6040u);
        std::vector<std::vector<uint8_t>> frames =
            ReadAllSamples(in.streams[static_cast<size_t>(s)]);
        ASSERT_EQ(frames.size(), 30u);
        for (int i = 0; i < 30; ++i)
            ASSERT_EQ(frames[static_cast<size_t>(i)],
                      Pattern(5000, static_cast<uint32_t>(s * 100 + i)));
    }
}

TEST(AviRoundTrip, KeyFrameQueriesFindTheNearestKeyInEachDirection) {
    TempDir dir;
    std::string path = dir.Path("keys.avi");
    BITMAPINFOHEADER bih = BitmapHeader(8, 8, 24, kMjpg);
    {
        WrittenAvi out(path);
        AVISTREAMINFOW vi = VideoHeader(kMjpg, 1, 25, 8, 8);
        vi.dwStart = 10;
        PAVISTREAM v = out.Add(vi, &bih, sizeof bih);
        for (LONG i = 0; i < 20; ++i)
            ASSERT_EQ(
                WriteSample(v, 10 + i, Pattern(50, 1), (i == 2 || i == 12) ? AVIIF_KEYFRAME : 0),
                AVIERR_OK);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    PAVISTREAM v = in.streams[0];
    EXPECT_EQ(AVIStreamNearestKeyFrame(v, 11), -1);
    EXPECT_EQ(AVIStreamNearestKeyFrame(v, 12), 12);
    EXPECT_EQ(AVIStreamNearestKeyFrame(v, 21), 12);
    EXPECT_EQ(AVIStreamNearestKeyFrame(v, 29), 22);
    EXPECT_EQ(AVIStreamNearestKeyFrame(v, 500), 22);
    EXPECT_EQ(AVIStreamFindSample(v, 13, FIND_NEXT | FIND_KEY), 22);
    EXPECT_EQ(AVIStreamFindSample(v, 23, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(v, 3, FIND_NEXT | FIND_ANY), 10);
    EXPECT_EQ(AVIStreamFindSample(v, 99, FIND_PREV | FIND_ANY), 29);
    EXPECT_EQ(AVIStreamFindSample(v, 15, FIND_PREV | FIND_FORMAT), 10);
    EXPECT_EQ(AVIStreamIsKeyFrame(v, 22), 1);
    EXPECT_EQ(AVIStreamIsKeyFrame(v, 23), 0);
}

TEST(AviRoundTrip, StreamHandlesKeepTheirFileAliveInEitherReleaseOrder) {
    TempDir dir;
    std::string path = dir.Path("refs.avi");
    BITMAPINFOHEADER bih = BitmapHeader(4, 4, 24, BI_RGB);
    std::u16string name = U16(path);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOW vi = VideoHeader(0, 1, 25, 4, 4);
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileCreateStreamW(file, &v, &vi), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
    EXPECT_EQ(AVIFileRelease(file), 1u);  // the stream still holds the file
    ASSERT_EQ(WriteSample(v, 0, Pattern(48, 1), 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamRelease(v), 0u);  // completes the file
    EXPECT_EQ(AVIFileLastCloseResult(), AVIERR_OK);

    ASSERT_EQ(AVIFileOpenW(&file, name.c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM a = nullptr, b = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &a, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &b, 0, 0), AVIERR_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(AVIFileGetStream(file, &b, streamtypeAUDIO, 0), AVIERR_NODATA);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(AVIFileRelease(file), 1u);
    EXPECT_EQ(ReadAllSamples(a).at(0), Pattern(48, 1));
    EXPECT_EQ(AVIStreamRelease(a), 1u);
    EXPECT_EQ(AVIStreamRelease(a), 0u);
}

TEST(AviRoundTrip, WritesAreRefusedWhereTheyCantBeHonoured) {
    TempDir dir;
    std::string path = dir.Path("refuse.avi");
    BITMAPINFOHEADER bih = BitmapHeader(4, 4, 24, BI_RGB);
    BITMAPINFOHEADER other = BitmapHeader(8, 8, 24, BI_RGB);
    {
        WrittenAvi out(path);
        PAVISTREAM v = out.Add(VideoHeader(0, 1, 25, 4, 4), &bih, sizeof bih);
        ASSERT_EQ(WriteSample(v, 0, Pattern(48, 1), 0), AVIERR_OK);
        EXPECT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
        EXPECT_EQ(AVIStreamSetFormat(v, 0, &other, sizeof other), AVIERR_UNSUPPORTED);
        EXPECT_EQ(AVIStreamWrite(v, 1, 1, nullptr, 10, 0, nullptr, nullptr), AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamWrite(v, 1, -1, nullptr, 0, 0, nullptr, nullptr), AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamRead(v, 0, 1, nullptr, 0, nullptr, nullptr), AVIERR_UNSUPPORTED);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    std::vector<uint8_t> data = Pattern(48, 2);
    EXPECT_EQ(AVIStreamWrite(in.streams[0], 1, 1, data.data(), 48, 0, nullptr, nullptr),
              AVIERR_READONLY);
    EXPECT_EQ(AVIStreamSetFormat(in.streams[0], 0, &bih, sizeof bih), AVIERR_READONLY);
    AVISTREAMINFOW vi = VideoHeader(0, 1, 25, 4, 4);
    PAVISTREAM s = nullptr;
    EXPECT_EQ(AVIFileCreateStreamW(in.file, &s, &vi), AVIERR_READONLY);
    PAVIFILE f = nullptr;
    std::u16string name = U16(path);
    EXPECT_EQ(AVIFileOpenW(&f, name.c_str(), OF_WRITE, nullptr), AVIERR_UNSUPPORTED);
    std::u16string missing = U16(dir.Path("missing.avi"));
    EXPECT_EQ(AVIFileOpenW(&f, missing.c_str(), OF_READ, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(f, nullptr);
}

TEST(AviRoundTrip, CreatingOverAnExistingFileReplacesIt) {
    TempDir dir;
    std::string path = dir.Path("over.avi");
    WriteWholeFile(path, std::vector<uint8_t>(3 << 20, 0x55));
    {
        WrittenAvi out(path);
        ASSERT_EQ(out.Close(), AVIERR_OK);
    }
    EXPECT_LT(ReadWholeFile(path).size(), 1u << 20);
    OpenedAvi in(path);
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(in.info.dwStreams, 0u);
}

TEST(AviRoundTrip, AFullDiskIsReportedAndStaysReported) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no device that fails every write as /dev/full does";
#endif
    std::u16string full = u"/dev/full";
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, full.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOW vi = VideoHeader(0, 1, 25, 512, 512);
    BITMAPINFOHEADER bih = BitmapHeader(512, 512, 24, BI_RGB);
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileCreateStreamW(file, &v, &vi), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
    std::vector<uint8_t> frame(512 * 512 * 3);
    HRESULT last = AVIERR_OK;
    for (LONG i = 0; i < 4 && last == AVIERR_OK; ++i) last = WriteSample(v, i, frame, 0);
    EXPECT_EQ(last, AVIERR_FILEWRITE);
    EXPECT_EQ(AVIFileHasFailed(file), 1);
    EXPECT_EQ(WriteSample(v, 10, frame, 0), AVIERR_FILEWRITE);
    AVIStreamRelease(v);
    AVIFileRelease(file);
    EXPECT_EQ(AVIFileLastCloseResult(), AVIERR_FILEWRITE);
}

TEST(AviRoundTrip, AFailureOnlySeenAtCloseIsReported) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no device that fails every write as /dev/full does";
#endif
    // Small enough to stay in the write buffer until the file is completed.
    std::u16string full = u"/dev/full";
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, full.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOW vi = VideoHeader(0, 1, 25, 4, 4);
    BITMAPINFOHEADER bih = BitmapHeader(4, 4, 24, BI_RGB);
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileCreateStreamW(file, &v, &vi), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
    ASSERT_EQ(WriteSample(v, 0, Pattern(48, 1), 0), AVIERR_OK);
    EXPECT_EQ(AVIFileHasFailed(file), 0);
    AVIStreamRelease(v);
    AVIFileRelease(file);
    EXPECT_EQ(AVIFileLastCloseResult(), AVIERR_FILEWRITE);
}

}  // namespace
