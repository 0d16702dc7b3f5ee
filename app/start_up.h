// The tool's life from start to exit: services up, window built, event loop, teardown.
#pragma once

#include <cstdint>

// Resets the shell's record and brings up the window toolkit and the requesters.
void StartUpShell();
// Tears down controls and windows again.
void ShutDownShell();
// StartUpShell, BuildMainWindow, RunEventLoop (skipped when the window could not be
// built), ShutDownShell. Returns the exit code, always 0.
int32_t RunShell();
