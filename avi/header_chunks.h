// Which chunks of a stream's header list go with the stream into a new file.
//
// A stream copied as it is stored keeps every one: its codec data ('strd'), its video
// properties ('vprp'), and whatever else its writer put there, since they still describe its
// data. A stream whose pictures are decoded and written anew keeps none: they describe the old
// pictures and their coding. The name ('strn') travels in the stream header, and the indexes
// are the writer's own.
#pragma once

#include "avifile/avi_file.h"

// Gives `destination` (a stream being written) the header chunks of `source`, the stream it is
// a copy of.
void CopyHeaderChunks(PAVISTREAM source, PAVISTREAM destination);
