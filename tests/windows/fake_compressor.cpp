// Stands in for vidcrunch.exe in the hand-off tests: REFRAME_FAKE_COMPRESSOR says how it
// behaves. "fail": a progress line, then exit code 3. "kill": a progress line and half an
// output file, then the process is terminated from outside its own code, as Task Manager
// would end it.
#include <windows.h>

#include <string>

namespace {

void WriteLine(const wchar_t* text) {
    const std::wstring line = std::wstring(text) + L"\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(),
              static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t mode[16] = L"";
    GetEnvironmentVariableW(L"REFRAME_FAKE_COMPRESSOR", mode, 16);
    WriteLine(L"10");
    if (std::wstring(mode) == L"kill" && argc >= 3) {
        HANDLE out = CreateFileW(argv[2], GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(out, "RIFF", 4, &written, nullptr);
        CloseHandle(out);
        WriteLine(L"50");
        TerminateProcess(GetCurrentProcess(), 9);
    }
    return 3;
}
