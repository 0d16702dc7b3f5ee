// Shared set-up for the toolkit tests on Qt's offscreen platform: a fresh toolkit and one
// window per test, and helpers that read the event stream the way the shell does.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>

#include <ostream>

#include <vector>

#include "ui/window_toolkit.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class ToolkitTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    static QWidget* Widget(WindowHandleType handle) { return static_cast<QWidget*>(handle); }
    QWidget* window() const { return Widget(WindowHandle(0)); }
    // Makes window 0 the active window, as the window manager does when it is clicked.
    void Activate();
    // Takes events with PollEvent until nothing is left; returns the codes taken.
    std::vector<int32_t> Drain();
    // Takes events until `code` (for `control`, when one is given) arrives; false if it
    // never does.
    bool PollUntil(int32_t code, int32_t control = -1);
    // Drains the stream and returns the control number of every EVENT_CONTROL in it.
    std::vector<int32_t> ReportedControls();
};
