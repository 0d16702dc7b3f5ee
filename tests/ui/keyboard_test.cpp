#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include <algorithm>

#include "toolkit_test_support.h"
#include "ui/linux/toolkit_state.h"

namespace {

int Count(const std::vector<int32_t>& numbers, int32_t number) {
    return static_cast<int>(std::count(numbers.begin(), numbers.end(), number));
}

class Keyboard : public ToolkitTest {
  protected:
    // One control of every kind, tab stops and others mixed, in a deliberate order.
    void BuildMixedWindow() {
        AddLabel(17, 10, 10, 70, 20, u"Source:");
        AddTextField(15, 90, 10, 250, 18, u"");
        AddButton(13, 350, 10, 40, 18, u"...");
        AddFrame(11, 10, 70, 380, 110, u"Options");
        AddTextField(7, 100, 90, 130, 18, u"", ES_NUMBER);
        AddCheckBox(10, 20, 150, 130, 20, u"Anti aliasing");
        AddButton(2, 10, 190, 90, 50, u"Start", BS_DEFPUSHBUTTON);
        AddTextField(1, 110, 190, 280, 20, u"", ES_READONLY);
        AddProgressBar(0, 110, 220, 280, 20, 0, 100);
        Activate();
    }

    // Where the keyboard's keys go: the focused control, else the window.
    QWidget* KeyTarget() {
        QWidget* focus = QApplication::focusWidget();
        return focus != nullptr ? focus : window();
    }

    std::vector<int32_t> Walk(Qt::Key key, int steps) {
        std::vector<int32_t> visited;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(KeyTarget(), key);
            visited.push_back(FocusedControl());
        }
        return visited;
    }
};

TEST_F(Keyboard, NoControlHasTheFocusAtFirst) {
    BuildMixedWindow();
    EXPECT_EQ(FocusedControl(), -1);
}

TEST_F(Keyboard, TabWalksTheTabStopsInCreationOrderAndComesRound) {
    BuildMixedWindow();
    EXPECT_EQ(Walk(Qt::Key_Tab, 7), (std::vector<int32_t>{15, 13, 7, 10, 2, 1, 15}));
}

TEST_F(Keyboard, ShiftTabWalksBackwardsAndStartsAtTheLast) {
    BuildMixedWindow();
    EXPECT_EQ(Walk(Qt::Key_Backtab, 7), (std::vector<int32_t>{1, 2, 10, 7, 13, 15, 1}));
}

TEST_F(Keyboard, WalkSkipsDisabledAndHiddenControls) {
    BuildMixedWindow();
    Widget(FindControl(13)->handle)->setEnabled(false);
    Widget(FindControl(10)->handle)->hide();
    EXPECT_EQ(Walk(Qt::Key_Tab, 5), (std::vector<int32_t>{15, 7, 2, 1, 15}));
}

TEST_F(Keyboard, WalkStaysInTheWindowOfTheFocus) {
    BuildMixedWindow();
    NewWindow(1, 500, 5, 100, 100, u"Other", WS_CAPTION);
    AddTextField(30, 0, 0, 50, 18, u"");
    ASSERT_NE(FindControl(30), nullptr);
    EXPECT_EQ(FindControl(30)->window, 1);
    Activate();
    EXPECT_EQ(Walk(Qt::Key_Tab, 7), (std::vector<int32_t>{15, 13, 7, 10, 2, 1, 15}));
}

TEST_F(Keyboard, DigitsOnlyFieldRefusesTypedNonDigitsButTakesPaste) {
    BuildMixedWindow();
    auto* field = qobject_cast<QLineEdit*>(Widget(FindControl(7)->handle));
    field->setFocus();
    QTest::keyClicks(field, "6a4-0 x.");
    EXPECT_EQ(GetControlText(7), u"640");
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(GetControlText(7), u"64") << "editing keys still work";
    QApplication::clipboard()->setText(QStringLiteral("1e3"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(GetControlText(7), u"641e3") << "pasted text arrives unchanged";
}

TEST_F(Keyboard, OrdinaryAndReadOnlyFields) {
    BuildMixedWindow();
    auto* path = qobject_cast<QLineEdit*>(Widget(FindControl(15)->handle));
    path->setFocus();
    QTest::keyClicks(path, "a b/1.avi");
    EXPECT_EQ(GetControlText(15), u"a b/1.avi");
    SetControlText(1, u"Finished.");
    auto* status = qobject_cast<QLineEdit*>(Widget(FindControl(1)->handle));
    status->setFocus();
    EXPECT_EQ(FocusedControl(), 1) << "a read-only field still takes the focus";
    QTest::keyClicks(status, "xyz");
    EXPECT_EQ(GetControlText(1), u"Finished.");
}

TEST_F(Keyboard, EnterClicksNothingAndSpacePressesTheFocusedButton) {
    BuildMixedWindow();
    Widget(FindControl(15)->handle)->setFocus();
    Drain();
    QTest::keyClick(KeyTarget(), Qt::Key_Return);
    QTest::keyClick(KeyTarget(), Qt::Key_Enter);
    EXPECT_EQ(Count(ReportedControls(), 2), 0) << "Enter in a field started the default button";
    Widget(FindControl(2)->handle)->setFocus();
    Drain();
    QTest::keyClick(KeyTarget(), Qt::Key_Return);
    EXPECT_EQ(Count(ReportedControls(), 2), 0) << "Enter on the button clicked it";
    QTest::keyClick(KeyTarget(), Qt::Key_Space);
    EXPECT_TRUE(PollUntil(EVENT_CONTROL, 2));
}

}  // namespace
