// The window tests' eyes inside Wine: run under the same wineserver as the program under
// test, it finds that program's windows and prints what they show, one fact a line, in UTF-8:
//   window_probe main TITLE_PREFIX  the visible top-level window whose title begins so
//   window_probe dialog             the visible dialog (#32770): a message box, a file dialog
//   window_probe list               every visible top-level window: "window CLASS TITLE"
//   window_probe watch TITLE_PREFIX follows that window every 20 ms until it is gone (or for
//                                   ten minutes): each change of a control's text or state
//                                   and each dialog opening or closing, as "MS text ID TEXT",
//                                   "MS state ID N", "MS dialog TITLE" ("MS dialog -" when none
//                                   is left), MS counting from the start; a watcher started in
//                                   the background sees what a probe per look is too slow for
// For a window it prints
//   title TEXT
//   client W H at X Y              client area size and its top-left corner on the screen
//   frame X Y W H                  the whole window on the screen
//   enabled 0|1
//   focus ID                       dialog id of the control with the keyboard focus, or -1
//   control ID CLASS X Y W H       each visible child, in client coordinates
//   text ID TEXT                   each child's text
//   state ID N                     a check box's BM_GETCHECK, a progress bar's PBM_GETPOS
// and for a dialog also "message TEXT": the texts of its labels, which for a message box is
// the message. Control characters in texts are shown as in cat -v (CR LF as ^M^J), so that
// every fact stays on its line. Exit code 1 when no such window is open.
#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& line) {
    std::wstring text;
    for (const wchar_t c : line) {
        if (c < 0x20) {
            text += L'^';
            text += static_cast<wchar_t>(c + 0x40);
        } else {
            text += c;
        }
    }
    text += L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring Number(LONG_PTR value) {
    return std::to_wstring(value);
}

// A message to a window of another process, given up after two seconds: a hung program under
// test makes a test fail, not hang.
bool Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result) {
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 2000, result) !=
           0;
}

// GetWindowTextW reads another process's controls from the server's copy of their titles,
// which an edit field does not keep up to date; WM_GETTEXT asks the control itself.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!Ask(window, WM_GETTEXTLENGTH, 0, 0, &length)) return L"";
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!Ask(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &copied))
        return L"";
    return std::wstring(buffer.data());
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

