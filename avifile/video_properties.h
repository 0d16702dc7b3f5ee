// The video properties chunk ('vprp') of a video stream's header list, which OpenDML writers
// put after 'strf': the shape the whole frame is shown at, and whether its frames hold two
// interlaced fields and which comes first. Players take the pixel shape from it where the
// codec says none, and a plain BGR stream has no other place to say it.
#pragma once

#include <cstdint>
#include <vector>

#include "avifile/avi_types.h"
#include "picture/field_order.h"
#include "picture/pixel_aspect.h"

constexpr DWORD kFccVprp = mmioFOURCC('v', 'p', 'r', 'p');

struct VideoProperties {
    PixelAspect frameAspect;   // the whole frame's display aspect (dwFrameAspectRatio)
    uint32_t width = 0;        // dwFrameWidthInPixels
    uint32_t height = 0;       // dwFrameHeightInLines
    uint32_t refreshRate = 0;  // dwVerticalRefreshRate: fields or frames a second, rounded
    FieldOrder fields = FieldOrder::kProgressive;
};

// The chunk's bytes: the nine words of the frame, then one description per field (two for an
// interlaced frame), laid out as ffmpeg and the OpenDML writers before it lay them out.
std::vector<uint8_t> VideoPropertiesChunk(const VideoProperties& properties);

// Reads the chunk's bytes; false when they are too short to hold the frame's words. A field
// count other than 2 reads as progressive; the first field's start line says its order.
bool ParseVideoProperties(const uint8_t* bytes, size_t size, VideoProperties* properties);

// The stream's chunk, read and parsed; false when it has none or it can't be read.
bool ReadVideoProperties(PAVISTREAM stream, VideoProperties* properties);

// The pixel shape the chunk states, as players read it: the frame's aspect over its width to
// height. Unknown when either is missing.
PixelAspect PixelAspectOf(const VideoProperties& properties);
