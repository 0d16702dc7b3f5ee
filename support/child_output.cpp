// Reading a child's standard output: the waiting byte count and the line reader.
#include "support/child_record.h"
#include "support/child_runner.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <vector>

namespace {

// The line buffer starts at this many characters and grows by as many whenever fewer than
// MIN_FREE_CHARS are free before a read, so output is always read in large blocks.
constexpr size_t LINE_BLOCK_CHARS = 4096;
constexpr size_t MIN_FREE_CHARS = 512;

// Reads up to maxUnits UTF-16LE code units into units, blocking until some arrive. Gives the
// number of whole units read, 0 once the output has ended or reading fails. A byte that
// completes no unit is kept for the next read rather than dropped, so an odd-sized write
// cannot shift every later character.
size_t ReadCodeUnits(ChildRecord* record, char16_t* units, size_t maxUnits) {
    if (record->outputRead == NO_PIPE_END || maxUnits == 0) return 0;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(units);
    size_t have = 0;
    if (record->hasOddByte) bytes[have++] = record->oddByte;
    while (have < 2) {
        const size_t got = ReadPipeBytes(record->outputRead, bytes + have, maxUnits * 2 - have);
        if (got == 0) {
            // End of output (every writer gone) or a broken pipe: nothing more can come, so
            // the pipe is given back now. A lone trailing byte is half a character.
            ClosePipeEnd(record->outputRead);
            record->hasOddByte = false;
            return 0;
        }
        have += got;
    }
    const size_t count = have / 2;
    record->hasOddByte = (have % 2) != 0;
    if (record->hasOddByte) record->oddByte = bytes[have - 1];
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < count; ++i)
            units[i] = static_cast<char16_t>((units[i] >> 8) | (units[i] << 8));
    }
    return count;
}

// Moves one byte that waits in the pipe into the record's held half character, so that the
// pipe is empty and can tell whether its writers are gone. Never blocks: the byte is there.
void HoldWaitingByte(ChildRecord* record) {
    unsigned char byte = 0;
    if (ReadPipeBytes(record->outputRead, &byte, 1) != 1) return;
    record->hasOddByte = true;
    record->oddByte = byte;
}

}  // namespace

