// The byte sink: whatever mix of small and large appends and patches, the file holds exactly
// those bytes; stores end on 4 KiB boundaries (but the last), and large blocks go out from the
// caller's memory instead of through the buffer.
#include "avifile/byte_sink.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "avi_test_support.h"

namespace {

// Keeps the bytes in memory and notes where each store began and ended and what it was given.
class RecordingSink final : public ByteSink {
  public:
    struct Store {
        uint64_t offset;
        uint64_t end;
        const uint8_t* second;  // the second block of a two-block store, or null
    };
    std::vector<uint8_t> bytes;
    std::vector<Store> stores;

  protected:
    bool StoreAt(uint64_t offset, const uint8_t* data, size_t count) override {
        Put(offset, data, count);
        stores.push_back({offset, offset + count, nullptr});
        return true;
    }
    bool StoreTwoAt(uint64_t offset, const uint8_t* first, size_t firstCount, const uint8_t* second,
                    size_t secondCount) override {
        Put(offset, first, firstCount);
        Put(offset + firstCount, second, secondCount);
        stores.push_back({offset, offset + firstCount + secondCount, second});
        return true;
    }
    bool LoadAt(uint64_t offset, uint8_t* data, size_t count) override {
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(offset), count, data);
        return true;
    }
    bool Finish() override { return true; }

  private:
    void Put(uint64_t offset, const uint8_t* data, size_t count) {
        if (bytes.size() < offset + count) bytes.resize(offset + count);
        std::copy_n(data, count, bytes.begin() + static_cast<ptrdiff_t>(offset));
    }
};

// Appends of random sizes, small (audio, chunk headers) to frame sized, with patches of bytes
// already written, applied to the sink and to a plain vector.
template <typename Sink>
std::vector<uint8_t> Exercise(Sink& sink, uint32_t seed,
                              std::vector<const uint8_t*>* largeBlocks = nullptr) {
    std::mt19937 random(seed);
    std::vector<uint8_t> model;
    std::vector<std::vector<uint8_t>> blocks;  // kept alive: the sink may note their address
    for (int step = 0; step < 300; ++step) {
        const uint32_t kind = random() % 10;
        if (kind == 0 && !model.empty()) {
            const size_t at = random() % model.size();
            const size_t count = std::min<size_t>(1 + random() % 64, model.size() - at);
            std::vector<uint8_t> patch(count, static_cast<uint8_t>(random()));
            EXPECT_TRUE(sink.WriteAt(at, patch.data(), count));
            std::copy(patch.begin(), patch.end(), model.begin() + static_cast<ptrdiff_t>(at));
            continue;
        }
        const size_t count = kind < 6 ? random() % 5000 : 60000 + random() % 400000;
        std::vector<uint8_t> block(count);
        for (auto& b : block) b = static_cast<uint8_t>(random());
        EXPECT_TRUE(sink.Append(block.data(), count));
        if (largeBlocks != nullptr && count >= (64 << 10)) largeBlocks->push_back(block.data());
        model.insert(model.end(), block.begin(), block.end());
        blocks.push_back(std::move(block));
    }
    EXPECT_TRUE(sink.Close());
    return model;
}

TEST(ByteSink, StoresEndOnBlockBoundariesAndLargeBlocksAreNotCopied) {
    RecordingSink sink;
    std::vector<const uint8_t*> large;
    const std::vector<uint8_t> model = Exercise(sink, 1, &large);
    EXPECT_EQ(sink.bytes, model);
    ASSERT_GT(sink.stores.size(), 10u);
    ASSERT_GT(large.size(), 20u);
    size_t appendedStores = 0, fromCaller = 0;
    for (size_t i = 0; i + 1 < sink.stores.size(); ++i) {
        const RecordingSink::Store& store = sink.stores[i];
        if (store.second == nullptr) continue;  // a patch, which goes where it must
        ++appendedStores;
        EXPECT_EQ(store.offset % 4096, 0u) << "store " << i;
        EXPECT_EQ(store.end % 4096, 0u) << "store " << i;
        if (std::find(large.begin(), large.end(), store.second) != large.end()) ++fromCaller;
    }
    EXPECT_GT(appendedStores, 10u);
    // Every large block went out straight from where the caller held it.
    EXPECT_EQ(fromCaller, large.size());
}

TEST(ByteSink, FileGetsExactlyTheBytes) {
    TempDir dir;
    const std::string path = dir.Path("sink.bin");
    for (uint32_t seed : {2u, 3u}) {
        auto sink = FileByteSink::Create(path);
        ASSERT_NE(sink, nullptr);
        const std::vector<uint8_t> model = Exercise(*sink, seed);
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        EXPECT_TRUE(file == model)
            << "seed " << seed << ": " << file.size() << " bytes, " << model.size() << " expected";
    }
}

}  // namespace
