#include "toolkit_test_support.h"

#include <QApplication>
#include <QTest>

void ToolkitTest::SetUp() {
    InitWindows();
    InitControls();
    ASSERT_NE(NewWindow(0, 5, 5, 400, 250, u"Test", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              nullptr);
    Drain();
}

void ToolkitTest::TearDown() {
    FreeControls();
    CloseAllWindows();
}

void ToolkitTest::Activate() {
    QWidget* widget = window();
    widget->activateWindow();
    QApplication::setActiveWindow(widget);
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget));
    Drain();
}

std::vector<int32_t> ToolkitTest::Drain() {
    std::vector<int32_t> codes;
    // A bounded number of rounds: an endless stream would be a fault of its own.
    for (int round = 0; round < 1000; ++round) {
        const int32_t code = PollEvent();
        if (code == EVENT_NONE) return codes;
        codes.push_back(code);
    }
    ADD_FAILURE() << "the event stream never ran dry";
    return codes;
}

bool ToolkitTest::PollUntil(int32_t code, int32_t control) {
    for (int round = 0; round < 1000; ++round) {
        const int32_t taken = PollEvent();
        if (taken == code && (control < 0 || EventControl() == control)) return true;
        if (taken == EVENT_NONE) QTest::qWait(1);
    }
    return false;
}

std::vector<int32_t> ToolkitTest::ReportedControls() {
    std::vector<int32_t> controls;
    for (int round = 0; round < 1000; ++round) {
        const int32_t code = PollEvent();
        if (code == EVENT_NONE) return controls;
        if (code == EVENT_CONTROL) controls.push_back(EventControl());
    }
    ADD_FAILURE() << "the event stream never ran dry";
    return controls;
}
