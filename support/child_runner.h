// Starts another program with its standard streams optionally in pipes, and lets the single
// GUI thread watch it by polling: still running, output waiting, the next output line, the
// exit code. The child's output is read as UTF-16LE text.
#pragma once

#include <cstdint>
#include <string>

// One started child; opaque outside the runner. Records live until the tool exits unless
// given back with ReleaseChild.
struct ChildRecord;

// Start flags; they combine.
constexpr uint32_t CHILD_WAIT = 1;          // StartChild returns only after the child ended.
constexpr uint32_t CHILD_HIDE = 2;          // Hidden window; no console without pipes (Windows).
constexpr uint32_t CHILD_OPEN = 4;          // Keep a ChildRecord and return it.
constexpr uint32_t CHILD_READ_OUTPUT = 8;   // With CHILD_OPEN: stdout into a pipe we read.
constexpr uint32_t CHILD_WRITE_INPUT = 16;  // With CHILD_OPEN: stdin from a pipe we hold.
constexpr uint32_t CHILD_READ_ERRORS = 32;  // With CHILD_OPEN: stderr into a pipe we hold.
constexpr uint32_t CHILD_CONNECT = 64;      // Reserved; only forbids the fallback start.

// Exit code reported while the child still runs.
constexpr int32_t CHILD_STILL_ACTIVE = 259;
// Exit code reported when the child's end status could not be learnt (never 0, so that an
// unknown outcome is not taken for success).
constexpr int32_t CHILD_EXIT_UNKNOWN = -1;
// Exit code of a child that StopChild ended (as a shell reports a SIGKILL).
constexpr int32_t CHILD_STOPPED = 128 + 9;

// Sets up the runner once at start-up: the lock around the list of child records; on Linux
// also the default SIGCHLD disposition (an inherited SIG_IGN would make the kernel discard
// the exit status of every child). Calling it again does nothing.
void InitProcessServices();

// Starts program with the parameter text in directory (empty: our current directory).
// The command line is the program in double quotes (unless it already starts with one), a
// space and parameters (no space when parameters is empty). On Windows the child gets that
// text as it is; on Linux it is split into the child's arguments by the same rule as our own
// command line. A relative program path is taken from our current directory, not from the
// child's. The child cannot outlive us: on Linux it is killed (SIGKILL) when the thread that
// started it ends, so start children from the main thread; on Windows it runs in a job object
// that ends it when our process ends, however that happens.
// Gives 0 when no child was started, a record with CHILD_OPEN, else 1. A failed start with
// any pipe or connection flag gives 0 at once and leaves no descriptor or handle open;
// without them it is retried once with the program path unsplit (on Windows through the
// shell) and, when no directory is given, the program's own folder as working directory.
uintptr_t StartChild(const std::u16string& program, const std::u16string& parameters,
                     const std::u16string& directory, uint32_t flags);

// 1 while the child runs, and after its end while output remains to be read (a half
// character held back from the last read included, until the output's end is read); else 0.
// Never blocks. Reaps the child once its end is seen.
int ChildRunning(ChildRecord* record);

// Bytes of output waiting: what the pipe holds plus the text already read but not yet
// returned (a held half character counts as its one byte). Never blocks, never negative.
int32_t ChildOutputAvailable(ChildRecord* record);

// The next line of the child's output without its line break (CR LF, CR or LF). Blocks
// until a break arrives or the output ends; at the end it gives what was gathered, which may
// be empty. A CR whose follower has not arrived yet ends its line at once, so a CR LF whose
// halves arrive apart gives an extra empty line.
std::u16string ReadChildLine(ChildRecord* record);

// Like ReadChildLine, but never blocks: gives 1 and the next line when a whole one has arrived,
// when the output has ended (the text after the last break, if there is any; an empty line
// when half a character follows the last break, as ReadChildLine gives), or when
// CHILD_LINE_LIMIT characters came without a break (given as one line, so a child that never
// ends a line cannot make the text pile up). Else 0, keeping what arrived for the next call.
// Unlike ReadChildLine, a CR LF whose halves arrive apart stays one break.
constexpr size_t CHILD_LINE_LIMIT = 4096;
int TakeChildLine(ChildRecord* record, std::u16string* line);

// Ends a child that still runs (SIGKILL; TerminateProcess on Windows) and waits for its end;
// its exit code is then CHILD_STOPPED. The record stays valid. Nothing happens to a child
// that has ended.
void StopChild(ChildRecord* record);

// The child's exit code: CHILD_STILL_ACTIVE while it runs, 128 + the signal number when a
// signal ended it (Linux), CHILD_EXIT_UNKNOWN when its status is lost. Never blocks.
int32_t ChildExitCode(ChildRecord* record);

// Gives a record back (once, and only one that StartChild made): closes our pipe ends,
// unlinks and frees it. A child that still runs is left to run (on Linux it is reaped by a
// later call into the runner). A null record is ignored.
void ReleaseChild(ChildRecord* record);
