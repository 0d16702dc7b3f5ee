// Entry point of the reframe program.
#include <cstdio>

#include "app/start_up.h"
#include "support/program_parameters.h"
#include "ui/window_toolkit.h"

int main(int argc, char** argv) {
    if (WindowSystemAvailable() == 0) {
        // Without this the window system would abort the process with a stack of its own.
        std::fputs(
            "reframe: there is no display to show the window on; start it from a desktop "
            "session, or under a virtual display with: xvfb-run -a reframe\n",
            stderr);
        return 1;
    }
    SetProgramArguments(argc, argv);
    return RunShell();
}
