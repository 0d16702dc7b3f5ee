// The shape a video stream's pictures are shown at, read from the source as players read it,
// and stated in a converted stream so that the destination is shown at the same shape.
#pragma once

#include "avifile/avi_types.h"
#include "picture/field_order.h"
#include "picture/pixel_aspect.h"

// Which pixel shape a stream is shown at when its header ('vprp') and its codec both state
// one: the header's, where it states one, as ffmpeg, VLC and mpv decide. A header is written
// after the pictures were coded, on purpose (a remux that only sets the shape writes nothing
// else), so it is the later word.
PixelAspect ShownPixelAspect(PixelAspect header, PixelAspect codec);

// The pixel shape the stream's header states; unknown when it has no 'vprp' or it says none.
PixelAspect HeaderPixelAspect(PAVISTREAM stream);

// The pixel shape a video stream is shown at: its header's, or else its codec's for the first
// picture that decodes (of the first few). Unknown when neither says; players show such
// pixels square.
PixelAspect SourcePixelAspect(PAVISTREAM stream);

// Gives `destination`, a video stream of width x height pictures being written at
// rate / scale frames a second, the video properties that show its pixels at `pixel` and say
// that its frames hold two fields in the order `fields`. A progressive stream of square (or
// unknown) pixels gets none, as a plain BGR stream needs none to be shown so.
void StatePictureShape(PAVISTREAM destination, PixelAspect pixel, uint32_t width, uint32_t height,
                       FieldOrder fields, DWORD rate, DWORD scale);
