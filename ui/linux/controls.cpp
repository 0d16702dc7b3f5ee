// The six kinds of numbered controls and their creation inside the current window.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "ui/linux/control_font.h"
#include "ui/linux/toolkit_state.h"
#include "ui/linux/toolkit_window.h"
#include "ui/window_toolkit.h"

namespace {

int32_t ReadButtonCheck(QWidget* control) {
    return static_cast<QAbstractButton*>(control)->isChecked() ? 1 : 0;
}

void WriteButtonCheck(QWidget* control, int32_t value) {
    static_cast<QAbstractButton*>(control)->setChecked(value != 0);
}

int32_t ReadProgressPosition(QWidget* control) {
    return static_cast<QProgressBar*>(control)->value();
}

// Qt ignores a value outside the range; the bar is to show the nearest end instead.
void WriteProgressPosition(QWidget* control, int32_t value) {
    auto* bar = static_cast<QProgressBar*>(control);
    bar->setValue(std::clamp(value, bar->minimum(), bar->maximum()));
}

const ControlKind PUSH_BUTTON_KIND{1, true, ReadButtonCheck, WriteButtonCheck};
const ControlKind TEXT_FIELD_KIND{2, true, nullptr, nullptr};
const ControlKind LABEL_KIND{3, false, nullptr, nullptr};
const ControlKind CHECK_BOX_KIND{4, true, ReadButtonCheck, WriteButtonCheck};
const ControlKind FRAME_KIND{7, false, nullptr, nullptr};
const ControlKind PROGRESS_BAR_KIND{14, false, ReadProgressPosition, WriteProgressPosition};

QWidget* CurrentControlParent() {
    return FindWindow(Toolkit().controlParent);
}

// Puts a freshly made control into the table under `number`, replacing what held it.
WindowHandleType EnterControl(int32_t number, QWidget* control, const ControlKind& kind, int32_t x,
                              int32_t y, int32_t width, int32_t height) {
    ToolkitState& state = Toolkit();
    control->setGeometry(x, y, width, height);
    control->setFont(state.controlFont);
    control->setProperty(CONTROL_NUMBER_PROPERTY, number);

    const size_t slot = static_cast<size_t>(number);
    if (slot >= state.controls.size()) state.controls.resize(slot + INITIAL_CONTROL_SLOTS);
    ControlRecord& record = state.controls[slot];
    delete record.handle.data();
    record.handle = control;
    record.kind = &kind;
    record.window = state.controlParent;
    record.creationOrder = state.nextCreationOrder++;
    control->show();
    return control;
}

QString ToQt(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

void InitControls() {
    ToolkitState& state = Toolkit();
    state.controls.assign(INITIAL_CONTROL_SLOTS, ControlRecord{});
    state.controlFont = ChooseControlFont();
}

void FreeControls() {
    // Controls live inside their windows and go when those are disposed of; there is no
    // shared helper window to destroy here.
}

ControlRecord* FindControl(int32_t number) {
    ToolkitState& state = Toolkit();
    if (number < 0 || static_cast<size_t>(number) >= state.controls.size()) return nullptr;
    ControlRecord& record = state.controls[static_cast<size_t>(number)];
    return record.handle != nullptr ? &record : nullptr;
}

int32_t ControlNumberOf(const QWidget* widget) {
    if (widget == nullptr) return -1;
    const QVariant mark = widget->property(CONTROL_NUMBER_PROPERTY);
    return mark.isValid() ? mark.toInt() : -1;
}

WindowHandleType AddLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const std::u16string& text) {
    QWidget* parent = CurrentControlParent();
    if (number < 0 || parent == nullptr) return nullptr;
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setText(ToQt(text));
    WindowHandleType handle = EnterControl(number, label, LABEL_KIND, x, y, width, height);
    FitControlFont(label);
    return handle;
}

WindowHandleType AddTextField(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                              const std::u16string& text, uint32_t flags) {
    QWidget* parent = CurrentControlParent();
    if (number < 0 || parent == nullptr) return nullptr;
    auto* field = new QLineEdit(parent);
    field->setText(ToQt(text));
    field->setCursorPosition(0);  // a long text shows its beginning
    field->setReadOnly((flags & ES_READONLY) != 0);
    // The digits-only rule is applied to typed keys (keyboard_rules.cpp), not by a validator:
    // pasted text is to arrive unchanged.
    field->setProperty(DIGITS_ONLY_PROPERTY, (flags & ES_NUMBER) != 0);
    // Tab is the toolkit's own walk; Qt's focus chain must not hand out focus by itself.
    field->setFocusPolicy(Qt::ClickFocus);
    QObject::connect(field, &QLineEdit::textChanged,
                     [number] { RaiseControlReport(number, NOTIFY_TEXT_CHANGED); });
    return EnterControl(number, field, TEXT_FIELD_KIND, x, y, width, height);
}

WindowHandleType AddButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const std::u16string& text, uint32_t flags) {
    QWidget* parent = CurrentControlParent();
    if (number < 0 || parent == nullptr) return nullptr;
    auto* button = new QPushButton(ToQt(text), parent);
    // The default button only looks the part: Enter clicks nothing.
    button->setAutoDefault(false);
    button->setDefault((flags & BS_DEFPUSHBUTTON) != 0);
    button->setFocusPolicy(Qt::ClickFocus);
    QObject::connect(button, &QPushButton::clicked,
                     [number] { RaiseControlReport(number, NOTIFY_CLICKED); });
    WindowHandleType handle = EnterControl(number, button, PUSH_BUTTON_KIND, x, y, width, height);
    FitControlFont(button);
    return handle;
}

WindowHandleType AddFrame(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const std::u16string& text) {
    QWidget* parent = CurrentControlParent();
    if (number < 0 || parent == nullptr) return nullptr;
    auto* frame = new QGroupBox(ToQt(text), parent);
    frame->setFocusPolicy(Qt::NoFocus);
    WindowHandleType handle = EnterControl(number, frame, FRAME_KIND, x, y, width, height);
    FitControlFont(frame);
    return handle;
}

WindowHandleType AddCheckBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             const std::u16string& text) {
    QWidget* parent = CurrentControlParent();
    if (number < 0 || parent == nullptr) return nullptr;
    auto* box = new QCheckBox(ToQt(text), parent);
    box->setFocusPolicy(Qt::ClickFocus);
    // `clicked` comes from the user only, after the tick has changed.
    QObject::connect(box, &QCheckBox::clicked,
                     [number] { RaiseControlReport(number, NOTIFY_CLICKED); });
    WindowHandleType handle = EnterControl(number, box, CHECK_BOX_KIND, x, y, width, height);
    FitControlFont(box);
    return handle;
}

WindowHandleType AddProgressBar(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                                int32_t minimum, int32_t maximum) {
    QWidget* parent = CurrentControlParent();
    if (number < 0 || parent == nullptr) return nullptr;
    auto* bar = new QProgressBar(parent);
    bar->setRange(minimum, maximum);
    bar->setTextVisible(false);
    bar->setFocusPolicy(Qt::NoFocus);
    WriteProgressPosition(bar, 0);
    return EnterControl(number, bar, PROGRESS_BAR_KIND, x, y, width, height);
}
