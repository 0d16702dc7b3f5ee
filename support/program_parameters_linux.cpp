// The program's start on Linux: the arguments main() was given (as UTF-8), and the executable
// that /proc/self/exe leads to.
#include "support/program_parameters.h"

#include "support/unicode_text.h"

#include <unistd.h>

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
