// Fuzz entry point for the reader of a child's output: the input is what the child wrote to
// its pipe, read back line by line and turned into percentages, as the window does with the
// compressor's progress. An even first byte reads with ReadChildLine, an odd one with
// TakeChildLine.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "support/child_record.h"
#include "support/child_runner.h"
#include "support/text_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 20)) return 0;
    const bool taking = (data[0] & 1) != 0;
    ++data;
    --size;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return 0;
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    for (size_t done = 0; done < size;) {
        const ssize_t put = write(ends[1], data + done, size - done);
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    close(ends[1]);  // the child has ended: every byte is in the pipe

    ChildRecord record;
    record.outputRead = ends[0];
    record.ended = true;
    // Every line ends a read, and every read takes at least one character, so the input bounds
    // the number of lines; the margin covers the last, empty one.
    for (size_t lines = 0; lines <= size + 2 && ChildRunning(&record) != 0; ++lines) {
        std::u16string line;
        if (taking) {
            if (TakeChildLine(&record, &line) == 0) break;  // the output has ended: never 0 before
        } else {
            line = ReadChildLine(&record);
        }
        line = TrimSpaces(line);
        if (!line.empty()) TruncateToInt(static_cast<double>(TextToInt(line)));
    }
    if (record.outputRead >= 0) close(record.outputRead);
    return 0;
}
