// reframe-convert: the window's conversion engine without a window, for scripts and batches.
// The platform's entry point (program_start_*.cpp) calls RunConvertTool.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "avi/stream_converter.h"
#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"
#include "convert/batch_runner.h"
#include "convert/convert_job.h"
#include "convert/convert_options.h"
#include "convert/interrupt_cleanup.h"
#include "convert/program_start.h"
#include "convert/progress_report.h"
#include "support/child_runner.h"

int RunConvertTool(const std::vector<std::string>& arguments) {
    ConvertOptions options;
    std::string error;
    if (ParseConvertArguments(arguments, &options, &error) == 0) {
        std::fprintf(stderr, "reframe-convert: %s\nTry 'reframe-convert --help'.\n", error.c_str());
        return 2;
    }
    if (options.helpWanted) {
        std::fputs(ConvertUsage().c_str(), stdout);
        return 0;
    }
    if (options.versionWanted) {
        std::puts("reframe-convert " REFRAME_VERSION);
        return 0;
    }

    ProgressStyle style = options.progress;
    if (style == ProgressStyle::Auto)
        style = StandardErrorIsTerminal() ? ProgressStyle::Bar : ProgressStyle::None;

    std::string why;
    if (!options.outputFolder.empty() && !MakeOutputFolder(options.outputFolder, &why)) {
        std::fprintf(stderr, "reframe-convert: can't make the folder %s: %s\n",
                     options.outputFolder.c_str(), why.c_str());
        return 1;
    }

    // Pairs of source and destination; two sources that would land on one name are refused.
    std::vector<std::pair<std::string, std::string>> files;
    int failed = 0;
    std::set<std::string> taken;
    for (const std::string& source : options.sources) {
        const std::string destination = options.outputFolder.empty()
                                            ? options.destination
                                            : OutputPathFor(options.outputFolder, source);
        if (!taken.insert(destination).second) {
            std::fprintf(stderr,
                         "reframe-convert: %s: another source is also written to %s; skipped\n",
                         source.c_str(), destination.c_str());
            ++failed;
            continue;
        }
        files.emplace_back(source, destination);
    }

    int jobs = options.jobs;
    if (jobs == 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (files.size() > 1 && jobs > 1) {
        const ProgressStyle childStyle =
            style == ProgressStyle::Json ? ProgressStyle::Json : ProgressStyle::None;
        failed += RunInProcesses(options, childStyle, files, jobs);
        return failed == 0 ? 0 : 1;
    }

    InitProcessServices();
    InstallInterruptCleanup();
    AVIFileInit();
    for (const auto& [source, destination] : files) {
        ProgressReport report(style, source);
        if (!ConvertFile(options, source, destination, report)) ++failed;
    }
    AVIFileExit();
    return failed == 0 ? 0 : 1;
}
