#include "job/frame_size.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t RoundEven(double value) {
    const double even = std::nearbyint(value / 2.0) * 2.0;
    return even < 2.0 ? 2 : static_cast<int32_t>(even);
}

}  // namespace

int ResolveFrameSize(int32_t width, int32_t height, int32_t sourceWidth, int32_t sourceHeight,
                     PixelAspect pixel, int32_t* resolvedWidth, int32_t* resolvedHeight,
                     std::string* error) {
    *resolvedWidth = width;
    *resolvedHeight = height;
    if (width > 0 && height > 0) return 1;
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        *error = "the source's frame size is unknown, so the aspect ratio can't be kept";
        return 0;
    }
    // The source as it is shown: its width in square pixels.
    const double shownWidth =
        pixel.Known() ? static_cast<double>(sourceWidth) * pixel.num / pixel.den : sourceWidth;
    // The known side over the source's, applied to the other side.
    const bool widthFollows = width < 0;
    const double ratio = widthFollows ? static_cast<double>(height) / sourceHeight
                                      : static_cast<double>(width) / shownWidth;
    const double other = (widthFollows ? shownWidth : sourceHeight) * ratio;
    const int32_t mode = widthFollows ? width : height;
    // Checked before the conversion to an integer, which is undefined for values beyond its range
    // (a damaged header can claim a source of 2^31 pixels a side).
    if (!(other <= SIZE_LARGEST)) {
        *error = "keeping the aspect ratio gives a side above " + std::to_string(SIZE_LARGEST);
        return 0;
    }
    const int32_t side = mode == SIZE_KEEP_ASPECT_EVEN
                             ? RoundEven(other)
                             : std::max(1, static_cast<int32_t>(std::nearbyint(other)));
    if (side > SIZE_LARGEST) {
        *error = "keeping the aspect ratio gives a side above " + std::to_string(SIZE_LARGEST);
        return 0;
    }
    (widthFollows ? *resolvedWidth : *resolvedHeight) = side;
    return 1;
}
