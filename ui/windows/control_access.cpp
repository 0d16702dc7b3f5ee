// Reading and writing the text and the state of a numbered control. The values live in the
// platform controls themselves; the toolkit keeps no copy.
#include <windows.h>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

std::u16string GetControlText(int32_t number) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr) return std::u16string();
    const int length = GetWindowTextLengthW(record->handle);
    if (length <= 0) return std::u16string();
    std::u16string text(static_cast<size_t>(length), u'\0');
    // The buffer has room for the terminator that the platform writes after the text.
    const int copied =
        GetWindowTextW(record->handle, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

void SetControlText(int32_t number, const std::u16string& text) {
    ControlRecord* record = FindControl(number);
    if (record == nullptr) return;
    // A text field reports the change itself (EVENT_CONTROL with its number).
    SetWindowTextW(record->handle, reinterpret_cast<const wchar_t*>(text.c_str()));
    // A new text may need a smaller font to fit; the control may have gone with a report.
    record = FindControl(number);
    WindowRecord* window = record != nullptr ? FindWindowRecord(record->window) : nullptr;
    if (window != nullptr && record->kind->code != 2) FitControlFont(*record, *window);
}

int32_t GetControlState(int32_t number) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr || record->kind->readState == nullptr) return 0;
    return record->kind->readState(record->handle);
}

void SetControlState(int32_t number, int32_t value) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr || record->kind->writeState == nullptr) return;
    record->kind->writeState(record->handle, value);
}
