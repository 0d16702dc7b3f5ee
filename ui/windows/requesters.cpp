// The three modal dialogs on Windows: comdlg32's Open and Save dialogs and a one-button
// MessageBoxW. While one is up, the calling thread's other windows are disabled.
#include "ui/requesters.h"

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "ui/file_request.h"
#include "ui/requester_test_seam.h"

namespace {

FileRequesterOverride fileOverride = nullptr;
MessageRequesterOverride messageOverride = nullptr;

// Room for the longest path Windows knows (the program declares long paths), so a name chosen
// deep in a folder tree comes back whole instead of failing the dialog like a cancel.
constexpr DWORD FILE_BUFFER_CHARS = 32768;
// Open and save alike: names only in folders that exist, no question before an existing file
// is chosen, no added extension, the process's current folder left alone, no read-only box.
constexpr DWORD REQUESTER_FLAGS =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;

struct DisabledWindow {
    DWORD thread;
    HWND window;
};
// Shared by the process; each thread enables again only what it disabled itself.
std::mutex disabledLock;
std::vector<DisabledWindow> disabledWindows;

const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The foreground window, when it is one of this process's: the dialog opens over it.
HWND DialogOwner() {
    HWND foreground = GetForegroundWindow();
    if (foreground == nullptr) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : nullptr;
}

BOOL CALLBACK DisableIfOurs(HWND window, LPARAM foreground) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId() &&
        IsWindowVisible(window) && IsWindowEnabled(window) &&
        window != reinterpret_cast<HWND>(foreground)) {
        EnableWindow(window, FALSE);
        const std::lock_guard<std::mutex> hold(disabledLock);
        disabledWindows.push_back(DisabledWindow{GetCurrentThreadId(), window});
    }
    return TRUE;
}

// The foreground window is left enabled: when it owns the dialog, the platform's modal handling
// keeps it from taking input; every other window of the thread is disabled here.
void DisableOtherWindows() {
    EnumWindows(DisableIfOurs, reinterpret_cast<LPARAM>(GetForegroundWindow()));
}

void EnableOtherWindows() {
    std::vector<HWND> ours;
    {
        const std::lock_guard<std::mutex> hold(disabledLock);
        const DWORD thread = GetCurrentThreadId();
        for (auto entry = disabledWindows.begin(); entry != disabledWindows.end();) {
            if (entry->thread == thread) {
                ours.push_back(entry->window);
                entry = disabledWindows.erase(entry);
            } else {
                ++entry;
            }
        }
    }
    for (HWND window : ours) EnableWindow(window, TRUE);
}

// The platform's filter list: the items one after another, each ending in a zero, and one
// more zero at the end.
std::wstring FilterList(const std::vector<std::u16string>& items) {
    std::wstring list;
    for (const std::u16string& item : items) {
        list.append(item.begin(), item.end());
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

std::u16string AskFile(int32_t save, const std::u16string& title, const std::u16string& defaultPath,
                       const std::u16string& pattern, int32_t position) {
    const FileRequest request = PrepareFileRequest(save, title, defaultPath, pattern, position);
    if (fileOverride != nullptr) return fileOverride(request);

    std::wstring fileBuffer(FILE_BUFFER_CHARS, L'\0');
    const size_t nameLength = std::min<size_t>(request.fileName.size(), FILE_BUFFER_CHARS - 1);
    std::copy_n(request.fileName.begin(), nameLength, fileBuffer.begin());
    const std::wstring filters = FilterList(request.nameFilters);
    const std::wstring folder(request.folder.begin(), request.folder.end());

    OPENFILENAMEW record{};
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    record.hwndOwner = DialogOwner();
    record.lpstrFilter = request.nameFilters.empty() ? nullptr : filters.c_str();
    record.nFilterIndex = static_cast<DWORD>(request.selectedFilter + 1);
    record.lpstrFile = fileBuffer.data();
    record.nMaxFile = FILE_BUFFER_CHARS;
    // Without a default path the platform picks the starting folder.
    record.lpstrInitialDir = defaultPath.empty() ? nullptr : folder.c_str();
    record.lpstrTitle = AsWide(request.title);
    record.Flags = REQUESTER_FLAGS;

    DisableOtherWindows();
    const BOOL chosen = request.save ? GetSaveFileNameW(&record) : GetOpenFileNameW(&record);
    EnableOtherWindows();
    if (!chosen) return std::u16string();
    const size_t length = fileBuffer.find(L'\0');
    return std::u16string(fileBuffer.begin(),
                          fileBuffer.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

void SetRequesterOverrideForTests(FileRequesterOverride files, MessageRequesterOverride messages) {
    fileOverride = files;
    messageOverride = messages;
}

void InitRequesters() {
    InitCommonControls();
    // The Explorer-style dialogs are COM objects inside comdlg32; they need COM on the thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}

std::u16string AskOpenFile(const std::u16string& title, const std::u16string& defaultPath,
                           const std::u16string& pattern, int32_t position) {
    return AskFile(0, title, defaultPath, pattern, position);
}

std::u16string AskSaveFile(const std::u16string& title, const std::u16string& defaultPath,
                           const std::u16string& pattern, int32_t position) {
    return AskFile(1, title, defaultPath, pattern, position);
}

int32_t ShowMessage(const std::u16string& title, const std::u16string& text) {
    if (messageOverride != nullptr) return messageOverride(title, text);
    DisableOtherWindows();
    const int result = MessageBoxW(DialogOwner(), AsWide(text), AsWide(title), MB_OK);
    EnableOtherWindows();
    return result;
}
