#include "decoder_size_sweep.h"

#include <cstring>

#include <gtest/gtest.h>

#include "decoder_test_support.h"

const SweepCodec kSweepCodecs[] = {
    {"Mpeg4", "-c:v mpeg4 -vtag FMP4 -q:v 2 -pix_fmt yuv420p", false, false, false, false},
    {"H264", "-c:v libx264 -preset veryfast -pix_fmt yuv420p", false, false, false, true},
    {"Mjpeg", "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p", false, false, false, false},
    {"HuffYuv422", "-c:v huffyuv -pix_fmt yuv422p", true, true, false, false},
    {"HuffYuvRgb", "-c:v huffyuv -pix_fmt rgb24", true, false, false, false},
    {"Ffv1", "-c:v ffv1 -pix_fmt yuv420p", true, false, false, false},
};
const size_t kSweepCodecCount = std::size(kSweepCodecs);

namespace {

constexpr int kFrames = 3;

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// The same samples under a header that gives the exact size.
void WriteWithSize(const std::string& from, const std::string& to, int width, int height) {
    OpenedAvi avi(from);
    ASSERT_TRUE(avi.ok());
    PAVISTREAM stream = VideoStream(avi);
    ASSERT_NE(stream, nullptr);
    AVISTREAMINFOW header = StreamInfo(stream);
    header.rcFrame = {0, 0, width, height};
    std::vector<uint8_t> format = ReadFormat(stream);
    ASSERT_GE(format.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bitmap;
    std::memcpy(&bitmap, format.data(), sizeof bitmap);
    bitmap.biWidth = width;
    bitmap.biHeight = height;
    std::memcpy(format.data(), &bitmap, sizeof bitmap);
    ASSERT_TRUE(WriteVideoAvi(to, header, format, StoredSamples(stream)));
}

// The rows of a top-down frame, reordered bottom-up, so both layouts compare alike.
Image Flipped(const Image& image, int width, int height) {
    uint64_t row = RowBytes(width);
    Image flipped(image.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(flipped.data() + row * y, image.data() + row * (height - 1 - y), row);
    return flipped;
}

// Bytes past the pixels of each row must stay 0, whatever the conversion wrote.
bool PadBytesClear(const Image& image, int width, int height) {
    uint64_t row = RowBytes(width);
    for (int y = 0; y < height; ++y)
        for (uint64_t x = uint64_t(width) * 3; x < row; ++x)
            if (image[row * y + x] != 0) return false;
    return true;
}

}  // namespace

std::string SweepRefusal(const SweepCodec& codec, int width, int height) {
    if (codec.evenWidth && width % 2) return std::string(codec.name) + " refuses odd widths";
    if (codec.evenHeight && height % 2) return std::string(codec.name) + " refuses odd heights";
    return {};
}

void CheckSweepSize(const SweepCodec& codec, int width, int height) {
    SCOPED_TRACE(std::string(codec.name) + " " + SizeText(width, height));
    TempDir dir;
    std::string path = dir.Path("sized.avi");
    std::string source = "testsrc=s=" + SizeText(width, height) + ":r=25";
    bool odd = width % 2 || height % 2;
    if (codec.oddSizeByHeaders && odd) {
        int codedWidth = width + width % 2, codedHeight = height + height % 2;
        std::string padded = dir.Path("padded.avi");
        std::string pad = "-vf pad=" + std::to_string(codedWidth) + ":" +
                          std::to_string(codedHeight) +
                          ",fillborders=right=" + std::to_string(width % 2) +
                          ":bottom=" + std::to_string(height % 2) + ":mode=smear ";
        ASSERT_TRUE(MakeAvi(padded, source, kFrames, pad + codec.encoder));
        WriteWithSize(padded, path, width, height);
    } else {
        ASSERT_TRUE(MakeAvi(path, source, kFrames, codec.encoder));
    }
    std::vector<Image> reference = ReferenceFrames(path, width, height);
    ASSERT_EQ(reference.size(), size_t{kFrames}) << "ffmpeg's pictures of the file";

    OpenedAvi avi(path);
    ASSERT_TRUE(avi.ok());
    PAVISTREAM stream = VideoStream(avi);
    ASSERT_NE(stream, nullptr);
    std::vector<Image> bottomUp = DecodeAll(stream, width, height);
    std::vector<Image> topDown = DecodeAll(stream, width, -height);
    ASSERT_EQ(bottomUp.size(), reference.size());
    ASSERT_EQ(topDown.size(), reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        ASSERT_FALSE(bottomUp[i].empty()) << "frame " << i;
        ASSERT_FALSE(topDown[i].empty()) << "frame " << i << " top-down";
        EXPECT_TRUE(PadBytesClear(bottomUp[i], width, height)) << "frame " << i;
        EXPECT_TRUE(PadBytesClear(topDown[i], width, height)) << "frame " << i << " top-down";
        EXPECT_TRUE(Flipped(topDown[i], width, height) == bottomUp[i])
            << "frame " << i << ": the two layouts differ";
        double psnr = Psnr(bottomUp[i], reference[i]);
        if (codec.exact)
            EXPECT_EQ(psnr, 1000) << "frame " << i << ", PSNR " << psnr;
        else
            EXPECT_GE(psnr, 45.0) << "frame " << i;
    }
}
