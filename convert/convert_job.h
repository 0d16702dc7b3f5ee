// One file through reframe-convert: the checks that give each mistake its own message, the
// conversion into a temporary file beside the destination, the optional hand-over to the
// compressor, and the final rename that makes the destination appear only when whole.
#pragma once

#include <string>

#include "convert/convert_options.h"
#include "convert/progress_report.h"

// Converts `source` into `destination` with `options`. true when the destination is
// complete; on false the reason has gone to `report` and no destination was left behind
// (except an uncompressed one when only the compression failed, which is reported).
bool ConvertFile(const ConvertOptions& options, const std::string& source,
                 const std::string& destination, ProgressReport& report);
