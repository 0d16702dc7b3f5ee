// Start-up of the window system and the numbered top-level windows.
#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdlib>

#include "ui/linux/toolkit_state.h"
#include "ui/linux/toolkit_window.h"
#include "ui/window_toolkit.h"

namespace {

// Qt keeps references to argc and argv for the application's whole life.
int qtArgumentCount = 1;
char qtProgramName[] = "reframe";
char* qtArguments[] = {qtProgramName, nullptr};

// Bits that the Windows toolkit reads as its own options; they never select a window style.
constexpr uint32_t TOOLKIT_OPTION_BITS = 0x1 | 0x2 | 0x8 | 0x10000000;

Qt::WindowFlags WindowFlagsFor(uint32_t flags) {
    uint32_t styles = flags & ~TOOLKIT_OPTION_BITS;
    if (styles == 0) styles = WS_CAPTION;
    Qt::WindowFlags qtFlags = Qt::Window | Qt::CustomizeWindowHint;
    if (styles & WS_CAPTION) qtFlags |= Qt::WindowTitleHint;
    if (styles & WS_SYSMENU) qtFlags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (styles & WS_MINIMIZEBOX) qtFlags |= Qt::WindowMinimizeButtonHint;
    if (styles & WS_MAXIMIZEBOX) qtFlags |= Qt::WindowMaximizeButtonHint;
    return qtFlags;
}

}  // namespace

ToolkitState& Toolkit() {
    static ToolkitState state;
    return state;
}

int32_t WindowSystemAvailable() {
    const char* names[] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return 1;
    }
    return 0;
}

// Held here for the rest of the process, never deleted (see InitWindows).
static QApplication* theApplication = nullptr;

void InitWindows() {
    // The application object lives until the process ends; it is never destroyed, because
    // Qt's own global data may already be gone when static destructors run.
    if (QApplication::instance() == nullptr) {
        QApplication::setApplicationName(QStringLiteral("Reframe"));
        theApplication = new QApplication(qtArgumentCount, qtArguments);
        // The windows stay open until the caller disposes of them, whatever the user does.
        QApplication::setQuitOnLastWindowClosed(false);
        InstallKeyboardRules();
        InstallDropRules();
    }
    ToolkitState& state = Toolkit();
    state.windows.assign(INITIAL_WINDOW_SLOTS, WindowRecord{});
    state.events = PlatformEvents{};
    state.controlParent = -1;
}

void SetProgramIdentity(const std::u16string& applicationId, const std::u16string& iconFolder) {
    QGuiApplication::setDesktopFileName(QString::fromStdU16String(applicationId));
    QIcon icon;
    const QDir folder(QString::fromStdU16String(iconFolder));
    for (const QString& name : folder.entryList({QStringLiteral("*.png")}, QDir::Files))
        icon.addFile(folder.filePath(name));
    if (!icon.isNull()) QApplication::setWindowIcon(icon);
}

int32_t WindowNumberOf(const QWidget* widget) {
    for (; widget != nullptr; widget = widget->parentWidget()) {
        const QVariant mark = widget->property(WINDOW_NUMBER_PROPERTY);
        if (mark.isValid()) return mark.toInt();
        // A dialog is a window of its own even when one of ours is its parent: its keys (Return
        // on OK, Tab between its fields) must keep the dialog's own rules.
        if (widget->isWindow()) return -1;
    }
    return -1;
}

ToolkitWindow* FindWindow(int32_t number) {
    ToolkitState& state = Toolkit();
    if (number < 0 || static_cast<size_t>(number) >= state.windows.size()) return nullptr;
    return state.windows[static_cast<size_t>(number)].handle.data();
}

WindowHandleType NewWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const std::u16string& title, uint32_t flags) {
    if (number < 0 || QApplication::instance() == nullptr) return nullptr;
    ToolkitState& state = Toolkit();
    if (FindWindow(number) != nullptr) DisposeWindow(number);
    const size_t slot = static_cast<size_t>(number);
    if (slot >= state.windows.size()) state.windows.resize(slot + INITIAL_WINDOW_SLOTS);
    state.windows[slot] = WindowRecord{};

    const uint32_t styles = flags & ~TOOLKIT_OPTION_BITS;
    auto* window = new ToolkitWindow(number, WindowFlagsFor(flags));
    window->setWindowTitle(QString::fromStdU16String(title));
    // The size given is the client area's; Qt's widget size is exactly that.
    if (styles & WS_THICKFRAME) {
        window->resize(width, height);
    } else {
        window->setFixedSize(width, height);
    }
    // For a top-level widget Qt's position is that of the outer frame, title bar included.
    window->move(x, y);
    state.windows[slot].handle = window;
    window->show();
    state.controlParent = number;
    return window;
}

WindowHandleType WindowHandle(int32_t number) {
    return FindWindow(number);
}

int32_t BeginControls(WindowHandleType) {
    // NewWindow has already made its window the parent of the controls that follow.
    return 1;
}

void DisposeWindow(int32_t number) {
    ToolkitWindow* window = FindWindow(number);
    if (window == nullptr) return;
    ToolkitState& state = Toolkit();
    // The controls go with their window; their numbers become free.
    for (ControlRecord& record : state.controls) {
        if (record.handle != nullptr && record.window == number) record = ControlRecord{};
    }
    state.windows[static_cast<size_t>(number)] = WindowRecord{};
    if (state.controlParent == number) state.controlParent = -1;
    delete window;
}

void CloseAllWindows() {
    ToolkitState& state = Toolkit();
    for (size_t number = 0; number < state.windows.size(); ++number) {
        DisposeWindow(static_cast<int32_t>(number));
    }
    state.events = PlatformEvents{};
}
