// Reading a file through the read-ahead windows: every read gives the file's own bytes, whatever
// the pattern and from several threads at once, and small reads far apart don't each cost a
// whole window.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "avifile/byte_source.h"
#include "test_files.h"

namespace {

class FileSource : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes_.resize(24 << 20);
        std::mt19937 random(7);
        for (uint8_t& b : bytes_) b = static_cast<uint8_t>(random());
        WriteWholeFile(dir_.Path("source.bin"), bytes_);
        source_ = FileByteSource::Open(dir_.Path("source.bin"));
        ASSERT_TRUE(source_);
    }

    // Reads `count` bytes at `offset` and requires the file's bytes.
    void Expect(uint64_t offset, size_t count) {
        std::vector<uint8_t> got(count);
        ASSERT_TRUE(source_->ReadAt(offset, got.data(), count)) << offset << "+" << count;
        ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes_.begin() + offset))
            << offset << "+" << count;
    }

    TempDir dir_;  // declared first, so that it goes after the source has closed the file
    std::vector<uint8_t> bytes_;
    std::unique_ptr<FileByteSource> source_;
};

TEST_F(FileSource, EveryPatternGivesTheFilesBytes) {
    const uint64_t size = bytes_.size();
    // Sparse small reads (audio between large frames), then dense ones, then a mix with reads
    // that end exactly at the end of the file and some straddling window edges.
    for (uint64_t at = 100; at + 7700 < size; at += 2764800 / 3) Expect(at, 7700);
    for (uint64_t at = 5000000; at < 5000000 + (3 << 20); at += 3001) Expect(at, 3001);
    std::mt19937_64 random(11);
    for (int i = 0; i < 3000; ++i) {
        const size_t count = 1 + random() % (i % 3 == 0 ? 300000 : 20000);
        const uint64_t at = random() % (size - count + 1);
        Expect(at, count);
    }
    Expect(size - 1, 1);
    Expect(size - 70000, 70000);
    Expect(0, 1);
    std::vector<uint8_t> spare(16);
    EXPECT_FALSE(source_->ReadAt(size - 8, spare.data(), 16));
    EXPECT_FALSE(source_->ReadAt(size + 1, spare.data(), 0));
    EXPECT_TRUE(source_->ReadAt(size, spare.data(), 0));
}

TEST_F(FileSource, SmallReadsFarApartFetchLittle) {
    // 8 KiB every MiB: a whole 256 KiB window each would fetch 6 MiB.
    for (uint64_t at = 0; at + 8192 < bytes_.size(); at += 1 << 20) Expect(at + 123, 8192);
    EXPECT_LT(source_->BytesFetched(), 2u << 20);
    // Reading on densely afterwards still gives the right bytes and fetches each byte about once.
    const uint64_t before = source_->BytesFetched();
    for (uint64_t at = 0; at < (4 << 20); at += 4096) Expect(at, 4096);
    EXPECT_LE(source_->BytesFetched() - before, (4u << 20) + (256u << 10));
}

TEST_F(FileSource, ThreadsReadingAtOnceEachGetTheirBytes) {
    std::vector<std::thread> readers;
    std::vector<int> wrong(3, 0);
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([this, t, &wrong] {
            std::mt19937_64 random(static_cast<uint64_t>(t) + 100);
            std::vector<uint8_t> got;
            for (int i = 0; i < 4000; ++i) {
                const size_t count = 1 + random() % (t == 0 ? 200000 : 9000);
                const uint64_t at = random() % (bytes_.size() - count + 1);
                got.resize(count);
                if (!source_->ReadAt(at, got.data(), count) ||
                    !std::equal(got.begin(), got.end(), bytes_.begin() + at))
                    ++wrong[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(wrong, std::vector<int>(3, 0));
}

}  // namespace
