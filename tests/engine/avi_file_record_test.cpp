// The AVI file records: opening a source with all its streams, creating a destination, and
// closing either so that a reused record never holds a stale handle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "avi/avi_file_record.h"
#include "engine_test_files.h"

namespace {

bool RecordIsEmpty(const AviFileRecord& record) {
    if (record.fileHandle != nullptr) return false;
    for (const StreamSlot& slot : record.slots)
        if (slot.streamHandle != nullptr) return false;
    return true;
}

TEST(AviFileRecord, OpensEveryStreamAndClosesBackToEmpty) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("a.avi"), {Video(), Audio(), Other()}));
    AviFileRecord record;
    ASSERT_EQ(OpenSourceAvi(dir.Path16("a.avi"), record), 1);
    EXPECT_EQ(record.fileInfo.dwStreams, 3u);
    EXPECT_EQ(record.fileInfo.dwWidth, 16u);
    EXPECT_EQ(record.fileInfo.dwHeight, 8u);
    EXPECT_EQ(record.slots[0].streamInfo.fccType, streamtypeVIDEO);
    EXPECT_EQ(record.slots[1].streamInfo.fccType, streamtypeAUDIO);
    EXPECT_EQ(record.slots[2].streamInfo.fccType, streamtypeTEXT);
    for (int i = 0; i < 3; ++i) EXPECT_NE(record.slots[i].streamHandle, nullptr);
    EXPECT_EQ(record.slots[3].streamHandle, nullptr);

    EXPECT_EQ(CloseAvi(record), 0);
    EXPECT_TRUE(RecordIsEmpty(record));
    // The headers stay readable after the close, and the record can be opened again.
    EXPECT_EQ(record.slots[1].streamInfo.fccType, streamtypeAUDIO);
    ASSERT_EQ(OpenSourceAvi(dir.Path16("a.avi"), record), 1);
    EXPECT_EQ(CloseAvi(record), 0);
    EXPECT_TRUE(RecordIsEmpty(record));
}

TEST(AviFileRecord, FileWithoutStreamsOpensAndUsesNoSlot) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("empty.avi"), {}));
    AviFileRecord record;
    ASSERT_EQ(OpenSourceAvi(dir.Path16("empty.avi"), record), 1);
    EXPECT_EQ(record.fileInfo.dwStreams, 0u);
    EXPECT_TRUE(RecordIsEmpty(AviFileRecord{}));
    CloseAvi(record);
    EXPECT_TRUE(RecordIsEmpty(record));
}

TEST(AviFileRecord, RefusesMoreStreamsThanItHasSlotsWithoutOverrunningThem) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("nine.avi"), std::vector<TestStream>(9, Video())));
    AviFileRecord record;
    EXPECT_EQ(OpenSourceAvi(dir.Path16("nine.avi"), record), 0);
    EXPECT_TRUE(RecordIsEmpty(record));

    ASSERT_TRUE(WriteTestAvi(dir.Path("eight.avi"), std::vector<TestStream>(8, Video())));
    ASSERT_EQ(OpenSourceAvi(dir.Path16("eight.avi"), record), 1);
    for (const StreamSlot& slot : record.slots) EXPECT_NE(slot.streamHandle, nullptr);
    CloseAvi(record);
    EXPECT_TRUE(RecordIsEmpty(record));
}

TEST(AviFileRecord, SourceThatIsNotAnAviFileLeavesNothingToClose) {
    ScratchDir dir;
    std::ofstream(dir.Path("text.avi")) << "RIFF this is not an AVI file at all";
    AviFileRecord record;
    EXPECT_EQ(OpenSourceAvi(dir.Path16("text.avi"), record), 0);
    EXPECT_EQ(OpenSourceAvi(dir.Path16("missing.avi"), record), 0);
    EXPECT_TRUE(RecordIsEmpty(record));
}

TEST(AviFileRecord, DestinationTruncatesAnExistingFileAndFailsInAMissingFolder) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("old.avi"), {Video(50)}));
    const auto before = std::filesystem::file_size(dir.Path("old.avi"));
    AviFileRecord record;
    ASSERT_EQ(CreateDestinationAvi(dir.Path16("old.avi"), record), 1);
    EXPECT_LT(std::filesystem::file_size(dir.Path("old.avi")), before);
    CloseAvi(record);
    EXPECT_TRUE(RecordIsEmpty(record));
    // What is left is a valid file without streams.
    ASSERT_EQ(OpenSourceAvi(dir.Path16("old.avi"), record), 1);
    EXPECT_EQ(record.fileInfo.dwStreams, 0u);
    CloseAvi(record);

    EXPECT_EQ(CreateDestinationAvi(dir.Path16("no/such/folder/x.avi"), record), 0);
    EXPECT_TRUE(RecordIsEmpty(record));
}

}  // namespace
