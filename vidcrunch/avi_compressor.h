// Compresses one AVI file into another: every video stream the frame decoder can read is
// re-encoded, every other stream is copied chunk by chunk, and the output is written
// interleaved, about one second of every stream at a time.
#pragma once

#include <string>

#include "vidcrunch/compressor_options.h"
#include "vidcrunch/progress_lines.h"

// Reads options.inputPath and writes options.outputPath. Returns 1 when the output is
// complete and closed. Otherwise returns 0 with a plain-words reason in `error`; whatever was
// written of the output has then been removed. A failure before the output is created (input
// missing or unreadable, output naming the input) leaves any file at the output path alone.
int CompressAvi(const CompressorOptions& options, ProgressReporter* progress, std::string* error);
