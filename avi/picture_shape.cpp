#include "avi/picture_shape.h"

#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"
#include "avifile/video_properties.h"

namespace {

// Pictures tried for the codec's word before giving up: a damaged first frame should not hide
// the shape of the rest.
constexpr LONG kPicturesTried = 8;

}  // namespace

PixelAspect ShownPixelAspect(PixelAspect header, PixelAspect codec) {
    return header.Known() ? header : codec;
}

PixelAspect HeaderPixelAspect(PAVISTREAM stream) {
    VideoProperties properties;
    if (!ReadVideoProperties(stream, &properties)) return {};
    return PixelAspectOf(properties);
}

PixelAspect SourcePixelAspect(PAVISTREAM stream) {
    const PixelAspect header = HeaderPixelAspect(stream);
    if (header.Known()) return header;
    // One thread: only a picture or two is decoded.
    PGETFRAME decoder = AVIStreamGetFrameOpen(stream, nullptr, 1);
    if (decoder == nullptr) return {};
    AVIStreamGetFrameSetPlanar(decoder, 1);  // no conversion to rows is needed for this
    PixelAspect codec;
    const LONG first = AVIStreamStart(stream);
    const LONG end = first + std::min(AVIStreamLength(stream), kPicturesTried);
    for (LONG position = first; position < end; ++position) {
        const DecodedPicture picture = AVIStreamGetPicture(decoder, position);
        if (!picture.Empty()) {
            codec = picture.facts.aspect;
            break;
        }
    }
    AVIStreamGetFrameClose(decoder);
    return codec;
}

void StatePictureShape(PAVISTREAM destination, PixelAspect pixel, uint32_t width, uint32_t height,
                       FieldOrder fields, DWORD rate, DWORD scale) {
    if ((pixel.Square() && fields == FieldOrder::kProgressive) || width == 0 || height == 0) return;
    VideoProperties properties;
    properties.fields = fields;
    properties.frameAspect = DisplayAspect(pixel, width, height);
    properties.width = width;
    properties.height = height;
    // Rounded to the nearest whole number, as the chunk holds one.
    properties.refreshRate =
        scale == 0 ? 0
                   : static_cast<uint32_t>((uint64_t{rate} * 2 + scale) / (uint64_t{scale} * 2));
    const std::vector<uint8_t> chunk = VideoPropertiesChunk(properties);
    AVIStreamWriteData(destination, kFccVprp, chunk.data(), static_cast<LONG>(chunk.size()));
}
