// Hand-made and damaged files: unusual but valid layouts are read right, and hostile ones are
// refused or read as far as they hold, never with a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "avi_test_support.h"
#include "avifile/little_endian.h"

namespace {

using Bytes = std::vector<uint8_t>;

DWORD Fcc(const char* id) {
    return mmioFOURCC(id[0], id[1], id[2], id[3]);
}

Bytes Le32(uint32_t v) {
    Bytes b(4);
    PutLe32(b.data(), v);
    return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Chunk(const char* id, const Bytes& data, bool pad = true) {
    Bytes out = Cat({Le32(Fcc(id)), Le32(static_cast<uint32_t>(data.size())), data});
    if (pad && (data.size() & 1)) out.push_back(0);
    return out;
}

Bytes List(const char* type, const Bytes& children, const char* id = "LIST") {
    return Chunk(id, Cat({Le32(Fcc(type)), children}));
}

Bytes Avih(DWORD streams, DWORD width, DWORD height) {
    LeWriter w;
    w.U32(40000);
    w.Zeros(8);
    w.U32(AVIF_HASINDEX);
    w.U32(0);
    w.U32(0);
    w.U32(streams);
    w.U32(0);
    w.U32(width);
    w.U32(height);
    w.Zeros(16);
    return Chunk("avih", w.bytes);
}

struct StrhFields {
    DWORD type = streamtypeVIDEO;
    DWORD scale = 1;
    DWORD rate = 25;
    DWORD start = 0;
    DWORD length = 0;
    DWORD sampleSize = 0;
    int16_t frame[4] = {0, 0, 0, 0};
    size_t size = 56;
};

Bytes Strh(const StrhFields& f) {
    LeWriter w;
    w.U32(f.type);
    w.U32(0);
    w.U32(0);
    w.U32(0);
    w.U32(0);
    w.U32(f.scale);
    w.U32(f.rate);
    w.U32(f.start);
    w.U32(f.length);
    w.U32(0);
    w.U32(0xFFFFFFFF);
    w.U32(f.sampleSize);
    for (int16_t v : f.frame) w.U16(static_cast<uint16_t>(v));
    w.bytes.resize(f.size);
    return Chunk("strh", w.bytes);
}

Bytes Bih(LONG width, LONG height, DWORD compression = BI_RGB) {
    BITMAPINFOHEADER h = BitmapHeader(width, height, 24, compression);
    Bytes b(sizeof h);
    std::memcpy(b.data(), &h, sizeof h);
    return Chunk("strf", b);
}

Bytes Wfx(WORD tag, WORD channels, DWORD rate, WORD blockAlign, WORD cbSize = 0,
          const Bytes& extra = {}) {
    LeWriter w;
    w.U16(tag);
    w.U16(channels);
    w.U32(rate);
    w.U32(rate * blockAlign);
    w.U16(blockAlign);
    w.U16(16);
    w.U16(cbSize);
    w.Raw(extra.data(), extra.size());
    return Chunk("strf", w.bytes);
}

Bytes VideoStrl(const StrhFields& f = {}, const Bytes& extra = {}) {
    return List("strl", Cat({Strh(f), Bih(16, 8), extra}));
}

Bytes AudioStrl(DWORD sampleSize, const Bytes& strf) {
    StrhFields f;
    f.type = streamtypeAUDIO;
    f.sampleSize = sampleSize;
    f.scale = 1;
    f.rate = 8000;
    return List("strl", Cat({Strh(f), strf}));
}

struct IndexEntry {
    const char* id;
    DWORD flags;
    DWORD offset;
    DWORD size;
};

Bytes Idx1(const std::vector<IndexEntry>& entries) {
    LeWriter w;
    for (const IndexEntry& e : entries) {
        w.U32(Fcc(e.id));
        w.U32(e.flags);
        w.U32(e.offset);
        w.U32(e.size);
    }
    return Chunk("idx1", w.bytes);
}

Bytes Riff(const Bytes& hdrl, const Bytes& movi, const Bytes& tail = {}) {
    return List("AVI ", Cat({List("hdrl", hdrl), List("movi", movi), tail}), "RIFF");
}

// A small well-formed file: one video stream of three frames, one PCM stream, and idx1.
Bytes SmallFile() {
    Bytes hdrl = Cat({Avih(2, 16, 8), VideoStrl(), AudioStrl(2, Wfx(WAVE_FORMAT_PCM, 1, 8000, 2))});
    Bytes movi =
        Cat({Chunk("00dc", Bytes(10, 1)), Chunk("01wb", Bytes(8, 2)), Chunk("00dc", Bytes(7, 3)),
             Chunk("01wb", Bytes(8, 4)), Chunk("00dc", Bytes(12, 5))});
    // Offsets from the 'movi' list type: it is followed at once by the first chunk.
    Bytes idx1 = Idx1({{"00dc", AVIIF_KEYFRAME, 4, 10},
                       {"01wb", AVIIF_KEYFRAME, 22, 8},
                       {"00dc", 0, 38, 7},
                       {"01wb", AVIIF_KEYFRAME, 54, 8},
                       {"00dc", 0, 70, 12}});
    return Riff(hdrl, movi, idx1);
}

// Opens `bytes` and, when that works, reads every sample of every stream every way callers
// do. Returns the open result.
HRESULT OpenAndReadEverything(const Bytes& bytes) {
    OpenedAvi in(bytes.data(), bytes.size());
    if (!in.ok()) return in.result;
    for (PAVISTREAM s : in.streams) {
        AVISTREAMINFOW info = StreamInfo(s);
        LONG start = AVIStreamStart(s), length = AVIStreamLength(s);
        EXPECT_GE(start, 0);
        EXPECT_GE(length, 0);
        EXPECT_LE(int64_t{start} + length, INT32_MAX);
        EXPECT_EQ(info.dwLength, static_cast<DWORD>(length));
        ReadFormat(s);
        LONG bytesNeeded = 0, count = 0;
        EXPECT_EQ(AVIStreamRead(s, start, length, nullptr, 0, &bytesNeeded, &count), AVIERR_OK);
        if (bytesNeeded > 0 && bytesNeeded < (64 << 20)) {
            Bytes all(static_cast<size_t>(bytesNeeded));
            AVIStreamRead(s, start, length, all.data(), bytesNeeded, &bytesNeeded, &count);
        }
        for (LONG pos = start; pos < start + std::min<LONG>(length, 5000); ++pos) {
            AVIStreamNearestKeyFrame(s, pos);
            LONG size = 0;
            AVIStreamSampleSize(s, pos, &size);
        }
    }
    return AVIERR_OK;
}

// Offsets of every chunk header in a file, found by walking lists.
void ChunkHeaders(const Bytes& file, size_t begin, size_t end, std::vector<size_t>* out) {
    for (size_t pos = begin; pos + 8 <= end;) {
        out->push_back(pos);
        uint32_t id = GetLe32(&file[pos]);
        uint64_t size = GetLe32(&file[pos + 4]);
        if ((id == Fcc("LIST") || id == Fcc("RIFF")) && size >= 4)
            ChunkHeaders(file, pos + 12, std::min<uint64_t>(end, pos + 8 + size), out);
        pos += 8 + size + (size & 1);
    }
}

TEST(AviHandMade, SmallFileReadsThroughIdx1) {
    Bytes file = SmallFile();
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.streams.size(), 2u);
    std::vector<Bytes> frames = ReadAllSamples(in.streams[0]);
    EXPECT_EQ(frames, (std::vector<Bytes>{Bytes(10, 1), Bytes(7, 3), Bytes(12, 5)}));
    EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 0), 1);
    EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 1), 0);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 8);
    EXPECT_EQ(ReadAllBytes(in.streams[1]), Cat({Bytes(8, 2), Bytes(8, 4)}));
    // An empty frame rectangle is the format's frame size.
    AVISTREAMINFOW vi = StreamInfo(in.streams[0]);
    EXPECT_EQ(vi.rcFrame.right, 16);
    EXPECT_EQ(vi.rcFrame.bottom, 8);
}

