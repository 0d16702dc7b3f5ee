// The interrupt clean-up on Windows: a console control handler. Windows runs it on a thread of
// its own while the main thread goes on, so the slots are guarded by a lock, which the handler
// keeps until the process has ended: nothing can be put into a slot behind its back.
#include "convert/interrupt_cleanup.h"

#include <windows.h>

#include <mutex>

#include "support/file_identity_windows.h"
#include "support/unicode_text.h"

namespace {

// Room for the longest path Windows takes (an extended-length one), so that the handler
// needs no allocation.
constexpr size_t PATH_CHARS = 32768;

std::mutex slotsLock;
wchar_t paths[INTERRUPT_SLOTS][PATH_CHARS];
HANDLE locks[INTERRUPT_SLOTS];
bool pathSet[INTERRUPT_SLOTS];
// Our own handle of the child to stop: it keeps the process id from being given to another
// process, however long after the child's end the interrupt comes.
HANDLE childToStop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    slotsLock.lock();  // held until the end: the main thread must not start anything new
    if (childToStop != nullptr) {
        TerminateProcess(childToStop, STATUS_CONTROL_C_EXIT);
        // Its handles on our files must be gone before they can be deleted at once.
        WaitForSingleObject(childToStop, 5000);
    }
    for (int i = 0; i < INTERRUPT_SLOTS; ++i) {
        if (!pathSet[i]) continue;
        if (locks[i] != nullptr)
            DeleteIfNamesFile(paths[i], locks[i]);
        else
            DeleteFileW(paths[i]);
    }
    // As the system ends a console program that has no handler of its own.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void InstallInterruptCleanup() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RemoveOnInterrupt(int slot, const std::u16string& path, ScratchLock lock) {
    if (slot < 0 || slot >= INTERRUPT_SLOTS) return;
    const std::wstring wide = ToWide(path);
    std::lock_guard<std::mutex> guard(slotsLock);
    pathSet[slot] = false;
    if (wide.empty() || wide.size() >= PATH_CHARS) return;
    wide.copy(paths[slot], wide.size());
    paths[slot][wide.size()] = L'\0';
    locks[slot] = lock;
    pathSet[slot] = true;
}

void ForgetOnInterrupt(int slot) {
    if (slot < 0 || slot >= INTERRUPT_SLOTS) return;
    std::lock_guard<std::mutex> guard(slotsLock);
    pathSet[slot] = false;
}

void StopOnInterrupt(pid_t child) {
    // Opened before the lock is taken: the child is alive (or held by its record) now.
    HANDLE opened =
        child > 0 ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(child))
                  : nullptr;
    HANDLE previous = nullptr;
    {
        std::lock_guard<std::mutex> guard(slotsLock);
        previous = childToStop;
        childToStop = opened;
    }
    if (previous != nullptr) CloseHandle(previous);
}
