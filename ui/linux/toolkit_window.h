// The toolkit's top-level window: a plain QWidget that turns Qt's window events into the
// toolkit's event codes and never closes itself when the user asks it to.
#pragma once

#include <QWidget>

#include <cstdint>

class ToolkitWindow : public QWidget {
  public:
    ToolkitWindow(int32_t number, Qt::WindowFlags flags);
    int32_t number() const { return number_; }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int32_t number_;
};
