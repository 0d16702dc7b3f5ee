// The progress lines' bytes to file descriptor 1. SIGPIPE is ignored (program_start_linux.cpp),
// so a reader that has gone makes write(2) fail with EPIPE instead of ending the process.
#include <unistd.h>

#include <cerrno>

#include "vidcrunch/standard_output.h"

void WriteToStandardOutput(const std::string& utf16leBytes) {
    size_t done = 0;
    while (done < utf16leBytes.size()) {
        ssize_t n = ::write(1, utf16leBytes.data() + done, utf16leBytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}
