// The one command-line text a start is made from; the same on every platform.
#include "support/child_record.h"

std::u16string BuildCommandLine(const std::u16string& program, const std::u16string& parameters) {
    std::u16string commandLine;
    commandLine.reserve(program.size() + parameters.size() + 3);
    if (!program.empty() && program[0] == u'"') {
        commandLine = program;
    } else {
        commandLine += u'"';
        commandLine += program;
        commandLine += u'"';
    }
    if (!parameters.empty()) {
        commandLine += u' ';
        commandLine += parameters;
    }
    return commandLine;
}
