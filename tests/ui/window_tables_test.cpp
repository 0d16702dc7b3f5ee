#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "toolkit_test_support.h"
#include "ui/linux/toolkit_state.h"

namespace {

using WindowTables = ToolkitTest;

TEST_F(WindowTables, ClientAreaIsTheGivenSizeAndCannotBeResized) {
    QWidget* widget = window();
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(widget->size(), QSize(400, 250));
    EXPECT_EQ(widget->minimumSize(), QSize(400, 250));
    EXPECT_EQ(widget->maximumSize(), QSize(400, 250));
    EXPECT_EQ(widget->windowTitle(), QStringLiteral("Test"));
    const Qt::WindowFlags flags = widget->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(WindowTables, ControlTableGrowsToTheNumberPlusFifty) {
    EXPECT_EQ(Toolkit().controls.size(), 50u);
    ASSERT_NE(AddLabel(49, 0, 0, 50, 20, u"last of the first"), nullptr);
    EXPECT_EQ(Toolkit().controls.size(), 50u);
    ASSERT_NE(AddLabel(120, 0, 0, 50, 20, u"far"), nullptr);
    EXPECT_EQ(Toolkit().controls.size(), 170u);
    EXPECT_EQ(GetControlText(49), u"last of the first");
    EXPECT_EQ(GetControlText(120), u"far");
    EXPECT_EQ(AddLabel(-1, 0, 0, 50, 20, u"negative"), nullptr);
}

TEST_F(WindowTables, WindowTableGrowsToTheNumberPlusSixteen) {
    EXPECT_EQ(Toolkit().windows.size(), 16u);
    ASSERT_NE(NewWindow(20, 50, 50, 100, 100, u"Second", WS_CAPTION), nullptr);
    EXPECT_EQ(Toolkit().windows.size(), 36u);
    EXPECT_NE(WindowHandle(20), nullptr);
    EXPECT_EQ(WindowHandle(21), nullptr);
    EXPECT_EQ(WindowHandle(-3), nullptr);
}

TEST_F(WindowTables, ReusingAControlNumberDestroysTheOldControl) {
    QPointer<QWidget> label = Widget(AddLabel(5, 0, 0, 80, 20, u"old"));
    ASSERT_FALSE(label.isNull());
    WindowHandleType button = AddButton(5, 0, 0, 80, 20, u"new");
    EXPECT_TRUE(label.isNull()) << "the label under number 5 must be gone";
    EXPECT_EQ(GetControlText(5), u"new");
    EXPECT_NE(qobject_cast<QPushButton*>(Widget(button)), nullptr);
}

TEST_F(WindowTables, ReusingAWindowNumberDisposesOfTheOldWindowAndItsControls) {
    QPointer<QWidget> first = window();
    QPointer<QWidget> label = Widget(AddLabel(3, 0, 0, 80, 20, u"in the first window"));
    QPointer<QWidget> second = Widget(NewWindow(0, 5, 5, 200, 100, u"Again", WS_CAPTION));
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(label.isNull());
    ASSERT_FALSE(second.isNull());
    EXPECT_EQ(WindowHandle(0), second.data());
    EXPECT_EQ(GetControlText(3), u"") << "number 3 is free again";
    // New controls go into the new window.
    EXPECT_EQ(Widget(AddLabel(3, 0, 0, 80, 20, u"x"))->window(), second.data());
}

TEST_F(WindowTables, DisposedWindowFreesItsNumbersAndTakesNoMoreControls) {
    AddCheckBox(4, 0, 0, 80, 20, u"box");
    SetControlState(4, 1);
    DisposeWindow(0);
    EXPECT_EQ(WindowHandle(0), nullptr);
    EXPECT_EQ(GetControlState(4), 0);
    SetControlState(4, 1);  // must not touch a destroyed widget
    SetControlText(4, u"gone");
    EXPECT_EQ(AddLabel(6, 0, 0, 10, 10, u"nowhere"), nullptr) << "there is no window for controls";
    EXPECT_EQ(BeginControls(nullptr), 1);
}

TEST_F(WindowTables, ControlsSitAtTheirClientPositionsInCreationStacking) {
    QWidget* frame = Widget(AddFrame(11, 10, 70, 380, 110, u"Options"));
    QWidget* field = Widget(AddTextField(7, 100, 90, 130, 18, u""));
    EXPECT_EQ(frame->geometry(), QRect(10, 70, 380, 110));
    EXPECT_EQ(field->geometry(), QRect(100, 90, 130, 18));
    EXPECT_EQ(field->parentWidget(), window());
    EXPECT_TRUE(field->isVisible());
    // The later control lies above the frame and so takes the clicks.
    EXPECT_EQ(window()->childAt(150, 99), field);
}

TEST_F(WindowTables, CloseAllWindowsDisposesOfEveryWindow) {
    QPointer<QWidget> first = window();
    QPointer<QWidget> second = Widget(NewWindow(3, 0, 0, 50, 50, u"", 0));
    CloseAllWindows();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(second.isNull());
    EXPECT_EQ(WindowHandle(3), nullptr);
}

}  // namespace
