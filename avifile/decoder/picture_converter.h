// Turns a decoded picture of any pixel format and size into 24-bit BGR rows of the size a caller
// asks for, through libswscale, keeping one scaler context between calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/yuv_picture.h"

struct SwsContext;

// One decoded picture as libavcodec describes it (formats, colour spaces and ranges are the
// AVPixelFormat, AVColorSpace and AVColorRange values).
struct Picture {
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    int format = -1;
    int width = 0;
    int height = 0;
    int colorSpace = 2;  // unspecified
    int colorRange = 0;  // unspecified
};

struct PictureConverter {
    SwsContext* context = nullptr;
    // What the context was made for. libswscale's own cache can't be asked: once the colour
    // details are set it sees a different context and makes a new one for every picture, and
    // such a remade context converts full-range pictures as limited-range ones.
    int sourceWidth = -1;
    int sourceHeight = -1;
    int sourceFormat = -1;
    int width = -1;
    int height = -1;
    // What the context's colour details were last set for.
    int colorSpace = -1;
    int colorRange = -1;
    // Where libswscale writes before the rows are copied out (see ConvertPicture).
    uint8_t* staging = nullptr;
    size_t stagingSize = 0;
};

// Writes `picture` as `width` x `height` BGR pixels: the top row at `topRow`, each next row
// `rowStep` bytes further (negative to lay the rows out bottom-up). Exactly `width` * 3 bytes of
// each row are written, so the pad bytes between rows are left as they are. Returns 1, or 0 when
// the picture's format or size can't be converted.
int ConvertPicture(PictureConverter* converter, const Picture& picture, uint8_t* topRow,
                   ptrdiff_t rowStep, int width, int height);

// ConvertPicture for a picture of two woven fields: each field on its own, so that chroma shared
// between lines (4:2:0 keeps one chroma row for two lines, and in an interlaced picture those
// are lines of the same field) is never spread onto the other field's lines. `picture` and the
// output both need a height that is a multiple of 4, so that both fields have whole chroma
// rows; other pictures are converted as frames. Returns 1, or 0 as ConvertPicture does.
int ConvertFields(PictureConverter* converter, const Picture& picture, uint8_t* topRow,
                  ptrdiff_t rowStep, int width, int height);

// Converts the last two rows of `picture` as a picture of their own, at its width: the top one
// at `rows`, the other 3 * width bytes on. Returns 1, or 0 when they can't be converted.
int ConvertLastRows(PictureConverter* converter, const Picture& picture, uint8_t* rows);

void ReleasePictureConverter(PictureConverter* converter);

// For a picture whose conversion by ConvertPicture at its own size treats each pixel on its own
// (8-bit: planar 4:2:0 of an even height, planar 4:2:2 of an even height or width, packed 4:2:2
// of an even width, planar 4:4:4), fills `planes` with its planes and the integer conversion
// that gives exactly ConvertPicture's bytes, and returns true. The conversion is checked against
// ConvertPicture on a test pattern the first time a format, colour details and parity of the
// sizes are asked for, and `cache` keeps the answer. `needsTail` says that the picture's last
// two rows are converted otherwise: the caller converts them with ConvertPicture as a picture
// of their own (which gives the same bytes) and hands them over in `planes->tail`. False for
// every other picture.
struct PlanarCheck {
    int format = -1;
    int colorSpace = -1;
    int colorRange = -1;
    int parity = -1;  // odd width (1) and odd height (2), which change the converter's path
    bool usable = false;
    bool tail = false;
    YuvToBgr toBgr;
};
bool PlanarPicture(const Picture& picture, PlanarCheck* cache, YuvPicture* planes, bool* needsTail);
