#include "job/compressor_run.h"

#include "support/child_record.h"
#include "support/child_runner.h"
#include "support/file_helpers.h"
#include "support/program_parameters.h"
#include "support/text_helpers.h"

namespace {

constexpr int32_t POLL_INTERVAL_MS = 10;
// Lines taken between two looks at the progress, so that a flood of output can't hold up a
// window that pumps its events there.
constexpr int MAX_LINES_PER_POLL = 1000;

}  // namespace

std::u16string DefaultCompressorProgram() {
    return DirectoryPart(OwnExecutablePath()) + u"vidcrunch.exe";
}

std::u16string CompressorCommandLine(const std::u16string& input, const std::u16string& output,
                                     const CompressorSettings& settings) {
    if (input.find(u'"') != std::u16string::npos || output.find(u'"') != std::u16string::npos)
        return {};
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about u"literal" + text here.
    std::u16string text(u"\"");
    text += input;
    text += u"\" \"";
    text += output;
    text += u"\" /console";
    if (!settings.codec.empty()) text += u" /codec:" + settings.codec;
    if (settings.quality >= 0) text += u" /quality:" + IntToText(settings.quality);
    if (settings.threads > 0) text += u" /threads:" + IntToText(settings.threads);
    return text;
}

bool CompressorPercent(const std::u16string& line, int32_t* percent) {
    const std::u16string trimmed = TrimSpaces(line);
    if (TextEquals(trimmed, u"")) return false;
    *percent = TruncateToInt(static_cast<double>(TextToInt(trimmed)));
    return true;
}

CompressorRun RunCompressorProgram(const std::u16string& program, const std::u16string& parameters,
                                   const std::u16string& folder, JobProgress& progress) {
    CompressorRun run;
    // With CHILD_OPEN the runner's result is the record itself.
    auto* child = reinterpret_cast<ChildRecord*>(
        StartChild(program, parameters, folder, CHILD_HIDE | CHILD_OPEN | CHILD_READ_OUTPUT));
    if (child == nullptr) return run;
    run.started = true;
    progress.CompressorStarted(child->processId);
    while (ChildRunning(child) != 0) {
        // Every whole line that has arrived, but never a wait for one.
        std::u16string line;
        int32_t percent = 0;
        for (int lines = 0; lines < MAX_LINES_PER_POLL && TakeChildLine(child, &line) != 0; ++lines)
            if (CompressorPercent(line, &percent)) progress.Compressing(percent);
        if (progress.StopAsked()) {
            StopChild(child);
            run.stopped = true;
            break;
        }
        Pause(POLL_INTERVAL_MS);
    }
    run.exitCode = ChildExitCode(child);
    progress.CompressorEnded(run.stopped);
    // Its pipe is closed here, not only at the end of its output: a last line whose break was
    // never read would keep the descriptor open for the rest of the run.
    ReleaseChild(child);
    return run;
}
