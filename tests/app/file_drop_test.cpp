// Files reaching the window without the requesters, on Qt's offscreen platform: dropped on
// the source field, the destination field or elsewhere on the window (through Qt's own drop
// events, so the toolkit's drop rules are part of the test), and a source named on the
// command line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <fstream>

#include "app/browse_actions.h"
#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/shell_state.h"
#include "app/start_up.h"
#include "engine_test_files.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"
#include "ui/linux/toolkit_state.h"
#include "ui/requester_test_seam.h"
#include "ui/window_toolkit.h"

namespace {

class FileDrop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteTestAvi(dir.Path("clip one.avi"), {Video(2, 36, 20), Audio(800)}));
        Start({});
    }
    void TearDown() override { ShutDownShell(); }

    void Start(std::vector<std::string> parameters) {
        arguments = {"reframe"};
        for (auto& p : parameters) arguments.push_back(p);
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        SetProgramArguments(static_cast<int>(arguments.size()), argv.data());
        parametersTaken = 0;
        StartUpShell();
        window = static_cast<QWidget*>(BuildMainWindow());
        ASSERT_NE(window, nullptr);
    }

    // Drops `files` on `target` as a file manager would (enter, move, drop) and lets the loop
    // take the event, as it does when idle.
    static void Drop(QWidget* target, const QStringList& files, bool asText = false) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& f : files) urls.push_back(QUrl::fromLocalFile(f));
        if (asText)
            data.setText(files.join(QLatin1Char('\n')));
        else
            data.setUrls(urls);
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
    }
    static void TakeEvents() {
        for (int i = 0; i < 50; ++i) {
            const int32_t event = PollEvent();
            if (event == EVENT_DROP_FILES) TakeDroppedFile();
            if (event == EVENT_NONE) break;
        }
    }
    static QWidget* Control(int32_t number) { return FindControl(number)->handle; }
    QString Q(const std::string& name) const { return QString::fromStdString(dir.Path(name)); }

    ScratchDir dir;
    std::vector<std::string> arguments;
    QWidget* window = nullptr;
};

TEST_F(FileDrop, OnTheSourceFieldTakesTheSourceFillsTheSizesAndSuggestsAFreeDestination) {
    std::ofstream(dir.Path("clip one-resized.avi")) << "the user's own file";
    Drop(Control(SourceField), {Q("clip one.avi")});
    TakeEvents();
    EXPECT_EQ(GetControlText(SourceField), dir.Path16("clip one.avi"));
    EXPECT_EQ(Shell.SourcePath, dir.Path16("clip one.avi"));
    EXPECT_EQ(GetControlText(WidthField), u"36");
    EXPECT_EQ(GetControlText(HeightField), u"20");
    // The plain suggestion is taken, so Start would have overwritten it.
    EXPECT_EQ(GetControlText(DestinationField), dir.Path16("clip one-resized-1.avi"));
    EXPECT_EQ(Shell.SourceRecord.fileHandle, nullptr) << "the source is closed again";
}

TEST_F(FileDrop, AnywhereElseOnTheWindowIsADropOnTheSource) {
    for (int32_t where : {-1, int32_t{WidthField}, int32_t{StartButton}, int32_t{OptionsFrame},
                          int32_t{StatusLine}}) {
        SetControlText(SourceField, u"");
        SetControlText(WidthField, u"1");
        Drop(where < 0 ? window : Control(where), {Q("clip one.avi")});
        TakeEvents();
        EXPECT_EQ(GetControlText(SourceField), dir.Path16("clip one.avi")) << where;
        EXPECT_EQ(GetControlText(WidthField), u"36") << where;
    }
}

TEST_F(FileDrop, OnTheDestinationFieldSetsOnlyTheDestination) {
    SetControlText(WidthField, u"7");
    Drop(Control(DestinationField), {Q("target.avi"), Q("clip one.avi")});
    TakeEvents();
    EXPECT_EQ(GetControlText(DestinationField), dir.Path16("target.avi"));
    EXPECT_EQ(Shell.DestinationPath, dir.Path16("target.avi"));
    EXPECT_EQ(GetControlText(SourceField), u"");
    EXPECT_EQ(GetControlText(WidthField), u"7");
}

TEST_F(FileDrop, SeveralFilesTakeTheFirstAndAnExistingDestinationIsKept) {
    SetControlText(DestinationField, u"/chosen/by/hand.avi");
    Drop(window, {Q("clip one.avi"), Q("other.avi")});
    TakeEvents();
    EXPECT_EQ(GetControlText(SourceField), dir.Path16("clip one.avi"));
    EXPECT_EQ(GetControlText(DestinationField), u"/chosen/by/hand.avi");
}

