// Compressed video streams decoded with libavcodec, frame by frame in the order they are shown:
// position j of a stream gives the j-th picture shown, whatever order the pictures are stored in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avifile/avi_types.h"

struct AVFrame;
struct CodecDecoder;

// Opens a decoder for `stream`, whose format (the 'strf' bytes) is `format`. The codec comes from
// the format's biCompression code, or else from the stream header's handler code. Returns null
// when neither names a codec that libavcodec can decode.
CodecDecoder* OpenCodecDecoder(PAVISTREAM stream, const uint8_t* format, size_t formatSize,
                               int threadCount);

// The picture shown at `position`, or null when there is none (out of range, undecodable). It
// stays valid until the next call or the close. `serial` receives a number that changes
// whenever a different picture is returned, so a caller can tell a repeat (drop frame) apart.
const AVFrame* DecodeFrameAt(CodecDecoder* decoder, LONG position, uint64_t* serial);

void CloseCodecDecoder(CodecDecoder* decoder);