TEST(AviHandMade, UnindexedFileWithoutPadBytesAndWithRecListsIsScanned) {
    Bytes hdrl = Cat({Avih(2, 0, 0), VideoStrl(), AudioStrl(2, Wfx(WAVE_FORMAT_PCM, 1, 8000, 2))});
    Bytes movi =
        Cat({Chunk("00dc", Bytes(3, 1), false), Chunk("00dc", Bytes(5, 2), false),
             Chunk("JUNK", Bytes(6, 0)), Chunk("01wb", Bytes(4, 3), false),
             List("rec ", Cat({Chunk("00dc", Bytes(2, 4)), Chunk("01wb", Bytes(6, 5)),
                               Chunk("00dc", Bytes())})),
             // The last header ends the list exactly, one byte before a padded layout would.
             Chunk("01wb", Bytes(5, 6), false), Chunk("00dc", Bytes())});
    Bytes file = Riff(hdrl, movi);
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    // The file header's zero frame size becomes the first video stream's.
    EXPECT_EQ(in.info.dwWidth, 16u);
    EXPECT_EQ(in.info.dwHeight, 8u);
    std::vector<Bytes> frames = ReadAllSamples(in.streams[0]);
    EXPECT_EQ(frames,
              (std::vector<Bytes>{Bytes(3, 1), Bytes(5, 2), Bytes(2, 4), Bytes(), Bytes()}));
    // Audio counted in 2-byte samples: the odd byte of the 5-byte chunk is no sample.
    EXPECT_EQ(ReadAllBytes(in.streams[1]), Cat({Bytes(4, 3), Bytes(6, 5), Bytes(4, 6)}));
    EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 3), 0);  // an empty frame is never a key frame
}

