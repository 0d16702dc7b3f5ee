#include "app/progress_display.h"

#include "app/shell_state.h"
#include "avifile/avi_types.h"
#include "support/text_helpers.h"
#include "ui/window_toolkit.h"

namespace {
constexpr double PERCENT_SCALE = 100.0;
}

std::u16string StatusTextFor(int32_t streamType, int32_t streamIndex) {
    const auto type = static_cast<DWORD>(streamType);
    const char16_t* suffix = type == streamtypeVIDEO   ? u" (Video)"
                             : type == streamtypeAUDIO ? u" (Audio, please wait)"
                                                       : u" (Other, please wait)";
    return u"Processing stream #" + IntToText(streamIndex) + suffix;
}

int32_t ProgressPercentage(int32_t current, int32_t total) {
    // The division comes first: it decides the last digit (97 of 97 gives 99). A total of 0
    // makes the quotient infinite and the product not a number, which truncates to 0.
    return TruncateToInt(PERCENT_SCALE / total * current);
}

int32_t OnProgress(int32_t streamType, int32_t streamIndex, int32_t current, int32_t total) {
    if (current < STATUS_LIMIT) SetControlText(StatusLine, StatusTextFor(streamType, streamIndex));
    SetControlState(ProgressBar, ProgressPercentage(current, total));
    PollEvent();  // the job ignores what the window did meanwhile
    return 0;
}

void WindowProgress::Stream(int32_t type, int32_t index, int32_t current, int32_t total) {
    OnProgress(type, index, current, total);
}

void WindowProgress::CompressorStarted(uint32_t /*processId*/) {
    SetControlText(StatusLine, u"Compressing...");
}

void WindowProgress::Compressing(int32_t percent) {
    SetControlState(ProgressBar, percent);
}

bool WindowProgress::StopAsked() {
    if (PollEvent() != EVENT_CLOSE_WINDOW) return false;
    Shell.QuitRequested = 1;
    return true;
}

void WindowProgress::CompressorEnded(bool stopped) {
    if (!stopped) SetControlText(StatusLine, u"Finished.");
}
