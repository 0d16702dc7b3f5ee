// The conversion job that every program runs: the checks that keep the user's files safe, the
// conversion into a scratch file beside the destination, the compressor before or after the
// result takes its name, and the durable step that gives it that name.
#pragma once

#include "job/job_progress.h"
#include "job/job_request.h"

JobOutcome RunJob(const JobRequest& request, JobProgress& progress);

// The window's hand-off on its own: `program` compresses the finished `destination` into a copy
// beside it (CompressedCopyPath), which replaces the destination when it is whole and readable.
// Otherwise the copy goes and the destination stays as it is. The outcome has no problem, or
// one of the compressor's.
JobOutcome CompressBesideDestination(const std::u16string& destination,
                                     const CompressorSettings& settings,
                                     const std::u16string& program, JobProgress& progress);

// Where the window's compressor writes its copy of `destination`: beside it, with a 2 before
// every dot of the file name (a name without a dot gets the 2 at its end). When that name is
// taken (a user's own file, the source itself) a free one in the same folder is chosen; empty
// when none is.
std::u16string CompressedCopyPath(const std::u16string& destination);
