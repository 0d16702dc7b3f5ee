#include "support/program_parameters.h"

#include "support/unicode_text.h"

#include <unistd.h>

int32_t parametersTaken = 0;

namespace {

std::vector<std::u16string>& ProgramArguments() {
    static std::vector<std::u16string> arguments;
    return arguments;
}

std::vector<bool>& ArgumentsAreText() {
    static std::vector<bool> text;
    return text;
}

}  // namespace

void SetProgramArguments(int argc, char** argv) {
    std::vector<std::u16string>& arguments = ProgramArguments();
    arguments.clear();
    ArgumentsAreText().clear();
    if (argv == nullptr) return;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        arguments.push_back(FromUtf8(argv[i]));
        ArgumentsAreText().push_back(IsUtf8Text(argv[i]));
    }
}

int32_t ParameterIsText(int32_t index) {
    const std::vector<bool>& text = ArgumentsAreText();
    if (index < 0 || static_cast<size_t>(index) >= text.size()) return 1;
    return text[static_cast<size_t>(index)] ? 1 : 0;
}

std::u16string NextParameter() {
    const std::vector<std::u16string>& arguments = ProgramArguments();
    if (parametersTaken < 0 || static_cast<size_t>(parametersTaken) >= arguments.size()) return {};
    return arguments[static_cast<size_t>(parametersTaken++)];
}

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

std::u16string OwnExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        // readlink does not say whether it cut the path: retry until it leaves room to spare.
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            return FromUtf8(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}
