// Files dragged from a file manager onto a toolkit window: the drag is accepted wherever it
// is over the window, and the drop becomes one EVENT_DROP_FILES naming the first local file
// and the control under the pointer. Text fields would otherwise insert the file's address
// as text; drags that carry no local file keep Qt's own handling.
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "ui/linux/toolkit_state.h"
#include "ui/window_toolkit.h"

namespace {

// The first dropped item that is a local file, as a path; empty when there is none.
QString FirstLocalFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            QString path = url.toLocalFile();
            if (!path.isEmpty()) return path;
        }
    }
    return {};
}

// The numbered control `widget` is or lies inside, -1 for the window's own area.
int32_t ControlUnder(const QWidget* widget) {
    for (; widget != nullptr && !widget->isWindow(); widget = widget->parentWidget()) {
        const int32_t number = ControlNumberOf(widget);
        // The options frame holds other controls; a drop on its background is a drop on the window.
        if (number >= 0) return widget->inherits("QGroupBox") ? -1 : number;
    }
    return -1;
}

class DropRules : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::DragLeave) seenFile_.clear();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr) return false;
        const int32_t window = WindowNumberOf(widget);
        if (window < 0) return false;  // dialogs keep their own drop rules
        auto* drop = static_cast<QDropEvent*>(event);
        QString file = FirstLocalFile(drop->mimeData());
        // From another program the data is fetched anew at each step, and at the drop some
        // sources no longer hand it over; what this drag carried on its way in still stands.
        if (file.isEmpty() && type == QEvent::Drop) file = seenFile_;
        if (type == QEvent::DragEnter) seenFile_ = file;
        if (file.isEmpty()) return false;
        seenFile_ = file;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (type == QEvent::Drop) {
            RaiseFileDrop(window, FileDrop{file.toStdU16String(), ControlUnder(widget)});
            seenFile_.clear();
        }
        return true;
    }

  private:
    QString seenFile_;
};

}  // namespace

void InstallDropRules() {
    QCoreApplication* application = QCoreApplication::instance();
    application->installEventFilter(new DropRules(application));
}
