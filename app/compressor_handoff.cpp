#include "app/compressor_handoff.h"

#include "app/shell_state.h"
#include "avi/avi_file_record.h"
#include "support/child_runner.h"
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/program_parameters.h"
#include "support/text_helpers.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

namespace {

constexpr uint32_t COMPRESSOR_FLAGS = CHILD_HIDE | CHILD_OPEN | CHILD_READ_OUTPUT;
constexpr int32_t POLL_INTERVAL_MS = 10;
constexpr int MAX_NAME_TRIES = 1000;
// Lines taken between two looks at the window, so that a flood of output can't hold it up.
constexpr int MAX_LINES_PER_POLL = 1000;

std::u16string programForTests;

// The copy's name by the plain rule, or with a number before its extension for the n-th
// alternative.
std::u16string CopyCandidate(const std::u16string& destination, int n) {
    const std::u16string folder = DirectoryPart(destination);
    const std::u16string file = FilePart(destination);
    std::u16string name = ReplaceAll(file, u".", u"2.");
    // Without a dot the plain rule would give the destination itself, and the compressor
    // would overwrite its own input.
    if (TextEquals(name, file)) name += u"2";
    if (n > 0) {
        const size_t dot = name.rfind(u'.');
        // Built by appends: GCC 12 warns falsely (-Wrestrict) on u"-" + text at -O3.
        std::u16string number(u"-");
        number += IntToText(n);
        name.insert(dot == std::u16string::npos ? name.size() : dot, number);
    }
    return folder + name;
}

void ReportCompressingFailed() {
    ShowMessage(u"ERROR", u"Compressing failed; the uncompressed file was kept.");
}

}  // namespace

std::u16string CompressedCopyPath(const std::u16string& destination) {
    for (int n = 0; n < MAX_NAME_TRIES; ++n) {
        std::u16string candidate = CopyCandidate(destination, n);
        if (PathExists(candidate) == 0) return candidate;
    }
    return u"";
}

void SetCompressorProgramForTests(const std::u16string& path) {
    programForTests = path;
}

std::u16string CompressorProgramPath() {
    if (!programForTests.empty()) return programForTests;
    return DirectoryPart(OwnExecutablePath()) + u"vidcrunch.exe";
}

void RunCompressor() {
    const std::u16string directory = CurrentDirectory();
    const std::u16string program = CompressorProgramPath();
    const std::u16string copy = CompressedCopyPath(Shell.DestinationPath);
    // The parameter text has no escapes: a quotation mark inside a path would split it into
    // other arguments. Such a destination stays uncompressed, as one without a free name for
    // the copy does.
    if (copy.empty() || Shell.DestinationPath.find(u'"') != std::u16string::npos ||
        copy.find(u'"') != std::u16string::npos) {
        ReportCompressingFailed();
        return;
    }
    const std::u16string parameters =
        u"\"" + Shell.DestinationPath + u"\" \"" + copy + u"\" /console";

    // With CHILD_OPEN the runner's result is the record itself.
    auto* child = reinterpret_cast<ChildRecord*>(
        StartChild(program, parameters, directory, COMPRESSOR_FLAGS));
    Shell.CompressorChild = child;
    if (child == nullptr) {
        ShowMessage(u"ERROR", u"Couldn't find 'vidcrunch.exe'!");
        return;
    }
    SetControlText(StatusLine, u"Compressing...");
    bool stopped = false;
    while (ChildRunning(child) != 0) {
        Shell.PendingOutput = ChildOutputAvailable(child);
        // Every whole line that has arrived, but never a wait for one: a compressor that
        // writes no line break must not freeze the window. The bar shows the last number.
        std::u16string line;
        for (int lines = 0; lines < MAX_LINES_PER_POLL && TakeChildLine(child, &line) != 0;
             ++lines) {
            Shell.CompressorLine = TrimSpaces(line);
            if (!TextEquals(Shell.CompressorLine, u""))
                SetControlState(
                    ProgressBar,
                    TruncateToInt(static_cast<double>(TextToInt(Shell.CompressorLine))));
        }
        // The job ignores what the window did meanwhile, except a request to close it: a
        // compressor that never ends must not keep the user from quitting.
        if (PollEvent() == EVENT_CLOSE_WINDOW) {
            StopChild(child);
            stopped = true;
            Shell.QuitRequested = 1;
            break;
        }
        Pause(POLL_INTERVAL_MS);
    }
    if (!stopped) SetControlText(StatusLine, u"Finished.");
    const int32_t exitCode = ChildExitCode(child);
    // Its pipe is closed here, not only at the end of its output: a last line whose break
    // was never read would keep the descriptor open for the rest of the run.
    ReleaseChild(child);
    Shell.CompressorChild = nullptr;
    if (stopped) {
        RemoveFile(copy);  // what it wrote is unfinished; the uncompressed file stays
        return;
    }

    // The copy's name was free before the start, so whatever stands there now is the
    // compressor's. The uncompressed destination goes only when a readable copy replaces it,
    // in one step and with the copy's data on the disk first: at no moment, crash or power
    // loss included, is the destination missing or half written.
    if (exitCode == 0 && IsReadableAvi(copy) != 0 &&
        ReplaceFileDurably(copy, Shell.DestinationPath) != 0)
        return;
    RemoveFile(copy);
    ReportCompressingFailed();
}
