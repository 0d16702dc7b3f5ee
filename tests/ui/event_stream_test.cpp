#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "toolkit_test_support.h"

namespace {

using EventStream = ToolkitTest;

bool Contains(const std::vector<int32_t>& codes, int32_t code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

TEST_F(EventStream, PollOnAnEmptyStreamReturnsNothingAtOnce) {
    Drain();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(PollEvent(), EVENT_NONE);
    EXPECT_LT(timer.elapsed(), 500) << "100 polls must not wait";
}

TEST_F(EventStream, CloseRequestBecomesAnEventAndTheWindowStays) {
    EXPECT_FALSE(window()->close()) << "the toolkit refuses the close itself";
    EXPECT_TRUE(window()->isVisible());
    ASSERT_TRUE(PollUntil(EVENT_CLOSE_WINDOW));
    EXPECT_EQ(EventWindow(), 0);
    EXPECT_TRUE(window()->isVisible());
    // Taken once, it is gone.
    EXPECT_FALSE(Contains(Drain(), EVENT_CLOSE_WINDOW));
}

TEST_F(EventStream, WaitEventReturnsAQueuedEventWithoutWaiting) {
    window()->close();
    QElapsedTimer timer;
    timer.start();
    int32_t code = 0;
    for (int i = 0; i < 50 && code != EVENT_CLOSE_WINDOW; ++i) code = WaitEvent();
    EXPECT_EQ(code, EVENT_CLOSE_WINDOW);
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST_F(EventStream, WaitEventBlocksUntilSomethingHappens) {
    Drain();
    AddButton(2, 10, 190, 90, 50, u"Start");
    QElapsedTimer timer;
    timer.start();
    // A click delivered later through Qt's own event loop ends the wait.
    QTimer::singleShot(150, window(),
                       [this] { QTest::mouseClick(window()->childAt(50, 210), Qt::LeftButton); });
    int32_t code = 0;
    while (code != EVENT_CONTROL && timer.elapsed() < 5000) code = WaitEvent();
    EXPECT_EQ(code, EVENT_CONTROL);
    EXPECT_EQ(EventControl(), 2);
    EXPECT_GE(timer.elapsed(), 100);
}

TEST_F(EventStream, ButtonClickReportsItsNumber) {
    QWidget* button = Widget(AddButton(13, 350, 10, 40, 18, u"..."));
    AddButton(12, 350, 40, 40, 18, u"...");
    Drain();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(PollUntil(EVENT_CONTROL));
    EXPECT_EQ(EventControl(), 13);
    EXPECT_EQ(EventNotification(), NOTIFY_CLICKED);
    EXPECT_EQ(EventWindow(), 0);
    // EventControl keeps its value across other events.
    Drain();
    EXPECT_EQ(EventControl(), 13);
    EXPECT_EQ(EventNotification(), -1) << "reset by every event call";
}

TEST_F(EventStream, CheckBoxIsTickedBeforeItsEventArrives) {
    QWidget* box = Widget(AddCheckBox(5, 245, 90, 130, 20, u"Don't copy video streams"));
    Drain();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, 10));
    ASSERT_TRUE(PollUntil(EVENT_CONTROL, 5));
    EXPECT_EQ(GetControlState(5), 1);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, 10));
    ASSERT_TRUE(PollUntil(EVENT_CONTROL, 5));
    EXPECT_EQ(GetControlState(5), 0);
}

TEST_F(EventStream, ProgramSetStatesRaiseNoEvent) {
    AddCheckBox(5, 245, 90, 130, 20, u"box");
    AddProgressBar(0, 110, 220, 280, 20, 0, 100);
    Drain();
    SetControlState(5, 1);
    SetControlState(0, 50);
    EXPECT_FALSE(Contains(Drain(), EVENT_CONTROL));
}

TEST_F(EventStream, SettingAFieldsTextReportsTheField) {
    AddTextField(15, 90, 10, 250, 18, u"");
    Drain();
    SetControlText(15, u"/tmp/clip.avi");
    EXPECT_EQ(PollEvent(), EVENT_CONTROL);
    EXPECT_EQ(EventControl(), 15);
    EXPECT_EQ(EventNotification(), NOTIFY_TEXT_CHANGED);
}

TEST_F(EventStream, FieldReportsFocusGainedAndLost) {
    QWidget* field = Widget(AddTextField(15, 90, 10, 250, 18, u""));
    QWidget* button = Widget(AddButton(13, 350, 10, 40, 18, u"..."));
    Activate();
    field->setFocus();
    ASSERT_TRUE(PollUntil(EVENT_CONTROL, 15));
    EXPECT_EQ(EventNotification(), FOCUS_GAINED);
    // Clicking the button takes the focus away and clicks it: neither report may be lost.
    QTest::mouseClick(button, Qt::LeftButton);
    std::vector<std::pair<int32_t, int32_t>> reports;
    for (int i = 0; i < 200; ++i) {
        if (PollEvent() == EVENT_CONTROL) reports.emplace_back(EventControl(), EventNotification());
    }
    const auto lost = std::make_pair(15, FOCUS_LOST);
    const auto click = std::make_pair(13, NOTIFY_CLICKED);
    ASSERT_NE(std::find(reports.begin(), reports.end(), lost), reports.end());
    ASSERT_NE(std::find(reports.begin(), reports.end(), click), reports.end());
    EXPECT_LT(std::find(reports.begin(), reports.end(), lost),
              std::find(reports.begin(), reports.end(), click));
}

TEST_F(EventStream, MinimiseAndRestoreAreReported) {
    QWidget* widget = window();
    widget->setWindowState(Qt::WindowMinimized);
    std::vector<int32_t> codes = Drain();
    EXPECT_TRUE(Contains(codes, EVENT_MINIMIZE_WINDOW));
    EXPECT_FALSE(Contains(codes, EVENT_RESTORE_WINDOW));
    widget->setWindowState(Qt::WindowNoState);
    codes = Drain();
    const auto restore = std::find(codes.begin(), codes.end(), EVENT_RESTORE_WINDOW);
    ASSERT_NE(restore, codes.end());
    EXPECT_NE(std::find(restore, codes.end(), EVENT_SIZE_WINDOW), codes.end())
        << "size follows restore";
}

TEST_F(EventStream, NoNamedCodeWithoutItsCause) {
    AddTextField(15, 90, 10, 250, 18, u"");
    AddLabel(17, 10, 10, 70, 20, u"Source:");
    window()->update();
    window()->repaint();
    const std::vector<int32_t> codes = Drain();
    EXPECT_FALSE(Contains(codes, EVENT_CLOSE_WINDOW));
    EXPECT_FALSE(Contains(codes, EVENT_CONTROL));
}

}  // namespace
