// Between a compressed stream's decoder and the frame decoder's conversion: finds the frames
// that are combed (two fields woven from different moments) and, where asked, deinterlaces
// them with libavfilter's bwdif, which rebuilds moving areas from the first field and keeps
// both fields where nothing moves. A frame that is not combed passes through untouched.
//
// The comb detector and bwdif both look at the frames shown before and after, so the stage
// decodes a frame or two ahead of the one asked for. Asked in order (as the converter asks),
// each picture is decoded, judged and filtered once; a jump starts again from the picture
// before the one asked for, which gives the same frames as getting there in order.
#pragma once

#include <cstdint>

#include "avifile/avi_types.h"
#include "picture/field_order.h"

struct AVFrame;
struct CodecDecoder;
struct FieldStage;

// What the stage does with combed frames.
enum class Deinterlacing {
    kDetect,  // only says which frames are combed, and leaves their fields as they are
    kAuto,    // deinterlaces the combed frames
    kAlways,  // deinterlaces every frame, in the order found, flagged or assumed (see .cpp)
};

// A picture as the stage hands it on.
struct StagedPicture {
    const AVFrame* frame = nullptr;                // valid until the next call or the close
    uint64_t serial = 0;                           // changes whenever another picture is handed on
    FieldOrder fields = FieldOrder::kProgressive;  // the woven fields it still holds
    bool deinterlaced = false;
};

// A stage over `codec` (positions first .. end - 1), which it uses but does not own. `threads`
// is what the filter may use (0: one).
FieldStage* OpenFieldStage(CodecDecoder* codec, LONG first, LONG end, Deinterlacing mode,
                           int threads);

// The picture shown at `position`; false where there is none (out of range, undecodable).
bool StagePictureAt(FieldStage* stage, LONG position, StagedPicture* picture);

void CloseFieldStage(FieldStage* stage);
