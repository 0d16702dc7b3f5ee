// vidcrunch's start on Linux: the arguments as the shell or the tool's runner split them.
#include <csignal>

#include "vidcrunch/program_start.h"

int main(int argc, char** argv) {
    // A reader that stops reading the progress must not end the compression half-way.
    std::signal(SIGPIPE, SIG_IGN);
    return RunVidcrunch(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
