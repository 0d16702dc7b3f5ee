// Hands the finished, uncompressed destination to the companion compressor and, when it
// succeeds, puts the compressed copy in the destination's place.
#pragma once

void RunCompressor();
