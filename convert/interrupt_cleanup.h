// What Ctrl+C (or a SIGTERM / SIGHUP, or a SIGPIPE when the reader of our output goes away)
// leaves behind: the files being written are removed and a running compressor is stopped
// before the process ends by the signal. The paths are kept in fixed buffers, since a signal
// handler may neither allocate nor lock.
#pragma once

#include <sys/types.h>
#include <string>

constexpr int INTERRUPT_SLOTS = 2;

void InstallInterruptCleanup();
// Removes `path` if a signal ends the process while the slot holds it. With an open descriptor
// of the file, only while the name still leads to that file: a slot can then be filled before
// the file takes the name, leaving no moment in which a signal would forget it.
void RemoveOnInterrupt(int slot, const std::string& path, int descriptor = -1);
void ForgetOnInterrupt(int slot);
// A child to stop on interrupt; 0 for none.
void StopOnInterrupt(pid_t child);
