// The tool's one window with its eighteen controls.
#pragma once

#include "ui/window_toolkit.h"

// Title bar, close box and minimise box; no sizing border, no maximise box.
constexpr uint32_t MAIN_WINDOW_FLAGS = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Builds the window at its fixed place, the two path fields filled with the first two
// program parameters. Returns the window's handle, or 0 when it could not be made.
WindowHandleType BuildMainWindow();
