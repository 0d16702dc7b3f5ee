#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "toolkit_test_support.h"
#include "ui/requester_test_seam.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

namespace {

using Requesters = ToolkitTest;

// Runs `answer` on the dialog once it is up, from inside its own modal loop.
void WhenDialogOpens(std::function<void(QWidget*)> answer) {
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(dialog);
    });
    poll->start(20);
}

// Answers the dialogs that come up one after another, one step each. The same dialog shown
// again after it was closed counts as a new one.
void AnswerInTurn(std::vector<std::function<void(QWidget*)>> steps) {
    auto* poll = new QTimer();
    auto next = std::make_shared<size_t>(0);
    auto answered = std::make_shared<QPointer<QWidget>>();
    QObject::connect(poll, &QTimer::timeout, [poll, steps, next, answered] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible()) {
            *answered = nullptr;  // closed: if it opens again, that is the next dialog
            return;
        }
        if (dialog == answered->data()) return;
        *answered = dialog;
        if (*next + 1 == steps.size()) {
            poll->stop();
            poll->deleteLater();
        }
        steps[(*next)++](dialog);
    });
    poll->start(20);
}

// The dialog lists its folder in the background and then selects the file it was opened
// with; a user types only once the list is there, or that late selection would win over the
// typed name.
void WaitForListing(QFileDialog* dialog, int entries) {
    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    QElapsedTimer clock;
    clock.start();
    while (list->model()->rowCount(list->rootIndex()) < entries && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_GE(list->model()->rowCount(list->rootIndex()), entries);
    QCoreApplication::processEvents();
}

// What the user does when typing a name into the dialog's name field.
void TypeFileName(QFileDialog* dialog, const QString& name) {
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    field->setText(name);
}

TEST_F(Requesters, OpenDialogStartsInTheFolderWithTheNameAndFilters) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString before = QDir::currentPath();
    const std::u16string defaultPath =
        (folder.path() + QStringLiteral("/clip.avi")).toStdU16String();
    QString seenFolder, seenFilter;
    QStringList seenFilters;
    bool modal = false;
    WhenDialogOpens([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        modal = dialog->isModal();
        seenFolder = dialog->directory().absolutePath();
        seenFilters = dialog->nameFilters();
        seenFilter = dialog->selectedNameFilter();
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Source"));
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_TRUE(dialog->defaultSuffix().isEmpty());
        // A name that does not exist yet, in a folder that does, is accepted.
        TypeFileName(dialog, QStringLiteral("new.avi"));
        static_cast<QDialog*>(dialog)->accept();
    });
    const std::u16string chosen =
        AskOpenFile(u"Source", defaultPath, u"AVI|*.avi|All Files|*.*", 1);
    EXPECT_TRUE(modal);
    EXPECT_EQ(seenFolder, QDir(folder.path()).absolutePath());
    EXPECT_EQ(seenFilters, (QStringList{QStringLiteral("AVI (*.[aA][vV][iI])"),
                                        QStringLiteral("All Files (*)")}));
    EXPECT_TRUE(seenFilter.startsWith(QStringLiteral("All Files"))) << seenFilter.toStdString();
    EXPECT_EQ(QString::fromStdU16String(chosen), folder.path() + QStringLiteral("/new.avi"));
    EXPECT_EQ(QDir::currentPath(), before) << "the dialog must leave the working folder alone";
}

