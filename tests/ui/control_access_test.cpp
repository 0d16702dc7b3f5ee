#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "toolkit_test_support.h"

namespace {

using ControlAccess = ToolkitTest;

TEST_F(ControlAccess, CheckBoxStartsUntickedAndReadsZeroOrOne) {
    auto* box =
        qobject_cast<QCheckBox*>(Widget(AddCheckBox(10, 20, 150, 130, 20, u"Anti aliasing")));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(GetControlState(10), 0);
    SetControlState(10, 7);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(GetControlState(10), 1);
    SetControlState(10, 0);
    EXPECT_EQ(GetControlState(10), 0);
    SetControlState(10, -1);
    EXPECT_EQ(GetControlState(10), 1) << "every value but 0 ticks";
}

TEST_F(ControlAccess, ProgressBarShowsOutOfRangeValuesAtTheNearestEnd) {
    auto* bar = qobject_cast<QProgressBar*>(Widget(AddProgressBar(0, 110, 220, 280, 20, 0, 100)));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetControlState(0), 0);
    SetControlState(0, 42);
    EXPECT_EQ(GetControlState(0), 42);
    SetControlState(0, 150);
    EXPECT_EQ(GetControlState(0), 100);
    EXPECT_EQ(bar->value(), 100);
    SetControlState(0, -5);
    EXPECT_EQ(GetControlState(0), 0);
    EXPECT_FALSE(bar->isTextVisible());
}

TEST_F(ControlAccess, ProgressBarStartsAtZeroClampedIntoItsRange) {
    AddProgressBar(1, 0, 0, 100, 20, 10, 20);
    EXPECT_EQ(GetControlState(1), 10);
}

TEST_F(ControlAccess, StatelessKindsReadZeroAndIgnoreWrites) {
    AddLabel(17, 10, 10, 70, 20, u"Source:");
    AddTextField(15, 90, 10, 250, 18, u"12");
    AddFrame(11, 10, 70, 380, 110, u"Options");
    for (int32_t number : {17, 15, 11}) {
        SetControlState(number, 1);
        EXPECT_EQ(GetControlState(number), 0) << "control " << number;
    }
    EXPECT_EQ(GetControlText(15), u"12");
    EXPECT_EQ(GetControlState(33), 0) << "no control under 33";
    EXPECT_EQ(GetControlText(33), u"");
}

TEST_F(ControlAccess, TextsCrossWholeAndUnchanged) {
    AddTextField(15, 90, 10, 250, 18, u"");
    AddLabel(17, 10, 10, 70, 20, u"");
    AddButton(13, 350, 10, 40, 18, u"...");
    AddFrame(11, 10, 70, 380, 110, u"Options");
    AddCheckBox(5, 245, 90, 130, 20, u"Don't copy video streams");
    const std::u16string unusual = u"/tmp/Überlänge \U0001F3AC/<a&b> \"q\".avi";
    std::u16string long_text(5000, u'x');
    long_text += u"end";
    SetControlText(15, long_text);
    EXPECT_EQ(GetControlText(15), long_text);
    for (int32_t number : {15, 17, 13, 11, 5}) {
        SetControlText(number, unusual);
        EXPECT_EQ(GetControlText(number), unusual) << "control " << number;
    }
    SetControlText(15, u"");
    EXPECT_EQ(GetControlText(15), u"");
    EXPECT_EQ(GetControlText(5), unusual);
}

TEST_F(ControlAccess, LabelTextIsPlainAndWraps) {
    auto* label = qobject_cast<QLabel*>(Widget(AddLabel(1, 0, 0, 70, 40, u"<b>bold?</b>")));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_TRUE(label->wordWrap());
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
}

TEST_F(ControlAccess, FieldFlagsSelectReadOnly) {
    auto* status =
        qobject_cast<QLineEdit*>(Widget(AddTextField(1, 0, 0, 100, 20, u"", ES_READONLY)));
    auto* plain = qobject_cast<QLineEdit*>(Widget(AddTextField(2, 0, 0, 100, 20, u"")));
    ASSERT_NE(status, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(status->isReadOnly());
    EXPECT_FALSE(plain->isReadOnly());
    SetControlText(1, u"Finished.");
    EXPECT_EQ(GetControlText(1), u"Finished.") << "the program can still write a read-only field";
}

}  // namespace
