// A parent for the runner's tests to kill: it starts a child of its own the way the tool does,
// tells the test that child's pid and waits to be killed.
//   runner WRITER              start WRITER (which sleeps a minute) through StartChild and
//                              write its pid as a UTF-16LE line
//   batch SOURCE DESTINATION   convert through the batch runner; the process it starts for the
//                              file is this program again, which writes its pid followed by a
//                              line break into DESTINATION and sleeps a minute
//   interrupt FOLDER WRITER    (Windows) on a console of its own, make two scratch files in
//                              FOLDER known to the interrupt clean-up, start WRITER (which
//                              sleeps a minute) as the compressor is started, write its pid and
//                              the two names into FOLDER\state, then press Ctrl+C
//   interrupt-batch DESTINATION  (Windows) as batch, on a console of its own, and press
//                              Ctrl+C once the file's process runs; that process takes half a
//                              second to clean up and then makes DESTINATION.cleaned
// On Windows the arguments are read as the C runtime splits them (CommandLineToArgvW), as
// reframe-convert reads them, and in UTF-16, so that any name arrives whole.
#include "convert/batch_runner.h"
#include "convert/interrupt_cleanup.h"
#include "support/child_record.h"
#include "support/child_runner.h"
#include "support/temporary_files.h"
#include "support/unicode_text.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <string>
#include <thread>
#include <vector>

namespace {

#ifdef _WIN32
void WriteAll(HANDLE file, const std::string& bytes) {
    DWORD wrote = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
        wrote != bytes.size())
        ExitProcess(3);
}

void WriteStandardOutput(const std::string& bytes) {
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
}

[[noreturn]] void WaitToBeKilled() {
    for (;;) Sleep(INFINITE);
}

std::vector<std::string> Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) arguments.push_back(FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::wstring cleanedMark;  // made by the file's process when Ctrl+C has been dealt with

// A clean-up that takes its time, as removing a large file may; then the mark.
BOOL WINAPI CleanUpSlowly(DWORD) {
    Sleep(500);
    CloseHandle(CreateFileW(cleanedMark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

// The process for one file: its pid into a new file at path, then a minute's sleep. Ctrl+C
// ends it after a slow clean-up that leaves path + ".cleaned" behind.
int PretendToConvert(const std::string& path) {
    cleanedMark = ToWide(path + ".cleaned");
    SetConsoleCtrlHandler(CleanUpSlowly, TRUE);
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 6;
    WriteAll(file, std::to_string(GetCurrentProcessId()) + "\n");
    CloseHandle(file);
    Sleep(60000);
    return 0;
}

// A batch of one file on a console of its own, interrupted by Ctrl+C once the file's process
// has written its pid into destination.
int InterruptBatch(const std::string& destination) {
    FreeConsole();
    if (!AllocConsole()) return 7;
    std::thread presser([destination] {
        for (int i = 0; i < 2000; ++i) {
            if (GetFileAttributesW(ToWide(destination).c_str()) != INVALID_FILE_ATTRIBUTES) {
                Sleep(200);  // the pid is written in one go just after the file is made
                GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
                return;
            }
            Sleep(10);
        }
    });
    presser.detach();
    RunInProcesses(ConvertOptions{}, ProgressStyle::None, {{"source.avi", destination}}, 1);
    return 5;  // the handler ends the process; it never comes back here
}

// What a conversion holds when Ctrl+C comes: two scratch files and a running compressor.
int InterruptWhileConverting(const std::string& folder, const std::string& writer) {
    // A console of our own, so that the Ctrl+C reaches us and our children only.
    FreeConsole();
    if (!AllocConsole()) return 7;
    InstallInterruptCleanup();
    TemporaryFile files[INTERRUPT_SLOTS];
    for (int slot = 0; slot < INTERRUPT_SLOTS; ++slot) {
        if (!CreateTemporaryFile(FromUtf8(folder), &files[slot],
                                 [slot](const std::u16string& path, ScratchLock lock) {
                                     RemoveOnInterrupt(slot, path, lock);
                                 }))
            return 8;
    }
    auto* child = reinterpret_cast<ChildRecord*>(
        StartChild(FromUtf8(writer), u"sleep:60000", FromUtf8(folder),
                   CHILD_HIDE | CHILD_OPEN | CHILD_READ_OUTPUT));
    if (child == nullptr) return 4;
    StopOnInterrupt(static_cast<pid_t>(child->processId));
    HANDLE state = CreateFileW(ToWide(folder + "state").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (state == INVALID_HANDLE_VALUE) return 6;
    WriteAll(state, std::to_string(child->processId) + "\n" + ToUtf8(files[0].path) + "\n" +
                        ToUtf8(files[1].path) + "\n");
    CloseHandle(state);
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return 9;
    Sleep(20000);  // the handler ends the process meanwhile
    return 0;
}
#else
void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) _exit(3);
        done += static_cast<size_t>(wrote);
    }
}

void WriteStandardOutput(const std::string& bytes) {
    WriteAll(STDOUT_FILENO, bytes);
}

[[noreturn]] void WaitToBeKilled() {
    for (;;) pause();
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

int PretendToConvert(const std::string& path) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) return 6;
    WriteAll(file, std::to_string(getpid()) + "\n");
    close(file);
    sleep(60);
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = Arguments(argc, argv);
    const size_t count = arguments.size();
    const std::string mode = count > 1 ? arguments[1] : "";
    if (mode == "runner" && count == 3) {
        auto* child = reinterpret_cast<ChildRecord*>(
            StartChild(FromUtf8(arguments[2]), u"sleep:60000", u"", CHILD_OPEN));
        if (child == nullptr) return 4;
        const std::u16string line = FromUtf8(std::to_string(child->processId)) + u"\r\n";
        WriteStandardOutput(std::string(reinterpret_cast<const char*>(line.data()),
                                        line.size() * sizeof(char16_t)));
        WaitToBeKilled();
    }
    if (mode == "batch" && count == 4) {
        RunInProcesses(ConvertOptions{}, ProgressStyle::None, {{arguments[2], arguments[3]}}, 1);
        return 5;  // the file's process never ends by itself
    }
#ifdef _WIN32
    if (mode == "interrupt" && count == 4)
        return InterruptWhileConverting(arguments[2], arguments[3]);
    if (mode == "interrupt-batch" && count == 3) return InterruptBatch(arguments[2]);
#endif
    // The batch runner's call for one file: ... -- SOURCE DESTINATION.
    if (count >= 4 && arguments[count - 3] == "--") return PretendToConvert(arguments[count - 1]);
    return 2;
}
