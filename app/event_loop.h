// The shell's event loop: waits for events and runs the three buttons' actions until the
// window's close box is used.
#pragma once

void RunEventLoop();
