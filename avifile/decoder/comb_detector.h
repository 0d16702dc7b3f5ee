// Finds out whether a decoded frame is combed: two fields taken at different moments woven
// into one frame, which a shrink would blend into doubled edges. The decoder's flags can't
// say it (DV flags every frame interlaced, even a picture shot progressive), so the luma of the
// frame is compared with the frames before and after it.
//
// Each line is predicted from the two lines around it (the other field) and compared with the
// line the previous frame and the next frame have there. In a combed frame, taking the second
// field's lines from the frame before and the first field's from the frame after fits far
// better than the opposite pairing, and which pairing fits says which field came first. A
// progressive frame fits both pairings alike, however finely striped it is, and a still one
// too (where nothing moves, the fields agree and nothing needs mending).
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/field_order.h"

// One 8-bit luma plane: `stride` bytes from a row to the next.
struct LumaPlane {
    const uint8_t* rows = nullptr;
    ptrdiff_t stride = 0;
};

// Whether `current` (width x height) is combed, and in which order: kProgressive when it is
// not, or when the evidence is too thin to say. `previous` and `next` are the frames shown
// before and after it, of the same size; at the ends of a stream the one that is missing has
// null rows. Frames under 8 rows, and frames without either neighbour, are never combed.
FieldOrder DetectCombing(LumaPlane previous, LumaPlane current, LumaPlane next, int width,
                         int height);
