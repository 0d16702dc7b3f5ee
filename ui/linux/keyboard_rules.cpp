// The toolkit's keyboard rules, applied to every key before Qt's widgets see it: Tab and
// Shift+Tab walk the focus through the tab-stop controls in creation order, digits-only
// fields refuse typed non-digits, Enter never clicks a button, and text fields report
// gaining and losing the focus.
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <vector>

#include "ui/linux/toolkit_state.h"
#include "ui/linux/toolkit_window.h"
#include "ui/window_toolkit.h"

namespace {

bool HasOnlyDigits(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

bool IsDigitsOnlyField(const QObject* object) {
    const auto* field = qobject_cast<const QLineEdit*>(object);
    return field != nullptr && !field->isReadOnly() &&
           field->property(DIGITS_ONLY_PROPERTY).toBool();
}

// A key that would insert text (as opposed to editing keys and shortcuts such as Ctrl+V).
bool InsertsText(const QKeyEvent* key) {
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key->text();
    return !text.isEmpty() && text.at(0) >= QChar(0x20) && text.at(0) != QChar(0x7F);
}

class KeyboardRules : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
            if (qobject_cast<QLineEdit*>(watched) != nullptr) {
                const int32_t control = ControlNumberOf(static_cast<QWidget*>(watched));
                if (control >= 0)
                    RaiseControlReport(control,
                                       type == QEvent::FocusIn ? FOCUS_GAINED : FOCUS_LOST);
            }
            return false;
        }
        if (type != QEvent::KeyPress && type != QEvent::InputMethod) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr) return false;
        const int32_t window = WindowNumberOf(widget);
        if (window < 0) return false;  // dialogs and other windows keep Qt's own rules

        if (event->type() == QEvent::InputMethod) {
            const auto* input = static_cast<QInputMethodEvent*>(event);
            return IsDigitsOnlyField(watched) && !HasOnlyDigits(input->commitString());
        }

        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers others =
            Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & others)) {
            const bool forward =
                key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
            FocusNextControl(window, forward);
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            qobject_cast<QPushButton*>(watched) != nullptr) {
            return true;
        }
        if (IsDigitsOnlyField(watched) && InsertsText(key) && !HasOnlyDigits(key->text()))
            return true;
        return false;
    }
};

}  // namespace

void InstallKeyboardRules() {
    QCoreApplication* application = QCoreApplication::instance();
    application->installEventFilter(new KeyboardRules(application));
}

void FocusNextControl(int32_t window, bool forward) {
    ToolkitWindow* toolkitWindow = FindWindow(window);
    if (toolkitWindow == nullptr) return;
    std::vector<const ControlRecord*> candidates;
    for (const ControlRecord& record : Toolkit().controls) {
        if (record.handle == nullptr || record.window != window || !record.kind->tabStop) continue;
        if (!record.handle->isEnabled() || !record.handle->isVisible()) continue;
        candidates.push_back(&record);
    }
    if (candidates.empty()) return;
    std::sort(candidates.begin(), candidates.end(),
              [](const ControlRecord* a, const ControlRecord* b) {
                  return a->creationOrder < b->creationOrder;
              });

    QWidget* focus = QApplication::focusWidget();
    const bool hasCurrent =
        focus != nullptr && focus != toolkitWindow && WindowNumberOf(focus) == window;
    const auto found =
        std::find_if(candidates.begin(), candidates.end(),
                     [focus](const ControlRecord* record) { return record->handle == focus; });
    const size_t count = candidates.size();
    size_t target = 0;
    if (forward) {
        if (!hasCurrent) {
            target = 0;
        } else if (found == candidates.end()) {
            return;  // the focus sits on something the walk does not visit
        } else {
            target = (static_cast<size_t>(found - candidates.begin()) + 1) % count;
        }
    } else {
        if (hasCurrent && found != candidates.end() && found != candidates.begin()) {
            target = static_cast<size_t>(found - candidates.begin()) - 1;
        } else {
            target = count - 1;
        }
    }
    candidates[target]->handle->setFocus(Qt::OtherFocusReason);
}

int32_t FocusedControl() {
    return ControlNumberOf(QApplication::focusWidget());
}
