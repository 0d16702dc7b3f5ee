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
