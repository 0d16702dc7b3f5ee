// A child program for the runner's tests. Each argument is one action, done in order:
//   t:TEXT      write TEXT (UTF-8, with \r \n \\ escapes) as UTF-16LE, in one write
//   b:HEX       write the raw bytes given in hexadecimal, in one write
//   rep:N:C     write N copies of the ASCII character C as UTF-16LE, in one write
//   rep:N:C:T   the same followed by the text T (as with t:), all in one write
//   sleep:MS    pause
//   exit:CODE   exit at once with CODE
//   kill:SIG    send itself signal SIG (Linux)
//   linger:MS   leave a process behind that holds the output open for MS after we end
//   cwd         write the working directory, then CR LF
//   fds         write the open descriptor numbers separated by spaces, then CR LF (Linux)
//   out:PATH    send all further output to the file PATH instead of stdout
//   args        write every remaining argument as a line of its own (CR LF) and stop
//   handle:N    write "open" or "closed" as a line: whether handle value N is open here (Windows)
//   params      write what NextParameter gives, a line each, while it gives parameters, then
//               the path OwnExecutablePath gives, and stop
// Without exit: or kill: it exits with 0 after the last action. On Windows the arguments are
// the command line cut by SplitCommandLine, the rule the runner builds its command line for.
#include "support/program_parameters.h"
#include "support/unicode_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

#ifdef _WIN32
void WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data() + done,
                       static_cast<DWORD>(bytes.size() - done), &wrote, nullptr) ||
            wrote == 0)
            std::exit(3);
        done += wrote;
    }
}
#else
void WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) std::exit(3);
        done += static_cast<size_t>(wrote);
    }
}
#endif

std::string Utf16Le(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string Unescape(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            result += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

#ifdef _WIN32
void SleepMilliseconds(long milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

std::string WorkingDirectory() {
    wchar_t here[4096];
    const DWORD length = GetCurrentDirectoryW(4096, here);
    return length > 0 && length < 4096 ? FromWide(std::wstring_view(here, length)) : "?";
}

// Starts this program again to sleep, holding our standard output (inherited) meanwhile.
bool Linger(const std::string& milliseconds) {
    const std::wstring line =
        L"\"" + ToWide(OwnExecutablePath()) + L"\" sleep:" + ToWide(milliseconds);
    std::wstring mutableLine = line;
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &start, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

bool SendOutputTo(const std::string& path) {
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && SetStdHandle(STD_OUTPUT_HANDLE, file);
}

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> arguments;
    for (const std::u16string& token : SplitCommandLine(TextFromWide(GetCommandLineW())))
        arguments.push_back(ToUtf8(token));
    return arguments;
}
#else
void SleepMilliseconds(long milliseconds) {
    timespec wait{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

std::string WorkingDirectory() {
    char here[4096];
    return getcwd(here, sizeof here) ? here : "?";
}

bool Linger(const std::string& milliseconds) {
    const pid_t lingering = fork();
    if (lingering < 0) return false;
    if (lingering == 0) {
        SleepMilliseconds(std::stol(milliseconds));
        _exit(0);
    }
    return true;
}

bool SendOutputTo(const std::string& path) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || dup2(file, STDOUT_FILENO) < 0) return false;
    close(file);
    return true;
}

std::string OpenDescriptors() {
    std::string list;
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return "?";
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        if (std::atoi(entry->d_name) == dirfd(directory)) continue;
        if (!list.empty()) list += ' ';
        list += entry->d_name;
    }
    closedir(directory);
    return list;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    SetProgramArguments(argc, argv);
    return std::vector<std::string>(argv, argv + argc);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = Arguments(argc, argv);
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& action = arguments[i];
        if (action.rfind("t:", 0) == 0) {
            WriteAll(Utf16Le(FromUtf8(Unescape(action.substr(2)))));
        } else if (action.rfind("b:", 0) == 0) {
            WriteAll(FromHex(action.substr(2)));
        } else if (action.rfind("rep:", 0) == 0) {
            const size_t colon = action.find(':', 4);
            const size_t count = std::stoul(action.substr(4, colon - 4));
            std::u16string text(count, static_cast<char16_t>(action.at(colon + 1)));
            if (action.size() > colon + 3 && action[colon + 2] == ':')
                text += FromUtf8(Unescape(action.substr(colon + 3)));
            WriteAll(Utf16Le(text));
        } else if (action.rfind("sleep:", 0) == 0) {
            SleepMilliseconds(std::stol(action.substr(6)));
        } else if (action.rfind("exit:", 0) == 0) {
            std::_Exit(std::atoi(action.c_str() + 5));
        } else if (action.rfind("linger:", 0) == 0) {
            if (!Linger(action.substr(7))) return 7;
        } else if (action == "cwd") {
            WriteAll(Utf16Le(FromUtf8(WorkingDirectory())) + Utf16Le(u"\r\n"));
        } else if (action.rfind("out:", 0) == 0) {
            if (!SendOutputTo(action.substr(4))) return 5;
        } else if (action == "args") {
            for (size_t j = i + 1; j < arguments.size(); ++j)
                WriteAll(Utf16Le(FromUtf8(arguments[j]) + u"\r\n"));
            break;
        } else if (action == "params") {
            for (int32_t taken = parametersTaken;;) {
                const std::u16string parameter = NextParameter();
                if (parametersTaken == taken) break;
                taken = parametersTaken;
                WriteAll(Utf16Le(parameter + u"\r\n"));
            }
            WriteAll(Utf16Le(OwnExecutablePath() + u"\r\n"));
            break;
#ifdef _WIN32
        } else if (action.rfind("handle:", 0) == 0) {
            const auto value = static_cast<uintptr_t>(std::stoull(action.substr(7)));
            DWORD flags = 0;
            const bool open = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags);
            WriteAll(Utf16Le(open ? u"open\r\n" : u"closed\r\n"));
#else
        } else if (action.rfind("kill:", 0) == 0) {
            kill(getpid(), std::atoi(action.c_str() + 5));
            SleepMilliseconds(5000);
            return 4;
        } else if (action == "fds") {
            WriteAll(Utf16Le(FromUtf8(OpenDescriptors())) + Utf16Le(u"\r\n"));
#endif
        } else {
            return 6;
        }
    }
    return 0;
}
