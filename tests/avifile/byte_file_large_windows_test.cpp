// Writing a file beyond 4 GiB on Windows: appends, patches and reads back at offsets that need
// the high half of the OVERLAPPED offset. Writes 4 GiB, so it runs with the slow tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avifile/byte_sink.h"
#include "avifile/byte_source.h"
#include "support/unicode_text.h"
#include "test_files.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

uint64_t FreeBytesIn(const std::string& folder) {
    ULARGE_INTEGER free{};
    if (!::GetDiskFreeSpaceExW(ToWide(folder).c_str(), &free, nullptr, nullptr)) return 0;
    return free.QuadPart;
}

uint64_t SizeOnDisk(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(ToWide(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

std::vector<uint8_t> Read(ByteSource& source, uint64_t offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    if (!source.ReadAt(offset, bytes.data(), count)) bytes.clear();
    return bytes;
}

TEST(WindowsLargeByteFiles, SinkWritesPatchesAndReadsBackBeyondFourGiB) {
    TempDir dir;
    const std::string path = dir.Path("large-out.bin");
    const uint64_t size = 4 * kGiB + 64 * (uint64_t{1} << 20);
    if (FreeBytesIn(dir.Path("")) < size + 2 * kGiB)
        GTEST_SKIP() << "too little room for a 4 GiB file";
    {
        auto sink = FileByteSink::Create(path);
        ASSERT_NE(sink, nullptr);
        const std::vector<uint8_t> block = Pattern(64 << 20, 5);
        while (sink->Position() < size) ASSERT_TRUE(sink->Append(block.data(), block.size()));
        ASSERT_EQ(sink->Position(), size);
        // Patches of bytes long written out, as the AVI writer completes its index headers.
        const std::vector<uint8_t> across = Pattern(9000, 6), beyond = Pattern(300, 7);
        ASSERT_TRUE(sink->WriteAt(4 * kGiB - 4500, across.data(), across.size()));
        ASSERT_TRUE(sink->WriteAt(4 * kGiB + 5 * (1 << 20) + 3, beyond.data(), beyond.size()));
        std::vector<uint8_t> back(beyond.size());
        ASSERT_TRUE(sink->ReadAt(4 * kGiB + 5 * (1 << 20) + 3, back.data(), back.size()));
        EXPECT_EQ(back, beyond);
        ASSERT_TRUE(sink->Close());

        EXPECT_EQ(SizeOnDisk(path), size);
        auto source = FileByteSource::Open(path);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(Read(*source, 4 * kGiB - 4500, across.size()), across);
        EXPECT_EQ(Read(*source, 4 * kGiB + 5 * (1 << 20) + 3, beyond.size()), beyond);
        // Untouched bytes on both sides of a patch are the appended ones.
        const uint64_t untouched = 4 * kGiB + 7 * (1 << 20);
        const size_t inBlock = static_cast<size_t>(untouched % block.size());
        EXPECT_EQ(Read(*source, untouched, 100),
                  std::vector<uint8_t>(block.begin() + inBlock, block.begin() + inBlock + 100));
    }
}

}  // namespace
