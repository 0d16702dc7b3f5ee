// The new frame size of a job: sides given in pixels, or one side that follows from the other
// and the source's shape.
#pragma once

#include <cstdint>
#include <string>

#include "picture/pixel_aspect.h"

// A side of the new frame size: a number of pixels, or one of the aspect-keeping values.
constexpr int32_t SIZE_KEEP_ASPECT = -1;       // from the other side and the source's shape
constexpr int32_t SIZE_KEEP_ASPECT_EVEN = -2;  // the same, rounded to an even number
constexpr int32_t SIZE_LARGEST = 32767;        // what an AVI stream header can hold

// The frame size for a source of sourceWidth x sourceHeight pixels shaped `pixel`: given sides
// as they are, an aspect-keeping side from the other so that the new frame, of square pixels,
// shows the source's picture at its own shape (a 720x576 frame of 64:45 pixels, shown at 16:9,
// gives 320x180 for 320 wide). Unknown pixels count as square. 1 on success; 0 when no size
// results (a source of size 0 with an aspect-keeping side), with the reason in `error`.
int ResolveFrameSize(int32_t width, int32_t height, int32_t sourceWidth, int32_t sourceHeight,
                     PixelAspect pixel, int32_t* resolvedWidth, int32_t* resolvedHeight,
                     std::string* error);