TEST(AviHandMade, SampleSizesFollowTheAudioFormat) {
    Bytes mp3Extra(12, 0);
    Bytes hdrl =
        Cat({Avih(4, 16, 8),
             AudioStrl(1152, Wfx(WAVE_FORMAT_MPEGLAYER3, 2, 44100, 1152, 12, mp3Extra)),  // VBR
             AudioStrl(1, Wfx(WAVE_FORMAT_PCM, 2, 8000, 4)),  // block align wins
             AudioStrl(0, Wfx(WAVE_FORMAT_PCM, 1, 8000, 2)),  // PCM is constant rate
             VideoStrl([] {
                 StrhFields f;
                 f.sampleSize = 1000;
                 return f;
             }())});
    Bytes movi = Cat({Chunk("00wb", Bytes(417, 1)), Chunk("00wb", Bytes(418, 1)),
                      Chunk("01wb", Bytes(40, 2)), Chunk("02wb", Bytes(20, 3)),
                      Chunk("03dc", Bytes(1000, 4)), Chunk("03dc", Bytes())});
    Bytes file = Riff(hdrl, movi);
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.streams.size(), 4u);
    EXPECT_EQ(StreamInfo(in.streams[0]).dwSampleSize, 0u);
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 2);
    EXPECT_EQ(StreamInfo(in.streams[1]).dwSampleSize, 4u);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 10);
    EXPECT_EQ(StreamInfo(in.streams[2]).dwSampleSize, 2u);
    EXPECT_EQ(AVIStreamLength(in.streams[2]), 10);
    // A video chunk is one frame whatever the header's sample size; an empty one is a drop frame.
    EXPECT_EQ(StreamInfo(in.streams[3]).dwSampleSize, 0u);
    EXPECT_EQ(AVIStreamLength(in.streams[3]), 2);
}

TEST(AviHandMade, ShortAndOverlongHeaderChunksAreReadAsFarAsTheyGo) {
    StrhFields old;
    old.size = 48;  // no frame rectangle
    StrhFields tiny;
    tiny.size = 8;
    Bytes hdrl = Cat({Avih(3, 16, 8), VideoStrl(old),
                      List("strl", Cat({Strh(tiny), Chunk("strf", Bytes(4, 9))})),
                      AudioStrl(2, Wfx(WAVE_FORMAT_PCM, 1, 8000, 2, 1000, Bytes{7, 7}))});
    Bytes movi = Chunk("00dc", Bytes(4, 1));
    Bytes file = Riff(hdrl, movi);
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.streams.size(), 3u);
    EXPECT_EQ(StreamInfo(in.streams[0]).rcFrame.right, 16);
    EXPECT_EQ(ReadFormat(in.streams[1]).size(), 4u);
    EXPECT_EQ(StreamInfo(in.streams[1]).dwRate, 0u);
    Bytes wfx = ReadFormat(in.streams[2]);
    ASSERT_EQ(wfx.size(), 20u);
    EXPECT_EQ(GetLe16(&wfx[16]), 2u);  // cbSize no larger than the extra bytes that are there
}

