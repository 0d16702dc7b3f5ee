// A child program for the runner's tests. Each argument is one action, done in order:
//   t:TEXT      write TEXT (UTF-8, with \r \n \\ escapes) as UTF-16LE, in one write
//   b:HEX       write the raw bytes given in hexadecimal, in one write
//   rep:N:C     write N copies of the ASCII character C as UTF-16LE, in one write
//   sleep:MS    pause
//   exit:CODE   exit at once with CODE
//   kill:SIG    send itself signal SIG
//   linger:MS   leave a process behind that holds the output open for MS after we end
//   cwd         write the working directory, then CR LF
//   fds         write the open descriptor numbers separated by spaces, then CR LF
//   out:PATH    send all further output to the file PATH instead of stdout
//   args        write every remaining argument as a line of its own (CR LF) and stop
// Without exit: or kill: it exits with 0 after the last action.
#include "support/unicode_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) std::exit(3);
        done += static_cast<size_t>(wrote);
    }
}

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

void SleepMilliseconds(long milliseconds) {
    timespec wait{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
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

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string action = argv[i];
        if (action.rfind("t:", 0) == 0) {
            WriteAll(Utf16Le(FromUtf8(Unescape(action.substr(2)))));
        } else if (action.rfind("b:", 0) == 0) {
            WriteAll(FromHex(action.substr(2)));
        } else if (action.rfind("rep:", 0) == 0) {
            const size_t colon = action.find(':', 4);
            const size_t count = std::stoul(action.substr(4, colon - 4));
            WriteAll(Utf16Le(std::u16string(count, static_cast<char16_t>(action.at(colon + 1)))));
        } else if (action.rfind("sleep:", 0) == 0) {
            SleepMilliseconds(std::stol(action.substr(6)));
        } else if (action.rfind("exit:", 0) == 0) {
            _exit(std::atoi(action.c_str() + 5));
        } else if (action.rfind("kill:", 0) == 0) {
            kill(getpid(), std::atoi(action.c_str() + 5));
            SleepMilliseconds(5000);
            return 4;
        } else if (action.rfind("linger:", 0) == 0) {
            const pid_t lingering = fork();
            if (lingering < 0) return 7;
            if (lingering == 0) {
                SleepMilliseconds(std::stol(action.substr(7)));
                _exit(0);
            }
        } else if (action == "cwd") {
            char here[4096];
            WriteAll(Utf16Le(FromUtf8(getcwd(here, sizeof here) ? here : "?")) + Utf16Le(u"\r\n"));
        } else if (action == "fds") {
            WriteAll(Utf16Le(FromUtf8(OpenDescriptors())) + Utf16Le(u"\r\n"));
        } else if (action.rfind("out:", 0) == 0) {
            const int file = open(action.c_str() + 4, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0 || dup2(file, STDOUT_FILENO) < 0) return 5;
            close(file);
        } else if (action == "args") {
            for (int j = i + 1; j < argc; ++j) WriteAll(Utf16Le(FromUtf8(argv[j]) + u"\r\n"));
            break;
        } else {
            return 6;
        }
    }
    return 0;
}