bool IsCheckBox(HWND control) {
    if (_wcsicmp(ClassOf(control).c_str(), L"Button") != 0) return false;
    const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
           type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

struct Search {
    std::wstring classPrefix;  // empty: any class
    std::wstring titlePrefix;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    if (!IsWindowVisible(window)) return TRUE;
    const std::wstring title = TextOf(window);
    if (!search->classPrefix.empty() && ClassOf(window) != search->classPrefix) return TRUE;
    if (title.compare(0, search->titlePrefix.size(), search->titlePrefix) != 0) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindTopLevel(const std::wstring& className, const std::wstring& titlePrefix) {
    Search search{className, titlePrefix, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

// The text and state facts of each child of `window`, keyed by "text ID" and "state ID".
std::map<std::wstring, std::wstring> ControlFacts(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::map<std::wstring, std::wstring> facts;
    for (HWND child : children) {
        const std::wstring id = Number(GetDlgCtrlID(child));
        facts[L"text " + id] = TextOf(child);
        DWORD_PTR state = 0;
        if (IsCheckBox(child) && Ask(child, BM_GETCHECK, 0, 0, &state))
            facts[L"state " + id] = Number(static_cast<LONG_PTR>(state));
        if (_wcsicmp(ClassOf(child).c_str(), PROGRESS_CLASSW) == 0 &&
            Ask(child, PBM_GETPOS, 0, 0, &state))
            facts[L"state " + id] = Number(static_cast<LONG_PTR>(state));
    }
    return facts;
}

int Watch(const std::wstring& titlePrefix) {
    constexpr DWORD INTERVAL_MS = 20;
    constexpr ULONGLONG LONGEST_MS = 10 * 60 * 1000;
    const ULONGLONG start = GetTickCount64();
    std::map<std::wstring, std::wstring> seen;
    std::wstring dialogSeen;
    bool firstLook = true;
    while (GetTickCount64() - start < LONGEST_MS) {
        const std::vector<HWND> windows = FindTopLevel(L"", titlePrefix);
        if (windows.empty()) break;
        const std::wstring now = Number(static_cast<LONG_PTR>(GetTickCount64() - start)) + L" ";
        for (const auto& [key, value] : ControlFacts(windows.front())) {
            const auto known = seen.find(key);
            if (known != seen.end() && known->second == value) continue;
            seen[key] = value;
            Print(now + key + L" " + value);
        }
        const std::vector<HWND> dialogs = FindTopLevel(L"#32770", L"");
        const std::wstring dialog = dialogs.empty() ? L"-" : TextOf(dialogs.front());
        if (firstLook || dialog != dialogSeen) {
            firstLook = false;
            dialogSeen = dialog;
            Print(now + L"dialog " + dialog);
        }
        Sleep(INTERVAL_MS);
    }
    return 0;
}

void Describe(HWND window, bool isDialog) {
    Print(L"title " + TextOf(window));
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    Print(L"client " + Number(client.right) + L" " + Number(client.bottom) + L" at " +
          Number(origin.x) + L" " + Number(origin.y));
    RECT frame{};
    GetWindowRect(window, &frame);
    Print(L"frame " + Number(frame.left) + L" " + Number(frame.top) + L" " +
          Number(frame.right - frame.left) + L" " + Number(frame.bottom - frame.top));
    Print(L"enabled " + Number(IsWindowEnabled(window) ? 1 : 0));

    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    LONG_PTR focus = -1;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread) &&
        thread.hwndFocus != nullptr && IsChild(window, thread.hwndFocus))
        focus = GetDlgCtrlID(thread.hwndFocus);
    Print(L"focus " + Number(focus));

    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::wstring message;
    for (HWND child : children) {
        if (!IsWindowVisible(child)) continue;
        const LONG_PTR id = GetDlgCtrlID(child);
        const std::wstring className = ClassOf(child);
        RECT box{};
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        Print(L"control " + Number(id) + L" " + className + L" " + Number(box.left) + L" " +
              Number(box.top) + L" " + Number(box.right - box.left) + L" " +
              Number(box.bottom - box.top));
        const std::wstring text = TextOf(child);
        Print(L"text " + Number(id) + L" " + text);
        DWORD_PTR state = 0;
        if (IsCheckBox(child) && Ask(child, BM_GETCHECK, 0, 0, &state))
            Print(L"state " + Number(id) + L" " + Number(static_cast<LONG_PTR>(state)));
        if (_wcsicmp(className.c_str(), PROGRESS_CLASSW) == 0 &&
            Ask(child, PBM_GETPOS, 0, 0, &state))
            Print(L"state " + Number(id) + L" " + Number(static_cast<LONG_PTR>(state)));
        if (isDialog && _wcsicmp(className.c_str(), L"Static") == 0 && !text.empty())
            message += message.empty() ? text : L" " + text;
    }
    if (isDialog) Print(L"message " + message);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"main" && argc == 3) {
        const std::vector<HWND> windows = FindTopLevel(L"", argv[2]);
        if (windows.empty()) return 1;
        Describe(windows.front(), false);
        return 0;
    }
    if (mode == L"dialog" && argc == 2) {
        const std::vector<HWND> windows = FindTopLevel(L"#32770", L"");
        if (windows.empty()) return 1;
        Describe(windows.front(), true);
        return 0;
    }
    if (mode == L"watch" && argc == 3) return Watch(argv[2]);
    if (mode == L"list" && argc == 2) {
        for (HWND window : FindTopLevel(L"", L""))
            Print(L"window " + ClassOf(window) + L" " + TextOf(window));
        return 0;
    }
    Print(L"usage: window_probe main TITLE_PREFIX | dialog | list | watch TITLE_PREFIX");
    return 2;
}
