// The shell's one process-wide record and the numbers of the main window and its controls.
#pragma once

#include <cstdint>
#include <string>

#include "avi/avi_file_record.h"

// Heap and module handles have no counterpart here: memory goes back through the owners of
// each block, and the executable's path comes from OwnExecutablePath.
struct ShellState {
    std::u16string SourcePath;
    std::u16string DestinationPath;
    int32_t QuitRequested = 0;
    int32_t LastEvent = 0;
    int32_t LastEventControl = 0;
    uint32_t JobOptions = 0;
    AviFileRecord SourceRecord;
    AviFileRecord DestinationRecord;
};

extern ShellState Shell;

constexpr int32_t MAIN_WINDOW = 0;

// Control numbers of the main window.
enum ShellControl : int32_t {
    ProgressBar = 0,
    StatusLine = 1,
    StartButton = 2,
    NoOtherStreamsBox = 3,
    NoAudioStreamsBox = 4,
    NoVideoStreamsBox = 5,
    HeightField = 6,
    WidthField = 7,
    HeightLabel = 8,
    WidthLabel = 9,
    AntiAliasingBox = 10,
    OptionsFrame = 11,
    DestinationBrowseButton = 12,
    SourceBrowseButton = 13,
    DestinationField = 14,
    SourceField = 15,
    DestinationLabel = 16,
    SourceLabel = 17,
};