TEST_F(FileDrop, AFileThatIsNoAviFileIsTakenWithoutTouchingTheSizes) {
    std::ofstream(dir.Path("notes.txt")) << "not a video";
    SetControlText(WidthField, u"64");
    Drop(Control(SourceField), {Q("notes.txt")});
    TakeEvents();
    EXPECT_EQ(GetControlText(SourceField), dir.Path16("notes.txt"));
    EXPECT_EQ(GetControlText(WidthField), u"64");
}

TEST_F(FileDrop, TextDraggedIntoAFieldIsStillPlainText) {
    // Only local files are ours; a dragged word keeps the field's own handling.
    Drop(Control(WidthField), {QStringLiteral("123")}, true);
    TakeEvents();
    EXPECT_EQ(GetControlText(SourceField), u"");
    EXPECT_EQ(DroppedFile(), u"");
}

TEST_F(FileDrop, TwoDropsBeforeTheLoopLooksKeepTheirOwnFiles) {
    Drop(Control(DestinationField), {Q("first.avi")});
    Drop(Control(SourceField), {Q("clip one.avi")});
    TakeEvents();
    EXPECT_EQ(GetControlText(DestinationField), dir.Path16("first.avi"));
    EXPECT_EQ(GetControlText(SourceField), dir.Path16("clip one.avi"));
}

TEST_F(FileDrop, LoopActsOnADropAndEndsOnTheCloseBox) {
    Drop(Control(SourceField), {Q("clip one.avi")});
    QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
    RunEventLoop();
    EXPECT_EQ(GetControlText(HeightField), u"20");
}

TEST_F(FileDrop, SourceOnTheCommandLineFillsTheSizesAsTheBrowseButtonWould) {
    ShutDownShell();
    Start({dir.Path("clip one.avi"), dir.Path("out.avi")});
    FillSizesFromCommandLineSource();
    EXPECT_EQ(GetControlText(WidthField), u"36");
    EXPECT_EQ(GetControlText(HeightField), u"20");
    EXPECT_EQ(GetControlText(DestinationField), dir.Path16("out.avi"));

    ShutDownShell();
    Start({dir.Path("missing.avi")});
    FillSizesFromCommandLineSource();
    EXPECT_EQ(GetControlText(WidthField), u"");
    EXPECT_EQ(GetControlText(DestinationField), u"") << "the command line's own rule stands";
}

std::vector<std::pair<std::u16string, std::u16string>> startMessages;
int32_t RecordStartMessage(const std::u16string& title, const std::u16string& text) {
    startMessages.emplace_back(title, text);
    return 1;
}

TEST_F(FileDrop, CommandLineNamesThatAreNotTextAreRefusedAndOpenNothing) {
    // The bytes \xff are no UTF-8: taken as text they would name "bad\uFFFD.avi", another file.
    const std::string raw = dir.Path("bad\xff.avi");
    ASSERT_TRUE(WriteTestAvi(raw, {Video(2, 36, 20)}));
    ASSERT_TRUE(WriteTestAvi(dir.Path("bad\xef\xbf\xbd.avi"), {Video(2, 50, 30)}));
    ShutDownShell();
    startMessages.clear();
    SetRequesterOverrideForTests(nullptr, RecordStartMessage);
    Start({raw, dir.Path("out.avi")});
    RefuseCommandLineNamesThatAreNotText();
    FillSizesFromCommandLineSource();
    SetRequesterOverrideForTests(nullptr, nullptr);
    EXPECT_EQ(GetControlText(SourceField), u"");
    EXPECT_EQ(GetControlText(WidthField), u"") << "the other file was opened";
    EXPECT_EQ(GetControlText(DestinationField), dir.Path16("out.avi"));
    ASSERT_EQ(startMessages.size(), 1u);
    EXPECT_EQ(startMessages[0].first, u"ERROR");

    // Spaces, quotes, a leading dash and letters beyond ASCII are text, and are taken as given.
    ShutDownShell();
    startMessages.clear();
    SetRequesterOverrideForTests(nullptr, RecordStartMessage);
    Start({dir.Path("clip one.avi"), dir.Path("-\"Größe\" 1.avi")});
    RefuseCommandLineNamesThatAreNotText();
    SetRequesterOverrideForTests(nullptr, nullptr);
    EXPECT_TRUE(startMessages.empty());
    EXPECT_EQ(GetControlText(DestinationField), FromUtf8(dir.Path("-\"Größe\" 1.avi")));
}

}  // namespace
