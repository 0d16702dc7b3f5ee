// What an interrupt leaves behind: the files being written are removed and a running
// compressor is stopped before the process ends. On Linux the interrupt is a signal (SIGINT,
// SIGTERM, SIGHUP, or a SIGPIPE when the reader of our output goes away) and the paths are
// kept in fixed buffers, since a signal handler may neither allocate nor lock. On Windows it
// is a console event (Ctrl+C, Ctrl+Break, the console window closing), handled on a thread of
// its own, and the process then ends with STATUS_CONTROL_C_EXIT as Ctrl+C ends a program.
#pragma once

#include <sys/types.h>
#include <string>

#include "support/temporary_files.h"

constexpr int INTERRUPT_SLOTS = 2;

void InstallInterruptCleanup();
// Removes `path` if an interrupt ends the process while the slot holds it. With the scratch
// file's lock, only while the name still leads to that file: a slot can then be filled before
// the file takes the name, leaving no moment in which an interrupt would forget it.
void RemoveOnInterrupt(int slot, const std::u16string& path, ScratchLock lock = NO_SCRATCH_LOCK);
void ForgetOnInterrupt(int slot);
// A child (by process id) to stop on interrupt; 0 for none. It must still run, or at least
// be held by its record, when it is named here.
void StopOnInterrupt(pid_t child);