TEST(AviHandMade, ZeroScaleAndRateAndHugeStartsAreHarmless) {
    StrhFields zero;
    zero.scale = 0;
    zero.rate = 0;
    StrhFields late;
    late.start = 0x7FFFFFF0;
    StrhFields wild;
    wild.start = 0xFFFFFFF0;
    Bytes hdrl = Cat({Avih(3, 16, 8), VideoStrl(zero), VideoStrl(late), VideoStrl(wild)});
    Bytes movi;
    for (int i = 0; i < 40; ++i)
        movi = Cat({movi, Chunk("00dc", Bytes(2, 1)), Chunk("01dc", Bytes(2, 2)),
                    Chunk("02dc", Bytes(2, 3))});
    Bytes file = Riff(hdrl, movi);
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 40);
    EXPECT_EQ(StreamInfo(in.streams[0]).dwRate, 0u);
    // Positions must stay within 32 bits: the samples past INT32_MAX are out of reach.
    EXPECT_EQ(AVIStreamStart(in.streams[1]), 0x7FFFFFF0);
    EXPECT_EQ(AVIStreamLength(in.streams[1]), 15);
    EXPECT_EQ(AVIStreamStart(in.streams[2]), 0);
    EXPECT_EQ(AVIStreamLength(in.streams[2]), 40);
    EXPECT_EQ(OpenAndReadEverything(file), AVIERR_OK);
}

TEST(AviHandMade, ManyStreamsAreAllOffered) {
    Bytes hdrl = Avih(150, 16, 8);
    for (int i = 0; i < 150; ++i) hdrl = Cat({hdrl, VideoStrl()});
    Bytes file = Riff(hdrl, Cat({Chunk("00dc", Bytes(2, 1)), Chunk("99dc", Bytes(3, 1))}));
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(in.info.dwStreams, 150u);
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 1);
    EXPECT_EQ(AVIStreamLength(in.streams[99]), 1);
    EXPECT_EQ(AVIStreamLength(in.streams[149]), 0);
}

TEST(AviHostile, NotAnAviFileIsRefused) {
    Bytes wave = List("WAVE", Chunk("fmt ", Bytes(16, 0)), "RIFF");
    EXPECT_EQ(OpenAndReadEverything(Bytes()), AVIERR_BADFORMAT);
    EXPECT_EQ(OpenAndReadEverything(wave), AVIERR_BADFORMAT);
    EXPECT_EQ(OpenAndReadEverything(Pattern(4096, 1)), AVIERR_BADFORMAT);
    EXPECT_EQ(OpenAndReadEverything(List("AVI ", Bytes(), "RIFF")),
              AVIERR_BADFORMAT);  // no header list
}

TEST(AviHostile, FileEndingInsideItsHeadersOrWithoutADataListIsRefused) {
    Bytes file = SmallFile();
    size_t hdrlEnd = 12 + 8 + GetLe32(&file[16]);
    ASSERT_EQ(GetLe32(&file[hdrlEnd + 8]), Fcc("movi"));
    // Every cut inside the header list, and one right after it.
    for (size_t n = 12; n <= hdrlEnd + 8; ++n) {
        Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
        EXPECT_EQ(OpenAndReadEverything(cut), AVIERR_BADFORMAT) << n;
    }
    // Whole headers without a movi list, with or without something after them.
    Bytes hdrl = Cat({Avih(1, 16, 8), VideoStrl()});
    EXPECT_EQ(OpenAndReadEverything(List("AVI ", List("hdrl", hdrl), "RIFF")), AVIERR_BADFORMAT);
    EXPECT_EQ(OpenAndReadEverything(
                  List("AVI ", Cat({List("hdrl", hdrl), Chunk("JUNK", Bytes(100, 0))}), "RIFF")),
              AVIERR_BADFORMAT);
    // An empty movi list, and one whose size was never written, are files without frames yet.
    Bytes unfinished = Cat({Le32(Fcc("RIFF")), Le32(0), Le32(Fcc("AVI ")), List("hdrl", hdrl),
                            Le32(Fcc("LIST")), Le32(0), Le32(Fcc("movi"))});
    for (const Bytes& empty : {Riff(hdrl, Bytes()), unfinished}) {
        OpenedAvi in(empty.data(), empty.size());
        ASSERT_TRUE(in.ok());
        EXPECT_EQ(in.streams.size(), 1u);
    }
}

