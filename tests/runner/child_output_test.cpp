// How ReadChildLine cuts a child's UTF-16LE output into lines, whatever the reads bring.
#include "runner_test_support.h"

using namespace runner_test;

namespace {

using Lines = std::vector<std::u16string>;

TEST(ReadChildLine, LinesOfOneReadAfterTheFirstComeFromWhatWasKept) {
    // The child stays alive after writing, so a second read of the pipe would block until it
    // is killed and then give an empty line instead of 20.
    ChildRecord* record = StartWriter(u"t:10\\r\\n20\\r\\n sleep:5000");
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(WaitForOutput(record, 16), 16);

    EXPECT_EQ(ReadChildLine(record), u"10");
    EXPECT_EQ(ChildOutputAvailable(record), 8);  // "20" CR LF kept, the pipe empty
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadChildLine(record), u"20");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(ChildOutputAvailable(record), 0);
    EXPECT_EQ(ChildRunning(record), 1);

    StopChild(record);
    EXPECT_EQ(DrainLines(record), Lines{});
    ReleaseChild(record);
}

TEST(ReadChildLine, LoneCrAndLoneLfEachEndALine) {
    // LF CR is two breaks: c, then an empty line.
    ChildRecord* record = StartWriter(u"t:a\\rb\\nc\\n\\rd\\r\\n");
    EXPECT_EQ(DrainLines(record), (Lines{u"a", u"b", u"c", u"", u"d"}));
    ReleaseChild(record);
}

TEST(ReadChildLine, CrLfSplitBetweenReadsGivesAnEmptyLine) {
    ChildRecord* record = StartWriter(u"t:x\\r sleep:600 t:\\ny\\r\\n");
    EXPECT_EQ(DrainLines(record), (Lines{u"x", u"", u"y"}));
    ReleaseChild(record);
}

TEST(ReadChildLine, LastLineWithoutBreakArrivesOnceTheOutputEnds) {
    const int handles = CountOpenHandles();
    ChildRecord* record = StartWriter(u"t:5\\r\\n sleep:200 t:99");
    EXPECT_EQ(DrainLines(record), (Lines{u"5", u"99"}));
    // The shell keeps its records; a drained pipe must not stay open for the tool's life.
    EXPECT_EQ(CountOpenHandles(), handles);
    EXPECT_EQ(ChildRunning(record), 0);
    EXPECT_EQ(ChildExitCode(record), 0);
    EXPECT_EQ(ReadChildLine(record), u"");  // nothing more, and no blocking
    ReleaseChild(record);

    // A child that writes its last lines and exits at once must not lose them.
    for (int i = 0; i < 20; ++i) {
        record = StartWriter(u"t:7\\r\\n8 exit:0");
        ASSERT_EQ(DrainLines(record), (Lines{u"7", u"8"})) << "run " << i;
        ReleaseChild(record);
    }
}

TEST(ReadChildLine, LinesLongerThanTheBufferComeWhole) {
    ChildRecord* record =
        StartWriter(u"rep:3000:A sleep:100 rep:3000:B sleep:100 rep:3000:C t:\\r\\nnext\\r\\n");
    const std::u16string joined =
        std::u16string(3000, u'A') + std::u16string(3000, u'B') + std::u16string(3000, u'C');
    EXPECT_EQ(DrainLines(record), (Lines{joined, u"next"}));
    ReleaseChild(record);

    // Exactly one buffer's worth, then more than the pipe holds at once.
    record = StartWriter(u"rep:4096:Q t:\\r\\nz\\r\\n rep:70000:W t:\\n rep:4095:E t:\\r\\n");
    EXPECT_EQ(DrainLines(record), (Lines{std::u16string(4096, u'Q'), u"z",
                                         std::u16string(70000, u'W'), std::u16string(4095, u'E')}));
    ReleaseChild(record);
}

