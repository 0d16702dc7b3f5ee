// The interrupt clean-up on Linux: a handler for the signals that end the process, which
// removes the files and stops the child, then ends the process by the same signal.
#include "convert/interrupt_cleanup.h"

#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <csignal>
#include <cstring>

#include "support/unicode_text.h"

namespace {

constexpr int CLEANED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

char paths[INTERRUPT_SLOTS][PATH_MAX + 1];
int descriptors[INTERRUPT_SLOTS];
volatile sig_atomic_t pathSet[INTERRUPT_SLOTS];

bool NamesOurFile(int slot) {
    if (descriptors[slot] < 0) return true;
    struct stat ours {};
    struct stat named {};
    return fstat(descriptors[slot], &ours) == 0 && lstat(paths[slot], &named) == 0 &&
           ours.st_dev == named.st_dev && ours.st_ino == named.st_ino;
}
volatile sig_atomic_t childToStop;

void OnInterrupt(int signal) {
    if (childToStop > 0) kill(static_cast<pid_t>(childToStop), SIGKILL);
    for (int i = 0; i < INTERRUPT_SLOTS; ++i)
        if (pathSet[i] != 0 && NamesOurFile(i)) unlink(paths[i]);
    // Ends by the signal itself, so that the caller sees how the process ended.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

}  // namespace

void InstallInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : CLEANED_SIGNALS) sigaddset(&action.sa_mask, signal);
    for (int signal : CLEANED_SIGNALS) sigaction(signal, &action, nullptr);
}

void RemoveOnInterrupt(int slot, const std::u16string& text, ScratchLock descriptor) {
    const std::string path = ToUtf8(text);
    if (slot < 0 || slot >= INTERRUPT_SLOTS || path.size() > PATH_MAX) return;
    // The flag goes down before the buffer changes and up only once it is whole.
    pathSet[slot] = 0;
    std::memcpy(paths[slot], path.c_str(), path.size() + 1);
    descriptors[slot] = descriptor;
    pathSet[slot] = 1;
}

void ForgetOnInterrupt(int slot) {
    if (slot >= 0 && slot < INTERRUPT_SLOTS) pathSet[slot] = 0;
}

void StopOnInterrupt(pid_t child) {
    childToStop = child;
}
