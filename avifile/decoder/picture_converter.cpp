#include "avifile/decoder/picture_converter.h"

#include <climits>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

// The YUV-to-RGB coefficients for a colour space, with BT.601 where the picture names none or
// one outside the table (what FFmpeg's own conversion chooses, so pictures compare equal).
const int* CoefficientsFor(int colorSpace) {
  if (colorSpace < 1 || colorSpace > 7) colorSpace = AVCOL_SPC_BT470BG;
  return sws_getCoefficients(colorSpace);
}

}  // namespace

int ConvertPicture(PictureConverter* converter, const Picture& picture, uint8_t* topRow,
                   ptrdiff_t rowStep, int width, int height) {
  if (!converter || !topRow || picture.width <= 0 || picture.height <= 0 || width <= 0 ||
      height <= 0)
    return 0;
  if (rowStep > INT_MAX || rowStep < -INT_MAX) return 0;
  auto format = static_cast<AVPixelFormat>(picture.format);
  if (!sws_isSupportedInput(format)) return 0;

  SwsContext* previous = converter->context;
  converter->context = sws_getCachedContext(previous, picture.width, picture.height, format,
                                            width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                            nullptr, nullptr, nullptr);
  if (!converter->context) return 0;
  if (converter->context != previous) converter->colorSpace = converter->colorRange = -1;

  // The colour details follow the picture; setting them rebuilds tables, so only on a change.
  if (picture.colorSpace != converter->colorSpace || picture.colorRange != converter->colorRange) {
    int* inverse = nullptr;
    int* table = nullptr;
    int sourceFull = 0, destinationFull = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(converter->context, &inverse, &sourceFull, &table,
                                 &destinationFull, &brightness, &contrast, &saturation) >= 0) {
      if (picture.colorRange != AVCOL_RANGE_UNSPECIFIED)
        sourceFull = picture.colorRange == AVCOL_RANGE_JPEG ? 1 : 0;
      const int* coefficients = CoefficientsFor(picture.colorSpace);
      sws_setColorspaceDetails(converter->context, coefficients, sourceFull, coefficients,
                               destinationFull, brightness, contrast, saturation);
    }
    converter->colorSpace = picture.colorSpace;
    converter->colorRange = picture.colorRange;
  }

  uint8_t* destination[4] = {topRow, nullptr, nullptr, nullptr};
  int destinationStrides[4] = {static_cast<int>(rowStep), 0, 0, 0};
  int rows = sws_scale(converter->context, picture.planes, picture.strides, 0, picture.height,
                       destination, destinationStrides);
  return rows == height ? 1 : 0;
}

void ReleasePictureConverter(PictureConverter* converter) {
  if (!converter) return;
  sws_freeContext(converter->context);
  converter->context = nullptr;
  converter->colorSpace = converter->colorRange = -1;
}
