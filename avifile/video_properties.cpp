#include "avifile/video_properties.h"

#include "avifile/avi_file.h"
#include "avifile/little_endian.h"

namespace {

constexpr size_t kFrameWords = 9;
constexpr size_t kFieldWords = 8;
// A damaged header can claim any size; nothing a real chunk holds comes near this.
constexpr LONG kMostBytes = 4096;

}  // namespace

std::vector<uint8_t> VideoPropertiesChunk(const VideoProperties& p) {
    const uint32_t fields = p.fields == FieldOrder::kProgressive ? 1 : 2;
    std::vector<uint8_t> bytes((kFrameWords + kFieldWords * fields) * 4);
    uint8_t* at = bytes.data();
    auto put = [&at](uint32_t word) {
        PutLe32(at, word);
        at += 4;
    };
    put(0);  // VideoFormatToken: unknown
    put(0);  // VideoStandard: unknown
    put(p.refreshRate);
    put(p.width);   // dwHTotalInT
    put(p.height);  // dwVTotalInLines
    // X in the high word, Y in the low one.
    put((p.frameAspect.num & 0xFFFF) << 16 | (p.frameAspect.den & 0xFFFF));
    put(p.width);
    put(p.height);
    put(fields);
    for (uint32_t field = 0; field < fields; ++field) {
        // The first field starts on line 0 when the top field comes first, on line 1 when the
        // bottom one does.
        uint32_t startLine = 0;
        if (p.fields == FieldOrder::kTopFirst) startLine = field;
        if (p.fields == FieldOrder::kBottomFirst) startLine = 1 - field;
        put(p.height / fields);  // CompressedBMHeight
        put(p.width);            // CompressedBMWidth
        put(p.height / fields);  // ValidBMHeight
        put(p.width);            // ValidBMWidth
        put(0);                  // ValidBMXOffset
        put(0);                  // ValidBMYOffset
        put(0);                  // VideoXOffsetInT
        put(startLine);          // VideoYValidStartLine
    }
    return bytes;
}

bool ParseVideoProperties(const uint8_t* bytes, size_t size, VideoProperties* p) {
    if (size < kFrameWords * 4) return false;
    auto word = [bytes](size_t index) { return GetLe32(bytes + index * 4); };
    *p = VideoProperties{};
    p->refreshRate = word(2);
    p->frameAspect = {word(5) >> 16, word(5) & 0xFFFF};
    if (!p->frameAspect.Known()) p->frameAspect = {};
    p->width = word(6);
    p->height = word(7);
    const size_t firstStartLine = kFrameWords + kFieldWords - 1;
    if (word(8) == 2 && size >= (firstStartLine + 1) * 4)
        p->fields = word(firstStartLine) == 1 ? FieldOrder::kBottomFirst : FieldOrder::kTopFirst;
    return true;
}

bool ReadVideoProperties(PAVISTREAM stream, VideoProperties* properties) {
    LONG size = 0;
    if (AVIStreamReadData(stream, kFccVprp, nullptr, &size) != AVIERR_OK || size <= 0 ||
        size > kMostBytes)
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (AVIStreamReadData(stream, kFccVprp, bytes.data(), &size) != AVIERR_OK) return false;
    return ParseVideoProperties(bytes.data(), static_cast<size_t>(size), properties);
}

PixelAspect PixelAspectOf(const VideoProperties& p) {
    if (p.width == 0 || p.height == 0) return {};
    return PixelAspectFor(p.frameAspect, p.width, p.height);
}
