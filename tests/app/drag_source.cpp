// A stand-in file manager for the window tests: a small window that starts a real drag of
// the files named on its command line when the mouse is pressed in it, as a file manager
// does, so the drop reaches the tool through the window system's own drag and drop. It
// prints the action the target took and ends after one drag.
// usage: drag_source X Y FILE...
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {

class DragSource : public QLabel {
  public:
    explicit DragSource(QList<QUrl> files)
        : QLabel(QStringLiteral("drag me")), files_(std::move(files)) {
        setWindowTitle(QStringLiteral("drag source"));
        setAlignment(Qt::AlignCenter);
        resize(120, 80);
    }

  protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* data = new QMimeData;
        data->setUrls(files_);
        QDrag drag(this);
        drag.setMimeData(data);
        const Qt::DropAction action = drag.exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
        std::printf("drag ended: %d\n", static_cast<int>(action));
        std::fflush(stdout);
        QApplication::quit();
    }

  private:
    QList<QUrl> files_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QList<QUrl> files;
    for (int i = 3; i < argc; ++i)
        files.push_back(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
    DragSource source(files);
    source.move(std::atoi(argv[1]), std::atoi(argv[2]));
    source.show();
    return application.exec();
}
