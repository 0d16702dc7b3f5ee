#include "app/compressor_handoff.h"

#include "app/progress_display.h"
#include "app/shell_state.h"
#include "job/compressor_run.h"
#include "job/conversion_job.h"
#include "ui/requesters.h"

namespace {

std::u16string programForTests;

}  // namespace

void SetCompressorProgramForTests(const std::u16string& path) {
    programForTests = path;
}

std::u16string CompressorProgramPath() {
    if (!programForTests.empty()) return programForTests;
    return DefaultCompressorProgram();
}

void ShowCompressorProblem(JobProblem problem) {
    if (problem == JobProblem::CompressorMissing || problem == JobProblem::CompressorNotStarted)
        ShowMessage(u"ERROR", u"Couldn't find 'vidcrunch.exe'!");
    else if (problem == JobProblem::CompressFailed)
        ShowMessage(u"ERROR", u"Compressing failed; the uncompressed file was kept.");
}

void RunCompressor() {
    WindowProgress progress;
    ShowCompressorProblem(
        CompressBesideDestination(Shell.DestinationPath, {}, CompressorProgramPath(), progress)
            .problem);
}
