#include "windows_program_run.h"

#include <windows.h>

#include <thread>

#include "support/unicode_text.h"

namespace {

// Reads a pipe to its end.
std::string Drain(HANDLE pipe) {
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

}  // namespace

WindowsRun RunWindowsProgram(const std::u16string& program, const std::u16string& parameters,
                             bool closeOutputAtOnce) {
    WindowsRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return run;
    if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) return run;
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring commandLine = L"\"" + ToWide(program) + L"\" " + ToWide(parameters);
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (!started) {
        ::CloseHandle(outRead);
        ::CloseHandle(errRead);
        return run;
    }
    if (closeOutputAtOnce) {
        ::CloseHandle(outRead);
        outRead = nullptr;
    }
    // Both pipes at once, so that a full one never holds the program up.
    std::thread errors([&run, errRead] { run.err = Drain(errRead); });
    if (outRead != nullptr) run.out = Drain(outRead);
    errors.join();
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code)) run.exitCode = code;
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    if (outRead != nullptr) ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return run;
}
