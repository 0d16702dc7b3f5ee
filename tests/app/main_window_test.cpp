#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "app/browse_actions.h"
#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/shell_state.h"
#include "app/start_up.h"
#include "support/program_parameters.h"
#include "ui/linux/control_font.h"
#include "ui/linux/toolkit_state.h"
#include "ui/requester_test_seam.h"
#include "ui/window_toolkit.h"

namespace {

struct Expected {
    int32_t number;
    const char* kind;
    QRect geometry;
    const char16_t* text;
};

// The window's layout, in creation order.
const std::vector<Expected> LAYOUT = {
    {17, "QLabel", {10, 10, 70, 20}, u"Source:"},
    {16, "QLabel", {10, 40, 70, 18}, u"Destination:"},
    {15, "QLineEdit", {90, 10, 250, 18}, u"/tmp/a b/in.avi"},
    {14, "QLineEdit", {90, 40, 250, 20}, u"out.avi"},
    {13, "QPushButton", {350, 10, 40, 18}, u"..."},
    {12, "QPushButton", {350, 40, 40, 18}, u"..."},
    {11, "QGroupBox", {10, 70, 380, 110}, u"Options"},
    {9, "QLabel", {20, 90, 70, 18}, u"Width:"},
    {8, "QLabel", {20, 120, 70, 18}, u"Height:"},
    {7, "QLineEdit", {100, 90, 130, 18}, u""},
    {6, "QLineEdit", {100, 120, 130, 18}, u""},
    {10, "QCheckBox", {20, 150, 130, 20}, u"Anti aliasing"},
    {5, "QCheckBox", {245, 90, 130, 20}, u"Don't copy video streams"},
    {4, "QCheckBox", {245, 120, 130, 20}, u"Don't copy audio streams"},
    {3, "QCheckBox", {245, 150, 130, 20}, u"Don't copy other streams"},
    {2, "QPushButton", {10, 190, 90, 50}, u"Start"},
    {1, "QLineEdit", {110, 190, 280, 20}, u""},
    {0, "QProgressBar", {110, 220, 280, 20}, u""},
};

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        char program[] = "reframe";
        char source[] = "/tmp/a b/in.avi";
        char destination[] = "out.avi";
        char* argv[] = {program, source, destination, nullptr};
        SetProgramArguments(3, argv);
        parametersTaken = 0;
        StartUpShell();
        window = static_cast<QWidget*>(BuildMainWindow());
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        SetRequesterOverrideForTests(nullptr, nullptr);
        ShutDownShell();
    }
    static QWidget* Control(int32_t number) { return FindControl(number)->handle; }
    QWidget* window = nullptr;
};

TEST_F(MainWindow, WindowIsTheFixedSizeAtTheFixedPlace) {
    EXPECT_EQ(window, WindowHandle(MAIN_WINDOW));
    EXPECT_EQ(window->size(), QSize(400, 250));
    EXPECT_EQ(window->maximumSize(), QSize(400, 250));
    EXPECT_EQ(window->pos(), QPoint(5, 5));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Reframe " REFRAME_VERSION));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainWindow, EighteenControlsWithTheirPlacesTextsAndOrder) {
    uint64_t previousOrder = 0;
    for (const Expected& expected : LAYOUT) {
        SCOPED_TRACE(expected.number);
        const ControlRecord* record = FindControl(expected.number);
        ASSERT_NE(record, nullptr);
        EXPECT_STREQ(record->handle->metaObject()->className(), expected.kind);
        EXPECT_EQ(record->handle->geometry(), expected.geometry);
        EXPECT_EQ(GetControlText(expected.number), expected.text);
        EXPECT_EQ(GetControlState(expected.number), 0);
        EXPECT_GT(record->creationOrder, previousOrder);
        previousOrder = record->creationOrder;
    }
    for (int32_t number = 18; number < 50; ++number) EXPECT_EQ(FindControl(number), nullptr);
}

