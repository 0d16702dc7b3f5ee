// reframe-convert's start on Linux: the arguments arrive as bytes, which are the file names.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "convert/program_start.h"

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

bool MakeOutputFolder(const std::string& utf8Path, std::string* why) {
    if (mkdir(utf8Path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    *why = std::strerror(errno);
    return false;
}

int main(int argc, char** argv) {
    return RunConvertTool(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
