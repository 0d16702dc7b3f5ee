// Whether a frame holds two fields taken at different moments, and which of them was taken
// first: the top one (lines 0, 2, 4, ...) or the bottom one; and what a conversion does about
// it. Header only: the decoder finds it, the converter and the compressor state it, the
// programs choose.
#pragma once

enum class FieldOrder { kProgressive, kTopFirst, kBottomFirst };

// What a conversion does with interlaced video (frames of two fields woven from different
// moments, which a change of height would blend into doubled edges).
enum class Deinterlace {
    kAuto,  // frames found combed are deinterlaced where the height changes; where it does not,
            // the fields are kept and the destination says it is interlaced
    kOn,    // every frame is deinterlaced
    kOff,   // frames are scaled as they are
};