// An idx1 that is cut short, damaged, or lists only some chunks: every chunk of the movi list
// is read, with the index's key flags where its entries are sound.
TEST(AviHostile, ChunksIdx1LeavesOutAreFoundInTheMoviList) {
    Bytes file = SmallFile();
    size_t idx1 = file.size() - (8 + 5 * 16);
    ASSERT_EQ(GetLe32(&file[idx1]), Fcc("idx1"));
    std::vector<Bytes> frames = {Bytes(10, 1), Bytes(7, 3), Bytes(12, 5)};
    Bytes audio = Cat({Bytes(8, 2), Bytes(8, 4)});
    auto withEntries = [&](std::initializer_list<int> kept) {
        Bytes out(file.begin(), file.begin() + static_cast<long>(idx1 + 8));
        for (int i : kept) {
            auto entry = file.begin() + static_cast<long>(idx1 + 8 + 16 * i);
            out.insert(out.end(), entry, entry + 16);
        }
        PutLe32(&out[idx1 + 4], static_cast<uint32_t>(16 * kept.size()));
        return out;
    };
    Bytes cutInEntry(file.begin(), file.end() - 40);  // two entries and a half lost
    Bytes middleLeftOut = withEntries({0, 1, 3, 4});
    Bytes firstLeftOut = withEntries({1, 2, 3, 4});
    Bytes wrongStream = file;
    std::memcpy(&wrongStream[idx1 + 8 + 16 * 2], "01wb", 4);
    Bytes shortSize = file;
    PutLe32(&shortSize[idx1 + 8 + 16 * 4 + 12], 5);
    for (const Bytes& damaged : {cutInEntry, middleLeftOut, firstLeftOut, wrongStream, shortSize}) {
        OpenedAvi in(damaged.data(), damaged.size());
        ASSERT_TRUE(in.ok());
        EXPECT_EQ(ReadAllSamples(in.streams[0]), frames);
        EXPECT_EQ(ReadAllBytes(in.streams[1]), audio);
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 0), 1);
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 2), 0);
    }
}

// Writes `frames` with our own writer as a 16 x 16 MJPEG stream at 25 frames a second, every
// keyEvery-th frame a key frame.
void WriteOurMjpegFile(const std::string& path, const std::vector<Bytes>& frames, LONG keyEvery) {
    std::u16string name = U16(path);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOW vi = VideoHeader(mmioFOURCC('M', 'J', 'P', 'G'), 1, 25, 16, 16);
    BITMAPINFOHEADER bih = BitmapHeader(16, 16, 24, mmioFOURCC('M', 'J', 'P', 'G'));
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileCreateStreamW(file, &v, &vi), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(v, 0, &bih, sizeof bih), AVIERR_OK);
    for (LONG i = 0; i < static_cast<LONG>(frames.size()); ++i) {
        const Bytes& frame = frames[static_cast<size_t>(i)];
        ASSERT_EQ(AVIStreamWrite(v, i, 1, frame.data(), static_cast<LONG>(frame.size()),
                                 i % keyEvery == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                  AVIERR_OK);
    }
    AVIStreamRelease(v);
    AVIFileRelease(file);
}

// Our own file (one RIFF part: idx1 is its only index) cut inside idx1: what idx1 still lists
// keeps its key flags, and the frames after it are found in the movi list.
TEST(AviHostile, OurFileCutInsideIdx1KeepsEveryFrame) {
    TempDir dir;
    std::string path = dir.Path("ours.avi");
    std::vector<Bytes> frames;
    for (size_t i = 0; i < 90; ++i) frames.push_back(Pattern(301 + i, static_cast<uint32_t>(i)));
    ASSERT_NO_FATAL_FAILURE(WriteOurMjpegFile(path, frames, 10));
    Bytes file = ReadWholeFile(path);
    const char idx1[] = "idx1";
    auto index = std::find_end(file.begin(), file.end(), idx1, idx1 + 4);
    ASSERT_NE(index, file.end());
    size_t idx1At = static_cast<size_t>(index - file.begin());
    ASSERT_EQ(GetLe32(&file[idx1At + 4]), 90u * 16);
    file.resize(idx1At + 8 + 30 * 16 + 9);
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(ReadAllSamples(in.streams[0]), frames);
    EXPECT_EQ(AVIStreamNearestKeyFrame(in.streams[0], 25), 20);
}

TEST(AviHostile, EveryTruncationOpensCleanlyOrIsRefused) {
    Bytes file = SmallFile();
    for (size_t n = 0; n <= file.size(); ++n) {
        Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
        HRESULT r = OpenAndReadEverything(cut);
        EXPECT_TRUE(r == AVIERR_OK || r == AVIERR_BADFORMAT) << n;
    }
}