TEST_F(MainWindow, FlagsOfTheSpecialControls) {
    EXPECT_TRUE(qobject_cast<QLineEdit*>(Control(1))->isReadOnly());
    EXPECT_TRUE(qobject_cast<QPushButton*>(Control(2))->isDefault());
    EXPECT_FALSE(qobject_cast<QPushButton*>(Control(2))->autoDefault());
    EXPECT_FALSE(qobject_cast<QPushButton*>(Control(13))->isDefault());
    EXPECT_TRUE(Control(7)->property(DIGITS_ONLY_PROPERTY).toBool());
    EXPECT_TRUE(Control(6)->property(DIGITS_ONLY_PROPERTY).toBool());
    EXPECT_FALSE(Control(15)->property(DIGITS_ONLY_PROPERTY).toBool());
    auto* bar = qobject_cast<QProgressBar*>(Control(0));
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
}

TEST_F(MainWindow, EveryTextIsWhollyVisible) {
    for (const Expected& expected : LAYOUT) {
        QWidget* control = Control(expected.number);
        if (qobject_cast<QProgressBar*>(control) != nullptr) continue;
        EXPECT_EQ(TextFitsControl(control, control->font()), 1)
            << "control " << expected.number << " clips its text at " << control->font().pixelSize()
            << " px";
        EXPECT_GE(control->font().pixelSize(), 10)
            << "control " << expected.number << " is hard to read";
    }
}

TEST_F(MainWindow, WithoutParametersThePathFieldsAreEmpty) {
    ShutDownShell();
    char program[] = "reframe";
    char* argv[] = {program, nullptr};
    SetProgramArguments(1, argv);
    parametersTaken = 0;
    StartUpShell();
    ASSERT_NE(BuildMainWindow(), nullptr);
    EXPECT_EQ(GetControlText(SourceField), u"");
    EXPECT_EQ(GetControlText(DestinationField), u"");
}

std::vector<FileRequest> requests;
std::u16string answer;
std::u16string Answer(const FileRequest& request) {
    requests.push_back(request);
    return answer;
}

TEST_F(MainWindow, BrowseButtonsFillTheirFieldsFromTheRequester) {
    requests.clear();
    SetRequesterOverrideForTests(Answer, nullptr);
    answer = u"/videos/picked.avi";
    BrowseSource();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].save, 0);
    EXPECT_EQ(requests[0].title, u"Source");
    EXPECT_EQ(requests[0].folder, u"/tmp/a b");
    EXPECT_EQ(requests[0].fileName, u"in.avi");
    EXPECT_EQ(requests[0].selectedFilter, 0);
    EXPECT_EQ(requests[0].nameFilters.size(), 2u);
    EXPECT_EQ(GetControlText(SourceField), u"/videos/picked.avi");
    EXPECT_EQ(Shell.SourcePath, u"/videos/picked.avi");

    answer = u"/videos/result.avi";
    BrowseDestination();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].save, 1);
    EXPECT_EQ(requests[1].title, u"Destination");
    EXPECT_EQ(requests[1].fileName, u"out.avi");
    EXPECT_EQ(GetControlText(DestinationField), u"/videos/result.avi");
}

TEST_F(MainWindow, CancelledRequesterLeavesTheFieldButClearsThePath) {
    SetRequesterOverrideForTests(Answer, nullptr);
    answer = u"";
    Shell.SourcePath = u"stale";
    BrowseSource();
    EXPECT_EQ(GetControlText(SourceField), u"/tmp/a b/in.avi");
    EXPECT_EQ(Shell.SourcePath, u"");
    BrowseDestination();
    EXPECT_EQ(GetControlText(DestinationField), u"out.avi");
}

TEST_F(MainWindow, LoopRunsTheBrowseButtonAndEndsOnTheCloseBox) {
    requests.clear();
    SetRequesterOverrideForTests(Answer, nullptr);
    answer = u"/videos/from-loop.avi";
    // Queued up front: a typed key in a field, a browse click, then the close box.
    QMetaObject::invokeMethod(Control(SourceBrowseButton), "click", Qt::QueuedConnection);
    QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
    RunEventLoop();
    EXPECT_EQ(Shell.QuitRequested, 1);
    EXPECT_EQ(Shell.LastEvent, EVENT_CLOSE_WINDOW);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(GetControlText(SourceField), u"/videos/from-loop.avi");
    EXPECT_TRUE(window->isVisible()) << "closing is the shutdown's business";
}

}  // namespace
