#include "vidcrunch_test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

ProgramRun RunVidcrunch(const std::vector<std::string>& arguments, uint64_t fileSizeLimit) {
    ProgramRun run;
    std::string dir = MakeTempDir();
    std::string outPath = dir + "/out", errPath = dir + "/err";
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) _exit(126);
        dup2(out, 1);
        dup2(err, 2);
        if (fileSizeLimit > 0) {
            // Past the limit a write fails with EFBIG instead of stopping the program.
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        std::string program = VIDCRUNCH_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.out = ReadWholeFile(outPath);
    run.err = ReadWholeFile(errPath);
    RemoveTree(dir);
    return run;
}

std::string RunShell(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode) *exitCode = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = pclose(pipe);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string MakeTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vidcrunch-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return std::string();
    return pattern;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool MakeRawAvi(const std::string& path, int width, int height, int seconds) {
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string duration = std::to_string(seconds);
    // testsrc keeps odd sizes exactly (testsrc2 rounds them down to even).
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + size +
                          ":rate=25:duration=" + duration +
                          " -f lavfi -i sine=frequency=440:sample_rate=22050:duration=" + duration +
                          " -ac 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" + path + "'";
    int code = -1;
    RunShell(command, &code);
    return code == 0 && FileExists(path);
}

std::string ProbeStream(const std::string& path, const std::string& selector,
                        const std::string& key) {
    std::string out =
        RunShell("ffprobe -v error -count_packets -select_streams " + selector +
                 " -show_entries stream=" + key + " -of default=nw=1:nk=1 '" + path + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::vector<int> PacketStreamsInFileOrder(const std::string& path) {
    std::istringstream lines(RunShell(
        "ffprobe -v error -show_entries packet=stream_index,pos -of csv=p=0 '" + path + "'"));
    std::vector<std::pair<long long, int>> packets;
    std::string line;
    while (std::getline(lines, line)) {
        size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        packets.emplace_back(std::atoll(line.c_str() + comma + 1), std::atoi(line.c_str()));
    }
    std::sort(packets.begin(), packets.end());
    std::vector<int> streams;
    for (const auto& p : packets) streams.push_back(p.second);
    return streams;
}

std::string PacketMd5(const std::string& path, const std::string& selector) {
    return RunShell("ffmpeg -nostdin -v error -i '" + path + "' -map 0:" + selector +
                    " -c copy -f md5 -");
}

double VideoPsnr(const std::string& path, const std::string& reference) {
    std::string out = RunShell("ffmpeg -nostdin -v info -i '" + path + "' -i '" + reference +
                               "' -lavfi '[0:v][1:v]psnr' -f null - 2>&1");
    size_t at = out.rfind("average:");
    if (at == std::string::npos) return -1;
    std::string value = out.substr(at + 8, out.find(' ', at) - at - 8);
    if (value == "inf") return 1000;
    return std::atof(value.c_str());
}
