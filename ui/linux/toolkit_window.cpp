#include "ui/linux/toolkit_window.h"

#include <QCloseEvent>
#include <QEvent>

#include "ui/linux/toolkit_state.h"
#include "ui/window_toolkit.h"

ToolkitWindow::ToolkitWindow(int32_t number, Qt::WindowFlags flags)
    : QWidget(nullptr, flags), number_(number) {
    setProperty(WINDOW_NUMBER_PROPERTY, number);
    // Files dropped on the background, a label or a button land on the window itself.
    setAcceptDrops(true);
}

bool ToolkitWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) RaiseWindowEvent(EVENT_ACTIVATE_WINDOW, number_);
    return QWidget::event(event);
}

// The close box, the window menu's Close and Alt+F4 only ask: whether the window goes is
// the caller's decision, so the request becomes an event and the window stays.
void ToolkitWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    RaiseWindowEvent(EVENT_CLOSE_WINDOW, number_);
}

void ToolkitWindow::moveEvent(QMoveEvent* event) {
    RaiseWindowEvent(EVENT_MOVE_WINDOW, number_);
    QWidget::moveEvent(event);
}

void ToolkitWindow::resizeEvent(QResizeEvent* event) {
    RaiseWindowEvent(EVENT_SIZE_WINDOW, number_);
    QWidget::resizeEvent(event);
}

void ToolkitWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        WindowRecord& record = Toolkit().windows[static_cast<size_t>(number_)];
        const Qt::WindowStates states = windowState();
        if (states & Qt::WindowMinimized) {
            record.minimizedOrMaximized = true;
            RaiseWindowEvent(EVENT_MINIMIZE_WINDOW, number_);
        } else if (states & Qt::WindowMaximized) {
            record.minimizedOrMaximized = true;
            RaiseWindowEvent(EVENT_MAXIMIZE_WINDOW, number_);
            RaiseWindowEvent(EVENT_SIZE_WINDOW, number_);
        } else if (record.minimizedOrMaximized) {
            record.minimizedOrMaximized = false;
            RaiseWindowEvent(EVENT_RESTORE_WINDOW, number_);
            RaiseWindowEvent(EVENT_SIZE_WINDOW, number_);
        }
    }
    QWidget::changeEvent(event);
}

void ToolkitWindow::paintEvent(QPaintEvent* event) {
    RaiseWindowEvent(EVENT_REPAINT, number_);
    QWidget::paintEvent(event);
}
