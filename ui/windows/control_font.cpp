// The font of the controls: the stock GUI font at the window's dpi, made smaller for one
// control only when its fixed text would otherwise be clipped by its fixed size.
#include <windows.h>

#include <map>
#include <string>

#include "ui/windows/toolkit_state.h"

namespace {

// Smaller doubles of a font, by height; they live as long as the process, like the stock font.
HFONT FontOfHeight(HFONT model, LONG height) {
    static std::map<std::pair<HFONT, LONG>, HFONT> made;
    const auto key = std::make_pair(model, height);
    if (auto found = made.find(key); found != made.end()) return found->second;
    LOGFONTW description{};
    GetObjectW(model, sizeof description, &description);
    description.lfHeight = height;
    HFONT font = CreateFontIndirectW(&description);
    made[key] = font;
    return font;
}

// The width the control's text has to itself: what the box, the button's edges or the frame's
// indent leave of the control.
int TextRoom(const ControlRecord& control, UINT dpi) {
    RECT rectangle;
    GetClientRect(control.handle, &rectangle);
    const int width = rectangle.right - rectangle.left;
    const int scale = static_cast<int>(dpi);
    switch (control.kind->code) {
        case 4:  // check box: the box and the gap after it
            return width - GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi) -
                   MulDiv(8, scale, USER_DEFAULT_SCREEN_DPI);
        case 1:  // push button: its raised edges
            return width - MulDiv(8, scale, USER_DEFAULT_SCREEN_DPI);
        case 7:  // frame: the title sits indented in the top edge
            return width - MulDiv(16, scale, USER_DEFAULT_SCREEN_DPI);
        default:
            return width;
    }
}

int TextWidth(HWND control, HFONT font, const std::wstring& text) {
    HDC context = GetDC(control);
    if (context == nullptr) return 0;
    const HGDIOBJ previous = SelectObject(context, font);
    SIZE size{};
    GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(context, previous);
    ReleaseDC(control, context);
    return size.cx;
}

}  // namespace

void FitControlFont(ControlRecord& control, WindowRecord& window) {
    HFONT font = ControlFontFor(window);
    const int code = control.kind->code;
    // Labels wrap their text; text fields scroll it; the bar has none.
    if (code == 1 || code == 4 || code == 7) {
        const int length = GetWindowTextLengthW(control.handle);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        if (length > 0) GetWindowTextW(control.handle, text.data(), length + 1);
        const int room = TextRoom(control, window.dpi);
        LOGFONTW description{};
        GetObjectW(font, sizeof description, &description);
        const LONG sign = description.lfHeight < 0 ? -1 : 1;
        const LONG magnitude = description.lfHeight * sign;
        // At most a quarter smaller: beyond that the text would be too small to read anyway.
        for (LONG smaller = magnitude - 1;
             smaller >= magnitude - magnitude / 4 && TextWidth(control.handle, font, text) > room;
             --smaller) {
            font = FontOfHeight(ControlFontFor(window), smaller * sign);
        }
    }
    SendMessageW(control.handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
