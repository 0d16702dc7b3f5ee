// Whether a frame holds two fields taken at different moments, and which of them was taken
// first: the top one (lines 0, 2, 4, ...) or the bottom one. Header only: the decoder finds it,
// the converter and the compressor state it.
#pragma once

enum class FieldOrder { kProgressive, kTopFirst, kBottomFirst };