TEST(AviHostile, HugeSizesAnywhereAreClippedToTheirParent) {
    Bytes file = SmallFile();
    std::vector<size_t> headers;
    ChunkHeaders(file, 0, file.size(), &headers);
    ASSERT_GT(headers.size(), 10u);
    for (size_t at : headers) {
        for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF9u, 0x7FFFFFFFu, 0u, 1u}) {
            Bytes bad = file;
            PutLe32(&bad[at + 4], size);
            OpenAndReadEverything(bad);
        }
    }
    // idx1 entries that point past the end, or claim huge sizes, are not used: the chunks they
    // stand for are taken from the movi list, the others keep their entries' key flags.
    Bytes bad = file;
    size_t idx1 = headers.back();
    PutLe32(&bad[idx1 + 8 + 12], 0xFFFFFFF0u);
    PutLe32(&bad[idx1 + 8 + 16 + 8], 0x7FFFFFF0u);
    OpenedAvi in(bad.data(), bad.size());
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(ReadAllSamples(in.streams[0]),
              (std::vector<Bytes>{Bytes(10, 1), Bytes(7, 3), Bytes(12, 5)}));
    EXPECT_EQ(ReadAllBytes(in.streams[1]), Cat({Bytes(8, 2), Bytes(8, 4)}));
    EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 0), 1);
    EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 1), 0);
}

TEST(AviHostile, RandomDamageNeverCrashes) {
    Bytes file = SmallFile();
    uint32_t x = 12345;
    auto next = [&] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    int opened = 0;
    for (int round = 0; round < 1500; ++round) {
        Bytes bad = file;
        int flips = 1 + static_cast<int>(next() % 6);
        for (int i = 0; i < flips; ++i) bad[next() % bad.size()] = static_cast<uint8_t>(next());
        if (OpenAndReadEverything(bad) == AVIERR_OK) ++opened;
    }
    EXPECT_GT(opened, 500);  // most damage leaves a readable file
}

TEST(AviHostile, DeepListNestingIsBounded) {
    Bytes inner = Chunk("00dc", Bytes(2, 1));
    for (int i = 0; i < 2000; ++i) inner = List("rec ", inner);
    Bytes file = Riff(Cat({Avih(1, 16, 8), VideoStrl()}), Cat({Chunk("00dc", Bytes(4, 1)), inner}));
    OpenedAvi in(file.data(), file.size());
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(AVIStreamLength(in.streams[0]), 1);  // the frame buried too deep is not followed
}

// OpenDML indexes built by hand around the small file's movi chunks.
struct OdmlFile {
    Bytes bytes;
    size_t indxAt = 0;  // offset of the indx chunk header
};

OdmlFile BuildOdml(uint16_t superLongs, uint32_t superEntries, bool selfPointing, int repeats,
                   uint32_t stdEntries = 2) {
    // Layout: RIFF, hdrl(avih, strl(strh, strf, indx)), movi(00dc, 00dc, ix00).
    auto indxFor = [&](uint64_t ixOffset, uint64_t selfOffset) {
        LeWriter w;
        w.U16(superLongs);
        w.U8(0);
        w.U8(0);
        w.U32(superEntries);
        w.U32(Fcc("00dc"));
        w.Zeros(12);
        for (int i = 0; i < repeats; ++i) {
            w.U64(selfPointing && i == 0 ? selfOffset : ixOffset);
            w.U32(64);
            w.U32(2);
        }
        return Chunk("indx", w.bytes);
    };
    // Sizes do not depend on the offsets, so build once to measure and again with them.
    OdmlFile out;
    uint64_t ixOffset = 0, indxOffset = 0;
    for (int pass = 0; pass < 2; ++pass) {
        Bytes strl = List("strl", Cat({Strh({}), Bih(16, 8), indxFor(ixOffset, indxOffset)}));
        Bytes hdrl = Cat({Avih(1, 16, 8), strl});
        size_t moviData = 12 + 12 + hdrl.size() + 12;  // RIFF, LIST hdrl, LIST movi headers
        LeWriter ix;
        ix.U16(2);
        ix.U8(0);
        ix.U8(1);
        ix.U32(stdEntries);
        ix.U32(Fcc("00dc"));
        ix.U64(moviData);
        ix.U32(0);
        ix.U32(8);
        ix.U32(6);
        ix.U32(8 + 6 + 8);
        ix.U32(4 | 0x80000000u);
        Bytes movi =
            Cat({Chunk("00dc", Bytes(6, 1)), Chunk("00dc", Bytes(4, 2)), Chunk("ix00", ix.bytes)});
        out.bytes = Riff(hdrl, movi);
        ixOffset = moviData + 14 + 12;
        indxOffset = 12 + 12 + 64 + 12 + 64 + 48;  // RIFF, LIST hdrl, avih, LIST strl, strh, strf
        out.indxAt = static_cast<size_t>(indxOffset);
    }
    return out;
}