int32_t ChildOutputAvailable(ChildRecord* record) {
    if (record == nullptr) return 0;
    int64_t total = PipeBytesWaiting(record->outputRead);
    if (!record->pending.empty()) total += record->pendingBytes;
    // A held half character is output read but not yet returned, as is the half character
    // whose (empty) last line TakeChildLine still owes.
    if (record->hasOddByte || record->emptyLastLineOwed) total += 1;
    return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

std::u16string ReadChildLine(ChildRecord* record) {
    if (record == nullptr) return {};
    std::vector<char16_t> buffer(std::max(LINE_BLOCK_CHARS, record->pending.size()));
    size_t n = 0;
    size_t scanFrom = 0;
    if (!record->pending.empty()) {
        std::copy(record->pending.begin(), record->pending.end(), buffer.begin());
        n = record->pending.size();
        record->pending.clear();
        record->pendingBytes = 0;
    }
    size_t freeChars = buffer.size() - n;
    bool outputEnded = false;

    for (;;) {
        size_t i = scanFrom;
        for (; i < n; ++i) {
            if (buffer[i] != u'\r' && buffer[i] != u'\n') continue;
            // A CR that is the last character received ends its line at once when nothing
            // more has arrived: waiting for a possible LF could block on a quiet child. When
            // more is already waiting (the read merely stopped at the buffer's end), the next
            // character is looked at instead, so a CR LF written together stays one break.
            if (buffer[i] == u'\r' && i + 1 == n && !outputEnded &&
                PipeBytesWaiting(record->outputRead) + (record->hasOddByte ? 1 : 0) >= 2)
                break;
            const size_t breakLength =
                buffer[i] == u'\r' && i + 1 < n && buffer[i + 1] == u'\n' ? 2 : 1;
            const size_t rest = i + breakLength;
            if (rest < n) {
                record->pending.assign(buffer.data() + rest, n - rest);
                record->pendingBytes =
                    static_cast<int32_t>(std::min<size_t>(record->pending.size() * 2, INT32_MAX));
            }
            return std::u16string(buffer.data(), i);
        }
        if (outputEnded) {
            record->emptyLastLineOwed = false;  // given now, as this line
            return std::u16string(buffer.data(), n);
        }
        scanFrom = i;  // n, or the CR whose follower is still to be read
        if (freeChars < MIN_FREE_CHARS) {
            buffer.resize(n + LINE_BLOCK_CHARS);
            freeChars = LINE_BLOCK_CHARS;
        }
        const size_t got = ReadCodeUnits(record, buffer.data() + n, freeChars);
        if (got == 0) {
            outputEnded = true;  // one more scan settles a CR left at the end
            continue;
        }
        n += got;
        freeChars -= got;
    }
}

int TakeChildLine(ChildRecord* record, std::u16string* line) {
    line->clear();
    if (record == nullptr) return 0;
    std::u16string& text = record->pending;
    // More from the pipe only while what is kept holds no break and is short, and only what
    // waits there now (a read of at least two waiting bytes returns at once): the kept text
    // stays below twice the limit however much a child writes.
    const int32_t waiting = PipeBytesWaiting(record->outputRead);
    const int32_t unread = waiting + (record->hasOddByte ? 1 : 0);
    const size_t firstBreak = text.find_first_of(u"\r\n");
    const bool wholeLineKept = firstBreak != std::u16string::npos &&
                               (firstBreak + 1 < text.size() || text[firstBreak] == u'\n');
    const bool childEnded = CollectChildEnd(record, false);
    if (!wholeLineKept && text.size() < CHILD_LINE_LIMIT) {
        if (unread >= 2) {
            std::vector<char16_t> units(
                std::min<size_t>(static_cast<size_t>(waiting) / 2 + 1, CHILD_LINE_LIMIT));
            const size_t got = ReadCodeUnits(record, units.data(), units.size());
            text.append(units.data(), got);
        } else if (unread == 1) {
            // A lone last byte, half a character that nothing can complete once no writer is
            // left: reading on then finds the end of the output and cannot block (a pipe that
            // a grandchild still holds open may yet bring the other half). As with
            // ReadChildLine, the half character still starts a line, empty when it follows a
            // break.
            if (waiting == 1) HoldWaitingByte(record);
            if (record->hasOddByte && PipeWritersGone(record->outputRead)) {
                char16_t unit = 0;
                ReadCodeUnits(record, &unit, 1);
                record->emptyLastLineOwed = text.empty() || text.back() == u'\r';
            }
        }
    }
    // A held byte may still become a character of the kept line.
    const bool ended =
        childEnded && PipeBytesWaiting(record->outputRead) == 0 && !record->hasOddByte;
    const size_t end = text.find_first_of(u"\r\n");
    // A CR at the very end may be half of a CR LF still on its way; while the child runs,
    // the LF is waited for, so that the pair stays one break.
    // (No break found gives npos, which is beyond the limit too.)
    const bool lineEnded =
        end <= CHILD_LINE_LIMIT && (end + 1 < text.size() || text[end] == u'\n' || ended);
    size_t take = 0, skip = 0;
    bool given = true;
    if (lineEnded) {
        take = end;
        skip = text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1;
    } else if (text.size() >= CHILD_LINE_LIMIT) {
        take = CHILD_LINE_LIMIT;
    } else if (ended && !text.empty()) {
        take = text.size();
    } else if (ended && record->emptyLastLineOwed) {
        record->emptyLastLineOwed = false;
    } else {
        given = false;
    }
    if (take + skip > 0) {
        line->assign(text, 0, take);
        text.erase(0, take + skip);
    }
    record->pendingBytes = static_cast<int32_t>(std::min<size_t>(text.size() * 2, INT32_MAX));
    return given ? 1 : 0;
}

int ChildRunning(ChildRecord* record) {
    ReapReleasedChildren();
    if (record == nullptr) return 0;
    if (!CollectChildEnd(record, false)) return 1;
    if (!record->pending.empty() || record->emptyLastLineOwed) return 1;
    // A held half character still makes a last line once the output's end has been read,
    // whichever reader gets there; ending here would make that line depend on how the
    // child's writes happened to be cut into reads.
    if (record->hasOddByte && record->outputRead != NO_PIPE_END) return 1;
    return PipeBytesWaiting(record->outputRead) > 0 ? 1 : 0;
}

int32_t ChildExitCode(ChildRecord* record) {
    if (record == nullptr) return CHILD_EXIT_UNKNOWN;
    if (!CollectChildEnd(record, false)) return CHILD_STILL_ACTIVE;
    return record->exitCode;
}
