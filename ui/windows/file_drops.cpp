// Files dragged from Explorer (or, under Wine, from any X program) onto a toolkit window: the
// drop becomes one EVENT_DROP_FILES naming the first file and the control under the pointer.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <utility>

#include "ui/window_toolkit.h"
#include "ui/windows/toolkit_state.h"

namespace {

// The number of the control of window `number` under the client point, -1 for the window's
// own area. The frame holds other controls: a drop on its background is a drop on the window.
int32_t ControlUnder(int32_t number, POINT point) {
    const std::vector<ControlRecord>& controls = Toolkit().controls;
    for (size_t slot = 0; slot < controls.size(); ++slot) {
        const ControlRecord& control = controls[slot];
        if (control.handle == nullptr || control.window != number || control.kind->code == 7)
            continue;
        RECT rectangle;
        GetWindowRect(control.handle, &rectangle);
        MapWindowPoints(nullptr, GetParent(control.handle), reinterpret_cast<POINT*>(&rectangle),
                        2);
        if (PtInRect(&rectangle, point)) return static_cast<int32_t>(slot);
    }
    return -1;
}

}  // namespace

void HandleDroppedFiles(int32_t window, HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::u16string file;
    if (count > 0) {
        const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
        std::wstring name(length, L'\0');
        DragQueryFileW(drop, 0, name.data(), length + 1);
        file.assign(name.begin(), name.end());
    }
    POINT point{};
    DragQueryPoint(drop, &point);
    DragFinish(drop);
    if (file.empty() || window < 0) return;
    RaiseFileDrop(window, FileDrop{std::move(file), ControlUnder(window, point)});
}
