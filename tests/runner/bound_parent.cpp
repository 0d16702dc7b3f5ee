// A parent for the runner's tests to kill: it starts a child of its own the way the tool does,
// tells the test that child's pid and waits to be killed.
//   runner WRITER              start WRITER (which sleeps a minute) through StartChild and
//                              write its pid as a UTF-16LE line
//   batch SOURCE DESTINATION   convert through the batch runner; the process it starts for the
//                              file is this program again, which writes its pid followed by a
//                              line break into DESTINATION and sleeps a minute
#include "convert/batch_runner.h"
#include "support/child_record.h"
#include "support/child_runner.h"
#include "support/unicode_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) _exit(3);
        done += static_cast<size_t>(wrote);
    }
}

[[noreturn]] void WaitToBeKilled() {
    for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "runner" && argc == 3) {
        auto* child = reinterpret_cast<ChildRecord*>(
            StartChild(FromUtf8(argv[2]), u"sleep:60000", u"", CHILD_OPEN));
        if (child == nullptr) return 4;
        const std::u16string line = FromUtf8(std::to_string(child->processId)) + u"\r\n";
        WriteAll(STDOUT_FILENO, std::string(reinterpret_cast<const char*>(line.data()),
                                            line.size() * sizeof(char16_t)));
        WaitToBeKilled();
    }
    if (mode == "batch" && argc == 4) {
        RunInProcesses(ConvertOptions{}, ProgressStyle::None, {{argv[2], argv[3]}}, 1);
        return 5;  // the file's process never ends by itself
    }
    // The batch runner's call for one file: ... -- SOURCE DESTINATION.
    if (argc >= 4 && std::strcmp(argv[argc - 3], "--") == 0) {
        const int file = open(argv[argc - 1], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (file < 0) return 6;
        WriteAll(file, std::to_string(getpid()) + "\n");
        close(file);
        sleep(60);
        return 0;
    }
    return 2;
}
