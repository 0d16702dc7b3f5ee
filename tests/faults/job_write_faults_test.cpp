// The window's job when the destination's writes fail (EIO, ENOSPC) or come out short at its
// first, a middle and its last write, on Qt's offscreen platform. The write fault shim is
// preloaded into this test; its settings are changed between jobs.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/compressor_handoff.h"
#include "app/conversion_job.h"
#include "app/main_window.h"
#include "app/shell_state.h"
#include "app/start_up.h"
#include "engine_test_files.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"
#include "ui/requester_test_seam.h"
#include "ui/window_toolkit.h"

namespace {

using Message = std::pair<std::u16string, std::u16string>;
std::vector<Message> messages;
int32_t RecordMessage(const std::u16string& title, const std::u16string& text) {
    messages.emplace_back(title, text);
    return 1;
}

const std::vector<Message> CONVERTED{{u"ERROR", u"Couldn't find 'vidcrunch.exe'!"},
                                     {u"Information", u"Finished."}};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class JobWriteFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        count =
            reinterpret_cast<unsigned long (*)()>(dlsym(RTLD_DEFAULT, "ReframeFaultWriteCount"));
        reset = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "ReframeFaultResetCount"));
        ASSERT_TRUE(count != nullptr && reset != nullptr)
            << "the write fault shim is not preloaded";
        char program[] = "reframe";
        char* argv[] = {program, nullptr};
        SetProgramArguments(1, argv);
        StartUpShell();
        ASSERT_NE(BuildMainWindow(), nullptr);
        SetRequesterOverrideForTests(nullptr, RecordMessage);
        // No compressor: the job says so and ends after the conversion.
        SetCompressorProgramForTests(FromUtf8(dir.Path("no-compressor")));
        std::filesystem::create_directory(dir.Path("out"));
        ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(12, 64, 48), Audio(8000)}));
        std::ofstream(dir.Path("out/other.txt")) << "the user's own file";
        setenv("REFRAME_FAULT_MATCH", dir.Path("out/").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("REFRAME_FAULT_AT");
        unsetenv("REFRAME_FAULT_KIND");
        unsetenv("REFRAME_FAULT_MATCH");
        SetRequesterOverrideForTests(nullptr, nullptr);
        SetCompressorProgramForTests(u"");
        ShutDownShell();
    }
    // Scaled to 640 x 480 the frames need several of the writer's 1 MiB writes.
    void Job() {
        messages.clear();
        SetControlText(SourceField, FromUtf8(dir.Path("in.avi")));
        SetControlText(DestinationField, FromUtf8(dir.Path("out/big.avi")));
        SetControlText(WidthField, u"640");
        SetControlText(HeightField, u"480");
        RunConversionJob();
    }
    unsigned long (*count)() = nullptr;
    void (*reset)() = nullptr;
    ScratchDir dir;
};

TEST_F(JobWriteFaults, FailedWritesKeepTheOldDestinationAndShortOnesChangeNothing) {
    reset();
    Job();
    ASSERT_EQ(messages, CONVERTED);
    const unsigned long total = count();
    ASSERT_GE(total, 3u);
    const std::string clean = Contents(dir.Path("out/big.avi"));
    const std::string source = Contents(dir.Path("in.avi"));
    for (const unsigned long at : {1ul, (total + 1) / 2, total}) {
        setenv("REFRAME_FAULT_AT", std::to_string(at).c_str(), 1);
        for (const char* kind : {"eio", "enospc"}) {
            setenv("REFRAME_FAULT_KIND", kind, 1);
            reset();
            Job();
            EXPECT_EQ(messages,
                      (std::vector<Message>{{u"ERROR", u"Couldn't write the destination file!"}}))
                << kind << " at write " << at << " of " << total;
            // The failed result went, and the file that stood there before is as it was.
            EXPECT_TRUE(Contents(dir.Path("out/big.avi")) == clean) << kind << " at " << at;
        }
        setenv("REFRAME_FAULT_KIND", "short", 1);
        reset();
        Job();
        EXPECT_EQ(messages, CONVERTED) << "short at " << at;
        EXPECT_TRUE(Contents(dir.Path("out/big.avi")) == clean)
            << "a short write at " << at << " changed the file";
    }
    EXPECT_TRUE(Contents(dir.Path("in.avi")) == source);
    EXPECT_EQ(Contents(dir.Path("out/other.txt")), "the user's own file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("out")),
                            std::filesystem::directory_iterator()),
              2);
}

}  // namespace