TEST(ReadChildLine, CrLfCutByTheBufferEndStaysOneBreak) {
    // 4095 characters and the CR fill the first read; the LF waits in the pipe. (One write:
    // a Windows pipe holds a second write back until the first has been read.)
    ChildRecord* record = StartWriter(u"rep:4095:E:\\r\\n sleep:300");
    ASSERT_EQ(WaitForOutput(record, 8194), 8194);
    EXPECT_EQ(DrainLines(record), Lines{std::u16string(4095, u'E')});
    ReleaseChild(record);
}

TEST(ReadChildLine, ManyLinesInFlightKeepTheirOrder) {
    std::u16string actions = u"t:";
    Lines expected;
    for (int i = 0; i < 2000; ++i) {
        actions += IntToUtf16(i) + u"\\r\\n";
        expected.push_back(IntToUtf16(i));
    }
    ChildRecord* record = StartWriter(actions);
    EXPECT_EQ(DrainLines(record), expected);
    ReleaseChild(record);
}

TEST(ReadChildLine, WritesOfOddByteCountsDoNotShiftTheText) {
    // "12" CR LF with a write boundary inside the '2'.
    ChildRecord* record = StartWriter(u"b:310032 sleep:200 b:000D000A00");
    EXPECT_EQ(DrainLines(record), Lines{u"12"});
    ReleaseChild(record);

    // A line ends inside the first write and its last byte starts the next character.
    record = StartWriter(u"b:31000D000A0032 sleep:200 b:000D000A00");
    EXPECT_EQ(DrainLines(record), (Lines{u"1", u"2"}));
    ReleaseChild(record);
}

TEST(ReadChildLine, TextBeyondAsciiIsTakenAsUtf16) {
    ChildRecord* record = StartWriter(u"t:\u00e9\u20ac\U0001F600\\r\\n");
    EXPECT_EQ(DrainLines(record), Lines{u"\u00e9\u20ac\U0001F600"});
    ReleaseChild(record);
}

TEST(ReadChildLine, ChildWithoutOutputPipeGivesEmptyLinesAtOnce) {
    ChildRecord* record = StartWriter(u"sleep:100", u"", CHILD_OPEN);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ChildOutputAvailable(record), 0);
    EXPECT_EQ(ReadChildLine(record), u"");
    EXPECT_EQ(DrainLines(record), Lines{});
    EXPECT_EQ(ChildExitCode(record), 0);
    ReleaseChild(record);
}

}  // namespace

namespace {

// The window's loop with TakeChildLine: never blocks, so it can give up at a deadline.
std::vector<std::u16string> TakeLines(ChildRecord* record, int timeoutMs = 20000) {
    std::vector<std::u16string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ChildRunning(record) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::u16string line;
        if (TakeChildLine(record, &line) != 0)
            lines.push_back(line);
        else
            Pause(1);
    }
    return lines;
}

TEST(TakeChildLine, GivesTheSameLinesAsReadChildLine) {
    for (const std::u16string actions :
         {u"t:a\\rb\\nc\\n\\rd\\r\\n", u"t:5\\r\\n sleep:200 t:99", u"b:3100 b:0d000a00",
          u"t:1\\r\\n2\\r\\n3 exit:0", u"t:4\\r\\n b:35"}) {  // an odd byte last
        ChildRecord* record = StartWriter(actions);
        ChildRecord* again = StartWriter(actions);
        EXPECT_EQ(TakeLines(record), DrainLines(again)) << ToUtf8(actions);
        ReleaseChild(record);
        ReleaseChild(again);
    }
    // Except that a CR LF whose halves arrive apart stays one break: the LF is waited for.
    ChildRecord* record = StartWriter(u"t:x\\r sleep:300 t:\\ny\\r\\n");
    EXPECT_EQ(TakeLines(record), (Lines{u"x", u"y"}));
    ReleaseChild(record);
}

// Starts the writer and waits until it has ended with all its output in the pipe, so that a
// reader finds everything in one read, however loaded the machine.
ChildRecord* StartEndedWriter(const std::u16string& actions, int32_t bytes) {
    ChildRecord* record = StartWriter(actions);
    EXPECT_EQ(WaitForOutput(record, bytes), bytes) << ToUtf8(actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ChildExitCode(record) == CHILD_STILL_ACTIVE &&
           std::chrono::steady_clock::now() < deadline)
        Pause(1);
    return record;
}

