// The real Windows dialogs, answered from a second thread the way a person would: the box's
// text is read and OK pressed; a name is typed into the file dialog and confirmed.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "ui/requesters.h"
#include "ui/window_toolkit.h"

namespace {

// The dialog of this process that is up, or null after five seconds without one.
HWND WaitForDialog() {
    struct Search {
        HWND found = nullptr;
    } search;
    for (int i = 0; i < 500 && search.found == nullptr; ++i) {
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                wchar_t name[16] = {};
                GetClassNameW(window, name, 16);
                if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
                    std::wstring(name) == L"#32770") {
                    reinterpret_cast<Search*>(data)->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) Sleep(10);
    }
    return search.found;
}

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

class WindowsRequestersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitWindows();
        InitControls();
        InitRequesters();
        ASSERT_NE(NewWindow(0, 5, 5, 400, 250, u"Owner", WS_CAPTION | WS_SYSMENU), nullptr);
        ASSERT_NE(NewWindow(1, 200, 200, 100, 80, u"Other", WS_CAPTION), nullptr);
        owner = static_cast<HWND>(WindowHandle(0));
        other = static_cast<HWND>(WindowHandle(1));
        SetForegroundWindow(owner);
        SetActiveWindow(owner);
        while (PollEvent() != EVENT_NONE) {
        }
    }
    void TearDown() override {
        FreeControls();
        CloseAllWindows();
    }
    HWND owner = nullptr;
    HWND other = nullptr;
};

TEST_F(WindowsRequestersTest, MessageBoxShowsItsLineWithOneOkAndBlocksTheOtherWindows) {
    std::wstring title, text;
    std::atomic<bool> otherDisabled{false};
    std::thread person([&] {
        HWND box = WaitForDialog();
        if (box == nullptr) return;
        title = TextOf(box);
        text = TextOf(GetDlgItem(box, 0xFFFF));
        otherDisabled = !IsWindowEnabled(other);
        // One button only: OK. Cancel and the others do not exist.
        EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
        EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    const int32_t result = ShowMessage(u"ERROR", u"Couldn't open the source file!");
    person.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(title, L"ERROR");
    EXPECT_EQ(text, L"Couldn't open the source file!");
    EXPECT_TRUE(otherDisabled) << "a window of the tool that is not in front is disabled";
    EXPECT_TRUE(IsWindowEnabled(other)) << "and enabled again afterwards";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

class FileDialogTest : public WindowsRequestersTest {
  protected:
    // Answers the next file dialog: notes the name it starts with, types `typed` into its
    // name field (nothing for a cancel) and confirms.
    std::thread Answer(const std::wstring& typed, std::wstring& startName) {
        return std::thread([this, typed, &startName] {
            HWND dialog = WaitForDialog();
            if (dialog == nullptr) return;
            // The name field: the edit inside the name combo box (1148, a ComboBoxEx32 that
            // holds a ComboBox that holds the edit), or the plain edt1 (1152).
            HWND name = nullptr;
            if (HWND combo = GetDlgItem(dialog, 1148)) {
                EnumChildWindows(
                    combo,
                    [](HWND child, LPARAM found) -> BOOL {
                        wchar_t className[16] = {};
                        GetClassNameW(child, className, 16);
                        if (std::wstring(className) != L"Edit") return TRUE;
                        *reinterpret_cast<HWND*>(found) = child;
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&name));
            }
            if (name == nullptr) name = GetDlgItem(dialog, 1152);
            if (name != nullptr) startName = TextOf(name);
            if (typed.empty()) {
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            // A dialog that stays (it did not take the name, or asks a question) is cancelled,
            // so the test fails instead of hanging.
            for (int i = 0; i < 500 && IsWindow(dialog); ++i) Sleep(10);
            if (IsWindow(dialog)) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        });
    }
};

TEST_F(FileDialogTest, OpenTakesATypedNameThatDoesNotExistAndStartsWithTheDefaultName) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / L"requester \u03b1";
    std::filesystem::create_directories(folder);
    const std::wstring wanted = (folder / L"not there yet.avi").wstring();
    std::wstring startName;
    std::thread person = Answer(wanted, startName);
    const std::u16string folder16 = folder.u16string();
    const std::u16string chosen =
        AskOpenFile(u"Source", folder16 + u"\\clip.avi", u"AVI|*.avi|All Files|*.*", 0);
    person.join();
    EXPECT_EQ(startName, L"clip.avi");
    EXPECT_EQ(chosen, std::u16string(wanted.begin(), wanted.end()));
    EXPECT_TRUE(IsWindowEnabled(other));
    std::filesystem::remove_all(folder);
}

TEST_F(FileDialogTest, SaveAddsNoExtensionAndAsksNothingAndCancelGivesNothing) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / L"requester save";
    std::filesystem::create_directories(folder);
    const std::filesystem::path existing = folder / L"exists.avi";
    CloseHandle(
        CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);

    std::wstring startName;
    const std::wstring bare = (folder / L"no extension").wstring();
    std::thread person = Answer(bare, startName);
    std::u16string chosen = AskSaveFile(u"Destination", u"", u"AVI|*.avi|All Files|*.*", 0);
    person.join();
    EXPECT_EQ(startName, L"");
    EXPECT_EQ(chosen, std::u16string(bare.begin(), bare.end()));

    // An existing file is taken without a question (a question would leave a second dialog).
    person = Answer(existing.wstring(), startName);
    chosen = AskSaveFile(u"Destination", u"", u"AVI|*.avi|All Files|*.*", 0);
    person.join();
    EXPECT_EQ(chosen, existing.u16string());

    person = Answer(L"", startName);
    chosen = AskSaveFile(u"Destination", existing.u16string(), u"AVI|*.avi|All Files|*.*", 0);
    person.join();
    EXPECT_EQ(startName, L"exists.avi");
    EXPECT_EQ(chosen, u"");

    wchar_t after[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(after, before) << "the dialogs leave the current folder alone";
    std::filesystem::remove_all(folder);
}

}  // namespace
