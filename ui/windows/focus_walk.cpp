// The Tab walk: Tab and Shift+Tab move the keyboard focus through the active window's
// enabled, visible tab-stop controls in the order Windows lists its children, which for the
// toolkit's windows is the order of creation.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "ui/windows/toolkit_state.h"

namespace {

BOOL CALLBACK CollectCandidate(HWND child, LPARAM list) {
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    if ((style & WS_TABSTOP) != 0 && IsWindowVisible(child) && IsWindowEnabled(child))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

}  // namespace

void FocusNextControl(bool forward) {
    HWND active = GetActiveWindow();
    if (active == nullptr) return;
    std::vector<HWND> candidates;
    EnumChildWindows(active, CollectCandidate, reinterpret_cast<LPARAM>(&candidates));
    if (candidates.empty()) return;
    HWND focus = GetFocus();
    const bool inside = focus != nullptr && IsChild(active, focus);
    const auto at =
        inside ? std::find(candidates.begin(), candidates.end(), focus) : candidates.end();
    if (forward) {
        if (!inside) {
            SetFocus(candidates.front());
        } else if (at != candidates.end()) {
            SetFocus(std::next(at) == candidates.end() ? candidates.front() : *std::next(at));
        }
        // A focused control that is no candidate (a label cannot be one) keeps the focus.
    } else {
        if (!inside || at == candidates.end() || at == candidates.begin()) {
            SetFocus(candidates.back());
        } else {
            SetFocus(*std::prev(at));
        }
    }
}