TEST(TakeChildLine, AHalfCharacterLastEndsTheOutputAsInReadChildLine) {
    // Half a character after a break starts a last, empty line; after text it ends that text.
    struct Case {
        std::u16string actions;
        int32_t bytes;
        Lines expected;
    };
    const Case cases[] = {{u"t:4\\r\\n b:35", 7, {u"4", u""}},
                          {u"t:x\\r b:35", 5, {u"x", u""}},
                          {u"b:35", 1, {u""}},
                          {u"t:ab b:35", 5, {u"ab"}}};
    for (const Case& c : cases) {
        ChildRecord* read = StartEndedWriter(c.actions, c.bytes);
        EXPECT_EQ(DrainLines(read), c.expected) << "ReadChildLine, " << ToUtf8(c.actions);
        ChildRecord* taken = StartEndedWriter(c.actions, c.bytes);
        EXPECT_EQ(TakeLines(taken), c.expected) << "TakeChildLine, " << ToUtf8(c.actions);
        ReleaseChild(read);
        ReleaseChild(taken);
    }
    // The half character arriving after its line was read makes no difference.
    for (bool taking : {false, true}) {
        ChildRecord* record = StartWriter(u"t:4\\r\\n sleep:300 b:35");
        EXPECT_EQ(taking ? TakeLines(record) : DrainLines(record), (Lines{u"4", u""})) << taking;
        ReleaseChild(record);
    }
}

TEST(TakeChildLine, NeverWaitsForALastByteWhileTheOutputIsHeldOpen) {
    // The child ends, but a process it left behind holds the pipe open two seconds more: the
    // lone last byte may yet be completed, so it is neither read (which would block) nor lost.
    ChildRecord* record = StartWriter(u"t:4\\r\\n sleep:300 b:35 linger:2000");
    ASSERT_EQ(WaitForOutput(record, 6), 6);
    std::u16string line;
    EXPECT_EQ(TakeChildLine(record, &line), 1);
    EXPECT_EQ(line, u"4");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ChildExitCode(record) == CHILD_STILL_ACTIVE &&
           std::chrono::steady_clock::now() < deadline)
        Pause(1);
    ASSERT_EQ(ChildExitCode(record), 0);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(TakeChildLine(record, &line), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    EXPECT_EQ(ChildRunning(record), 1);
    EXPECT_EQ(ChildOutputAvailable(record), 1);
    EXPECT_EQ(TakeLines(record), Lines{u""});  // once the last writer has gone
    EXPECT_EQ(ChildRunning(record), 0);
    ReleaseChild(record);
}

TEST(TakeChildLine, NeverWaitsForABreakAndCutsEndlessText) {
    // Text without a break, then a long silence: nothing is given, at once.
    ChildRecord* record = StartWriter(u"t:42 sleep:5000");
    ASSERT_EQ(WaitForOutput(record, 4), 4);
    const auto before = std::chrono::steady_clock::now();
    std::u16string line = u"unchanged";
    EXPECT_EQ(TakeChildLine(record, &line), 0);
    EXPECT_TRUE(line.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    EXPECT_EQ(ChildOutputAvailable(record), 4);  // kept for later
    StopChild(record);
    EXPECT_EQ(ChildExitCode(record), CHILD_STOPPED);
    EXPECT_EQ(TakeLines(record), (Lines{u"42"}));
    ReleaseChild(record);

    // Megabytes without a break come in pieces of the limit, and the last piece at the end.
    record = StartWriter(u"rep:1000000:x t:\\r\\n7\\r\\n");
    const Lines lines = TakeLines(record);
    ASSERT_GE(lines.size(), 2u);
    size_t total = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), CHILD_LINE_LIMIT);
        total += lines[i].size();
    }
    EXPECT_EQ(total, 1000000u);
    EXPECT_EQ(lines.back(), u"7");
    EXPECT_LT(record->pending.capacity(), 4 * CHILD_LINE_LIMIT)
        << "the kept text grew with the output";
    ReleaseChild(record);
}

}  // namespace
