// Parsing an AVI file (AVI 1.0 and OpenDML) into headers and sample tables.
#pragma once

#include "avifile/avi_stream_data.h"
#include "avifile/byte_source.h"

// Reads the headers and the index (OpenDML indexes, else idx1, else a scan of the movi lists).
// AVIERR_BADFORMAT when the bytes are not an AVI file, AVIERR_FILEREAD when they can't be read.
HRESULT ParseAviFile(ByteSource& source, AviFileData* file);