TEST_F(Requesters, SaveDialogReturnsAnExistingFileWithoutAskingAndAddsNoExtension) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile existing(folder.path() + QStringLiteral("/old.avi"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    const std::u16string defaultPath =
        (folder.path() + QStringLiteral("/old.avi")).toStdU16String();
    WhenDialogOpens([](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        static_cast<QDialog*>(dialog)->accept();  // with the name it was opened with
    });
    EXPECT_EQ(QString::fromStdU16String(
                  AskSaveFile(u"Destination", defaultPath, u"AVI|*.avi|All Files|*.*", 0)),
              folder.path() + QStringLiteral("/old.avi"));
    WhenDialogOpens([](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        WaitForListing(dialog, 1);
        TypeFileName(dialog, QStringLiteral("plain"));
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(QString::fromStdU16String(
                  AskSaveFile(u"Destination", defaultPath, u"AVI|*.avi|All Files|*.*", 0)),
              folder.path() + QStringLiteral("/plain"));
}

TEST_F(Requesters, NamesInFoldersThatDoNotExistAreRefusedUntilAGoodOneIsChosen) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile file(folder.path() + QStringLiteral("/file.avi"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const std::u16string defaultPath =
        (folder.path() + QStringLiteral("/clip.avi")).toStdU16String();
    for (const bool save : {false, true}) {
        QStringList warnings;
        const auto type = [](const QString& name) {
            return [name](QWidget* widget) {
                auto* dialog = qobject_cast<QFileDialog*>(widget);
                ASSERT_NE(dialog, nullptr);
                WaitForListing(dialog, 1);
                TypeFileName(dialog, name);
                static_cast<QDialog*>(dialog)->accept();
            };
        };
        const auto dismiss = [&warnings](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            warnings << box->text();
            box->button(QMessageBox::Ok)->click();
        };
        AnswerInTurn({type(QStringLiteral("missing/new.avi")), dismiss,
                      type(QStringLiteral("file.avi/new.avi")), dismiss,
                      type(QStringLiteral("new.avi"))});
        const std::u16string chosen =
            save ? AskSaveFile(u"Destination", defaultPath, u"AVI|*.avi", 0)
                 : AskOpenFile(u"Source", defaultPath, u"AVI|*.avi", 0);
        EXPECT_EQ(QString::fromStdU16String(chosen), folder.path() + QStringLiteral("/new.avi"))
            << save;
        ASSERT_EQ(warnings.size(), 2) << save;
        EXPECT_TRUE(warnings[0].contains(folder.path() + QStringLiteral("/missing")))
            << warnings[0].toStdString();
        EXPECT_TRUE(warnings[1].contains(QStringLiteral("file.avi"))) << warnings[1].toStdString();
    }
    // Cancel after a refused name gives nothing, as a plain cancel does.
    AnswerInTurn({[](QWidget* widget) {
                      auto* dialog = qobject_cast<QFileDialog*>(widget);
                      ASSERT_NE(dialog, nullptr);
                      TypeFileName(dialog, QStringLiteral("missing/new.avi"));
                      static_cast<QDialog*>(dialog)->accept();
                  },
                  [](QWidget* widget) {
                      qobject_cast<QMessageBox*>(widget)->button(QMessageBox::Ok)->click();
                  },
                  [](QWidget* widget) { static_cast<QDialog*>(widget)->reject(); }});
    EXPECT_EQ(AskSaveFile(u"Destination", defaultPath, u"AVI|*.avi", 0), u"");
}

TEST_F(Requesters, CancelGivesEmptyText) {
    WhenDialogOpens([](QWidget* widget) { static_cast<QDialog*>(widget)->reject(); });
    EXPECT_EQ(AskOpenFile(u"Source", u"/tmp/x.avi", u"AVI|*.avi|All Files|*.*", 0), u"");
    WhenDialogOpens([](QWidget* widget) { static_cast<QDialog*>(widget)->reject(); });
    EXPECT_EQ(AskSaveFile(u"Destination", u"", u"", 0), u"");
}

TEST_F(Requesters, MessageBoxHasTitleTextOneOkButtonAndNoIcon) {
    QString title, text;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::Warning;
    WhenDialogOpens([&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(ShowMessage(u"ERROR", u"Not a valid avi file!"), IDOK);
    EXPECT_EQ(title, QStringLiteral("ERROR"));
    EXPECT_EQ(text, QStringLiteral("Not a valid avi file!"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, 1);
}

TEST_F(Requesters, ReturnClosesAMessageBoxOverTheToolkitWindow) {
    // The toolkit's own rule that Return presses no button holds in its windows, not in dialogs.
    auto* owner = static_cast<QWidget*>(NewWindow(0, 5, 5, 400, 250, u"owner", 0xCA0000));
    ASSERT_NE(owner, nullptr);
    QApplication::setActiveWindow(owner);
    bool closedByReturn = false;
    bool ownedByTheWindow = false;
    WhenDialogOpens([&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        ownedByTheWindow = box->parentWidget() == owner;
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        ok->setFocus();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(ok, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(ok, &release);
        closedByReturn = !box->isVisible() || box->result() != 0;
        if (!closedByReturn) ok->click();  // don't leave the test hanging in the box
    });
    EXPECT_EQ(ShowMessage(u"Information", u"Finished."), IDOK);
    EXPECT_TRUE(ownedByTheWindow);
    EXPECT_TRUE(closedByReturn);
    DisposeWindow(0);
}

FileRequest lastRequest;
std::u16string AnswerWithFixedPath(const FileRequest& request) {
    lastRequest = request;
    return u"/chosen/by/test.avi";
}
int32_t messagesSeen = 0;
int32_t CountMessage(const std::u16string&, const std::u16string&) {
    return ++messagesSeen;
}

TEST_F(Requesters, OverrideStandsInForTheUser) {
    SetRequesterOverrideForTests(AnswerWithFixedPath, CountMessage);
    EXPECT_EQ(AskSaveFile(u"Destination", u"/v/out.avi", u"AVI|*.avi", 0), u"/chosen/by/test.avi");
    EXPECT_EQ(lastRequest.save, 1);
    EXPECT_EQ(lastRequest.folder, u"/v");
    EXPECT_EQ(lastRequest.fileName, u"out.avi");
    EXPECT_EQ(ShowMessage(u"a", u"b"), 1);
    EXPECT_EQ(messagesSeen, 1);
    SetRequesterOverrideForTests(nullptr, nullptr);
}

}  // namespace
