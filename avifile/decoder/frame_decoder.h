// The frame decoder: delivers any frame of a video stream as a 24-bit bottom-up device-independent
// bitmap, whether the stream is stored uncompressed or compressed.
//
// A delivered frame is a 40-byte BITMAPINFOHEADER followed at once by its rows (blue, green, red
// bytes, each row padded to a multiple of 4 bytes), of the size asked for at open. It belongs to
// the decoder and stays valid until the next request on the same decoder or its close, unless
// the decoder was given a greater depth.
#pragma once

#include "avifile/avi_types.h"
#include "avifile/decoder/field_stage.h"
#include "picture/field_order.h"
#include "picture/pixel_aspect.h"
#include "picture/yuv_picture.h"

struct IGetFrame;
typedef IGetFrame* PGETFRAME;

// Opens a decoder on a video stream. `wanted` gives the frame size to deliver (biWidth,
// biHeight; a negative height asks for top-down rows), with biBitCount 24 and BI_RGB; null asks
// for the stream's own size. Returns null when the stream is not video, its codec is unknown,
// or the wanted format is not one that can be delivered. The decoder keeps its own reference to
// the stream.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted);
// The same with `threads` decoding threads of its own (0: the codec chooses from the processor
// count), whatever AVIStreamGetFrameSetThreads says.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted, int threads);

// The frame at `position`, or null when there is none: a null decoder, a position outside the
// stream, or data that can't be decoded. A drop frame (an empty chunk) shows the frame before it.
void* AVIStreamGetFrame(PGETFRAME decoder, LONG position);

// Makes the decoder keep `frames` delivered frames (1 to 16; 1 at open): a delivered frame then
// stays valid while up to frames - 1 further requests are made, so that one thread can decode
// ahead while another still reads the frames it was given. Costs one frame of memory per
// frame kept. The last delivered frame stays valid across the call.
HRESULT AVIStreamGetFrameSetDepth(PGETFRAME decoder, int frames);

// Frees the decoder and what it delivered. A null decoder is accepted.
HRESULT AVIStreamGetFrameClose(PGETFRAME decoder);

// Sets the number of decoding threads of decoders opened afterwards without a count of their
// own; 0 (the default) lets the codec choose from the processor count. For a program that runs
// one job, and for measurements against other decoders.
void AVIStreamGetFrameSetThreads(int threads);

// Lets AVIStreamGetPicture deliver pictures of the YUV layouts whose conversion goes pixel by
// pixel (see PlanarPicture) as planes instead of rows, when they have the size asked for at
// open, so that a caller can scale them before converting. Other pictures, uncompressed
// streams and AVIStreamGetFrame still give rows. Call it before the first request.
HRESULT AVIStreamGetFrameSetPlanar(PGETFRAME decoder, int planar);

// What is known of a delivered frame beyond its pixels.
struct PictureFacts {
    PixelAspect aspect;  // the pixel shape the codec gives; unknown for stored DIBs
    // The woven fields the frame still holds, as the field stage found them (progressive
    // without one, and for a frame it deinterlaced).
    FieldOrder fields = FieldOrder::kProgressive;
    bool deinterlaced = false;
};

// A delivered frame as a scaler takes it: either rows or planes, never both. It stays valid
// exactly as long as a frame from AVIStreamGetFrame would.
struct DecodedPicture {
    const void* frame = nullptr;         // a frame of rows: header and rows, as AVIStreamGetFrame
    const uint8_t* rows = nullptr;       // its rows, in the layout the header describes
    const YuvPicture* planes = nullptr;  // or a frame of planes
    PictureFacts facts;
    bool Empty() const { return frame == nullptr && planes == nullptr; }
};

// Puts a field stage between a compressed stream's codec and the conversion (see
// field_stage.h): every frame is judged combed or not, and, as `mode` says, deinterlaced.
// Frames of stored DIBs pass as they are. Call it before the first request.
HRESULT AVIStreamGetFrameSetFields(PGETFRAME decoder, Deinterlacing mode);

// The frame at `position`, as AVIStreamGetFrame gives it, or as planes where the decoder was
// set to deliver them and the picture allows it. Empty where AVIStreamGetFrame gives null.
DecodedPicture AVIStreamGetPicture(PGETFRAME decoder, LONG position);
