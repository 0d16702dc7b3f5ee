// vidcrunch.exe on Windows, started as the tool starts it: the progress on standard output as
// UTF-16LE bytes (no text-mode CR before the LF), names outside the ANSI code page split from
// the command line by the tool's own rule, a reader that goes away, and the refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "avifile/avi_file.h"
#include "engine_test_files.h"
#include "support/program_parameters.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"
#include "windows_program_run.h"

namespace {

constexpr int32_t kFrames = 30, kSampleFrames = 22050;

std::u16string Vidcrunch() {
    // Built into the same folder as the tests.
    return DirectoryPart(OwnExecutablePath()) + u"vidcrunch.exe";
}

// Built by appends: GCC 12 at -O3 warns falsely (-Wrestrict) on a literal + a temporary.
std::u16string Quoted(const std::string& path) {
    std::u16string quoted(1, u'"');
    quoted += FromUtf8(path);
    quoted += u'"';
    return quoted;
}

// The progress lines in `bytes`, each as its UTF-16 text; empty on any byte that does not belong
// to such a line (an odd count, a lone CR or LF, a character that is no digit).
std::vector<std::u16string> ProgressLines(const std::string& bytes) {
    if (bytes.size() % 2 != 0) return {};
    std::u16string text;
    for (size_t i = 0; i < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             static_cast<uint8_t>(bytes[i + 1]) << 8));
    std::vector<std::u16string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
        const std::u16string line = text.substr(start, end - start);
        if (line.empty() || line.find_first_not_of(u"0123456789") != std::u16string::npos)
            return {};
        lines.push_back(line);
    }
    if (start != text.size()) return {};
    return lines;
}

class WindowsVidcrunch : public ::testing::Test {
  protected:
    void SetUp() override {
        // Greek, Japanese and an emoji (a surrogate pair), with blanks, in folder and name.
        folder_ = dir_.Path("Φάκελος 映像");
        std::filesystem::create_directory(std::filesystem::u8path(folder_));
        input_ = folder_ + "\\Ταινία 日本語 🎬.avi";
        output_ = folder_ + "\\Ταινία 日本語 🎬2.avi";
        ASSERT_TRUE(WriteTestAvi(input_, {Video(kFrames, 64, 48), Audio(kSampleFrames)}));
    }

    bool OutputExists() const { return std::filesystem::exists(std::filesystem::u8path(output_)); }

    ScratchDir dir_;
    std::string folder_, input_, output_;
};

TEST_F(WindowsVidcrunch, ProgressIsUtf16LeLinesAndTheOutputHoldsEveryFrameAndTheSound) {
    const WindowsRun run =
        RunWindowsProgram(Vidcrunch(), Quoted(input_) + u" " + Quoted(output_) + u" /console");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const std::vector<std::u16string> lines = ProgressLines(run.out);
    ASSERT_GE(lines.size(), 2u) << "not UTF-16LE lines ended by CR LF: " << run.out.size()
                                << " bytes";
    int previous = -1;
    for (const std::u16string& line : lines) {
        const int percent = TextToInt(line);
        EXPECT_GT(percent, previous);
        previous = percent;
    }
    EXPECT_EQ(lines.back(), u"100");

    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenW(&file, FromUtf8(output_).c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM video = nullptr, audio = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &audio, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(video), kFrames);
    std::vector<uint8_t> sound(TestAudioBytes(1, kSampleFrames).size());
    LONG bytes = 0, samples = 0;
    EXPECT_EQ(AVIStreamRead(audio, 0, kSampleFrames, sound.data(), static_cast<LONG>(sound.size()),
                            &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(sound, TestAudioBytes(1, kSampleFrames));
    AVIStreamRelease(video);
    AVIStreamRelease(audio);
    AVIFileRelease(file);
}

TEST_F(WindowsVidcrunch, AReaderThatGoesAwayDoesNotStopTheCompression) {
    const WindowsRun run = RunWindowsProgram(
        Vidcrunch(), Quoted(input_) + u" " + Quoted(output_) + u" /console", true);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(OutputExists());
}

TEST_F(WindowsVidcrunch, MissingInputAndADeviceAsOutputAreRefused) {
    const std::string missing = folder_ + "\\Λείπει.avi";
    WindowsRun run =
        RunWindowsProgram(Vidcrunch(), Quoted(missing) + u" " + Quoted(output_) + u" /console");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;
    EXPECT_FALSE(OutputExists());

    // NUL stands in every folder; a failure must not try to remove it.
    run = RunWindowsProgram(Vidcrunch(), Quoted(input_) + u" NUL /console");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("not an ordinary file"), std::string::npos) << run.err;
}

}  // namespace
