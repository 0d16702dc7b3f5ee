// Reading and writing the text and the state of a numbered control. The values live in the
// Qt widgets themselves; the toolkit keeps no copy.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "ui/linux/control_font.h"
#include "ui/linux/toolkit_state.h"
#include "ui/window_toolkit.h"

std::u16string GetControlText(int32_t number) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr) return std::u16string();
    QWidget* control = record->handle;
    QString text;
    if (auto* field = qobject_cast<QLineEdit*>(control)) {
        text = field->text();
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        text = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        text = button->text();
    } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        text = frame->title();
    }
    return text.toStdU16String();
}

void SetControlText(int32_t number, const std::u16string& text) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr) return;
    QWidget* control = record->handle;
    const QString qtText = QString::fromStdU16String(text);
    if (auto* field = qobject_cast<QLineEdit*>(control)) {
        // The field reports the change itself (EVENT_CONTROL with its number).
        field->setText(qtText);
        field->setCursorPosition(0);
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(qtText);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(qtText);
    } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        frame->setTitle(qtText);
    } else {
        return;
    }
    FitControlFont(control);
}

int32_t GetControlState(int32_t number) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr || record->kind->readState == nullptr) return 0;
    return record->kind->readState(record->handle);
}

void SetControlState(int32_t number, int32_t value) {
    const ControlRecord* record = FindControl(number);
    if (record == nullptr || record->kind->writeState == nullptr) return;
    record->kind->writeState(record->handle, value);
}