TEST(AviHostile, OpenDmlIndexesAreReadOnceAndCheckedBeforeUse) {
    OdmlFile good = BuildOdml(4, 1, false, 1);
    ASSERT_EQ(GetLe32(&good.bytes[good.indxAt]), Fcc("indx"));
    {
        OpenedAvi in(good.bytes.data(), good.bytes.size());
        ASSERT_TRUE(in.ok());
        EXPECT_EQ(ReadAllSamples(in.streams[0]), (std::vector<Bytes>{Bytes(6, 1), Bytes(4, 2)}));
        EXPECT_EQ(AVIStreamIsKeyFrame(in.streams[0], 1), 0);
    }
    // The same standard index listed a thousand times, or the super index pointing at itself.
    for (bool self : {false, true}) {
        OdmlFile loop = BuildOdml(4, 1000, self, 1000);
        OpenedAvi in(loop.bytes.data(), loop.bytes.size());
        ASSERT_TRUE(in.ok());
        EXPECT_EQ(AVIStreamLength(in.streams[0]), 2);
    }
    // A super index with no usable entry size is no index at all, and the movi list is walked
    // (which steps over the ix00 chunk); entry counts beyond their chunk are cut to it.
    for (uint16_t longs : {uint16_t{0}, uint16_t{0xFFFF}, uint16_t{4}}) {
        OdmlFile bad = BuildOdml(longs, longs == 4 ? 0xFFFFFFFFu : 5u, false, 1,
                                 longs == 4 ? 0x7FFFFFFFu : 2u);
        OpenedAvi in(bad.bytes.data(), bad.bytes.size());
        ASSERT_TRUE(in.ok());
        EXPECT_EQ(ReadAllSamples(in.streams[0]), (std::vector<Bytes>{Bytes(6, 1), Bytes(4, 2)}))
            << longs;
    }
}

TEST(AviHostile, OpenDmlFileWithBrokenSuperIndexFallsBackToIdx1AndScanning) {
    // Our own OpenDML file with its super indexes spoilt: idx1 gives the first part, the rest is
    // walked, stepping over the ix## chunks in either spelling.
    TempDir dir;
    std::string path = dir.Path("odml.avi");
    AVIFileSetRiffLimitForTests(1 << 20);
    {
        std::vector<Bytes> frames;
        for (size_t i = 0; i < 200; ++i)
            frames.push_back(Pattern(12001 + i, static_cast<uint32_t>(i)));
        ASSERT_NO_FATAL_FAILURE(WriteOurMjpegFile(path, frames, 1));
    }
    AVIFileSetRiffLimitForTests(0);
    Bytes file = ReadWholeFile(path);
    std::vector<Bytes> expected;
    {
        OpenedAvi in(file.data(), file.size());
        ASSERT_TRUE(in.ok());
        expected = ReadAllSamples(in.streams[0]);
        ASSERT_EQ(expected.size(), 200u);
    }
    const char indx[] = "indx";
    size_t at =
        static_cast<size_t>(std::search(file.begin(), file.end(), indx, indx + 4) - file.begin());
    ASSERT_LT(at, file.size());
    PutLe16(&file[at + 8], 0);  // wLongsPerEntry
    for (bool respell : {false, true}) {
        if (respell) {
            const char ix[] = "ix00";
            for (auto it = file.begin();
                 (it = std::search(it, file.end(), ix, ix + 4)) != file.end(); ++it)
                std::memcpy(&*it, "00ix", 4);
        }
        OpenedAvi in(file.data(), file.size());
        ASSERT_TRUE(in.ok());
        EXPECT_EQ(ReadAllSamples(in.streams[0]), expected) << respell;
    }
}

}  // namespace
