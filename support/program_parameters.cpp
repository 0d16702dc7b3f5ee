// The parts of the program's start that are the same everywhere: the count of parameters
// taken, and the rule that cuts one command-line text into tokens.
#include "support/program_parameters.h"

int32_t parametersTaken = 0;

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
    std::vector<std::u16string> tokens;
    const size_t n = commandLine.size();
    size_t i = 0;
    for (;;) {
        while (i < n && commandLine[i] == u' ') ++i;
        if (i < n && commandLine[i] == u'"') {
            const size_t start = i + 1;
            size_t end = commandLine.find(u'"', start);
            if (end == std::u16string::npos) end = n;
            tokens.push_back(commandLine.substr(start, end - start));
            i = end < n ? end + 1 : n;
        } else if (i >= n) {
            break;
        } else {
            const size_t start = i;
            size_t end = commandLine.find(u' ', start);
            if (end == std::u16string::npos) end = n;
            tokens.push_back(commandLine.substr(start, end - start));
            i = end < n ? end + 1 : n;
        }
    }
    return tokens;
}
