#include "ui/requesters.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/file_request.h"
#include "ui/requester_test_seam.h"

namespace {

FileRequesterOverride fileOverride = nullptr;
MessageRequesterOverride messageOverride = nullptr;

// The tool's active window owns the dialog, so it opens over it.
QWidget* DialogOwner() {
    return QApplication::activeWindow();
}

QString ToQt(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The dialogs are shown with exec(), which makes them application-modal: none of the
// tool's windows takes input until the dialog is closed, and all of them keep repainting.
std::u16string AskFile(int32_t save, const std::u16string& title, const std::u16string& defaultPath,
                       const std::u16string& pattern, int32_t position) {
    const FileRequest request = PrepareFileRequest(save, title, defaultPath, pattern, position);
    if (fileOverride != nullptr) return fileOverride(request);

    QFileDialog dialog(DialogOwner(), ToQt(request.title));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The open dialog, too, accepts the name of a file that does not exist yet; the caller
    // finds out when it opens it.
    dialog.setFileMode(QFileDialog::AnyFile);
    // No question before an existing file is chosen; the labels alone, as the caller wrote them.
    dialog.setOptions(QFileDialog::DontConfirmOverwrite | QFileDialog::HideNameFilterDetails);
    if (!request.folder.empty()) dialog.setDirectory(ToQt(request.folder));
    if (!request.nameFilters.empty()) {
        QStringList filters;
        for (const std::u16string& filter : request.nameFilters) filters << ToQt(filter);
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.at(request.selectedFilter));
    }
    if (!request.fileName.empty()) dialog.selectFile(ToQt(request.fileName));
    // Both dialogs take only names in folders that exist. Qt's own dialog accepts a name typed
    // into a missing folder, so the name is checked here and the dialog shown again until the
    // user picks a name that can be used, or cancels.
    for (;;) {
        if (dialog.exec() != QDialog::Accepted) return std::u16string();
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return std::u16string();
        const std::u16string path = chosen.first().toStdU16String();
        if (ChosenNameHasFolder(path) != 0) return path;
        QMessageBox box(
            QMessageBox::Warning, ToQt(request.title),
            QStringLiteral("The folder %1 doesn't exist.\nChoose a name in a folder that exists.")
                .arg(ToQt(FolderOfChosenName(path))),
            QMessageBox::Ok, &dialog);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

}  // namespace

void SetRequesterOverrideForTests(FileRequesterOverride files, MessageRequesterOverride messages) {
    fileOverride = files;
    messageOverride = messages;
}

void InitRequesters() {
    // The dialogs need nothing beyond the window system that InitWindows has started.
}

std::u16string AskOpenFile(const std::u16string& title, const std::u16string& defaultPath,
                           const std::u16string& pattern, int32_t position) {
    return AskFile(0, title, defaultPath, pattern, position);
}

std::u16string AskSaveFile(const std::u16string& title, const std::u16string& defaultPath,
                           const std::u16string& pattern, int32_t position) {
    return AskFile(1, title, defaultPath, pattern, position);
}

int32_t ShowMessage(const std::u16string& title, const std::u16string& text) {
    if (messageOverride != nullptr) return messageOverride(title, text);
    QMessageBox box(QMessageBox::NoIcon, ToQt(title), ToQt(text), QMessageBox::Ok, DialogOwner());
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return IDOK;
}
