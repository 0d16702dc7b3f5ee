#include "decoder_test_support.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

bool MakeAvi(const std::string& path, const std::string& source, int frames,
             const std::string& encoderArguments) {
    std::string command = "ffmpeg -v error -y -f lavfi -i '" + source + "' -frames:v " +
                          std::to_string(frames) + " " + encoderArguments + " -f avi '" + path +
                          "' 2>&1";
    std::string output;
    int status = RunCommand(command, &output);
    if (status != 0) ADD_FAILURE() << command << "\n" << output;
    return status == 0;
}

uint64_t RowBytes(int width) {
    return (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
}

Image BottomUpPadded(const uint8_t* topDown, int width, int height) {
    uint64_t row = RowBytes(width);
    Image image(row * static_cast<uint64_t>(height), 0);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.data() + row * static_cast<uint64_t>(height - 1 - y),
                    topDown + static_cast<uint64_t>(y) * width * 3, static_cast<size_t>(width) * 3);
    return image;
}

std::vector<Image> ReferenceFrames(const std::string& path, int width, int height,
                                   const std::string& filter) {
    std::string bytes;
    RunCommand("ffmpeg -v error -i '" + path + "' -map 0:v:0 " +
                   (filter.empty() ? std::string() : "-vf '" + filter + "' ") +
                   "-f rawvideo -pix_fmt bgr24 -",
               &bytes);
    size_t frameBytes = static_cast<size_t>(width) * height * 3;
    std::vector<Image> frames;
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes)
        frames.push_back(
            BottomUpPadded(reinterpret_cast<const uint8_t*>(bytes.data()) + at, width, height));
    return frames;
}

PAVISTREAM VideoStream(const OpenedAvi& avi) {
    for (PAVISTREAM s : avi.streams)
        if (StreamInfo(s).fccType == streamtypeVIDEO) return s;
    return nullptr;
}

Image FrameDecoder::At(LONG position, int width, int height) {
    auto* frame = static_cast<const uint8_t*>(AVIStreamGetFrame(handle, position));
    if (!frame) return {};
    BITMAPINFOHEADER h;
    std::memcpy(&h, frame, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, width);
    EXPECT_EQ(h.biHeight, height);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, BI_RGB);
    uint64_t size = RowBytes(width) * static_cast<uint64_t>(height < 0 ? -height : height);
    EXPECT_EQ(h.biSizeImage, size);
    return Image(frame + 40, frame + 40 + size);
}

BITMAPINFOHEADER Wanted(LONG width, LONG height) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage =
        static_cast<DWORD>(RowBytes(width) * static_cast<uint64_t>(height < 0 ? -height : height));
    return h;
}

std::vector<Image> DecodeAll(PAVISTREAM stream, int width, int height) {
    BITMAPINFOHEADER wanted = Wanted(width, height);
    FrameDecoder decoder(stream, &wanted);
    EXPECT_NE(decoder.handle, nullptr);
    std::vector<Image> frames;
    LONG start = AVIStreamStart(stream);
    for (LONG p = start; p < start + AVIStreamLength(stream); ++p)
        frames.push_back(decoder.At(p, width, height));
    return frames;
}

std::vector<Image> ExpectedWithDrops(const std::vector<Image>& pictures, PAVISTREAM stream) {
    std::vector<Image> expected;
    size_t next = 0;
    LONG start = AVIStreamStart(stream);
    for (LONG p = start; p < start + AVIStreamLength(stream); ++p) {
        LONG size = 0;
        AVIStreamSampleSize(stream, p, &size);
        if (size == 0)
            expected.push_back(expected.empty() ? Image() : expected.back());
        else
            expected.push_back(next < pictures.size() ? pictures[next++] : Image());
    }
    EXPECT_EQ(next, pictures.size()) << "chunks with data against pictures ffmpeg gives out";
    return expected;
}

bool WriteVideoAvi(const std::string& path, const AVISTREAMINFOW& header,
                   const std::vector<uint8_t>& format, const std::vector<VideoSample>& samples,
                   bool withAudio) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, U16(path).c_str(), OF_CREATE | OF_WRITE, nullptr) != AVIERR_OK)
        return false;
    bool ok = true;
    PAVISTREAM video = nullptr;
    ok &= AVIFileCreateStreamW(file, &video, &header) == AVIERR_OK;
    ok &=
        AVIStreamSetFormat(video, 0, format.data(), static_cast<LONG>(format.size())) == AVIERR_OK;
    for (const VideoSample& sample : samples)
        ok &= AVIStreamWrite(video, sample.position, 1, sample.bytes.data(),
                             static_cast<LONG>(sample.bytes.size()),
                             sample.key ? AVIIF_KEYFRAME : 0, nullptr, nullptr) == AVIERR_OK;
    AVIStreamRelease(video);
    if (withAudio) {
        PAVISTREAM audio = nullptr;
        AVISTREAMINFOW pcm = PcmHeader(8000, 1);
        WAVEFORMATEX wave = PcmFormat(8000, 1);
        std::vector<uint8_t> silence(800, 0);
        ok &= AVIFileCreateStreamW(file, &audio, &pcm) == AVIERR_OK;
        ok &= AVIStreamSetFormat(audio, 0, &wave, sizeof wave) == AVIERR_OK;
        ok &= AVIStreamWrite(audio, 0, 400, silence.data(), 800, AVIIF_KEYFRAME, nullptr,
                             nullptr) == AVIERR_OK;
        AVIStreamRelease(audio);
    }
    AVIFileRelease(file);
    return ok && AVIFileLastCloseResult() == AVIERR_OK;
}

std::vector<uint8_t> FormatBytes(const BITMAPINFOHEADER& header,
                                 const std::vector<uint8_t>& extra) {
    std::vector<uint8_t> bytes(sizeof header + extra.size());
    std::memcpy(bytes.data(), &header, sizeof header);
    if (!extra.empty()) std::memcpy(bytes.data() + sizeof header, extra.data(), extra.size());
    return bytes;
}

std::vector<VideoSample> StoredSamples(PAVISTREAM stream) {
    std::vector<VideoSample> samples;
    std::vector<std::vector<uint8_t>> all = ReadAllSamples(stream);
    LONG start = AVIStreamStart(stream);
    for (size_t i = 0; i < all.size(); ++i) {
        LONG p = start + static_cast<LONG>(i);
        samples.push_back({p, all[i], AVIStreamIsKeyFrame(stream, p) == 1});
    }
    return samples;
}

double Psnr(const Image& a, const Image& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 1000;
    double mse = sum / double(a.size());
    return 10 * std::log10(255.0 * 255.0 / mse);
}
