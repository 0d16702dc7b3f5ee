// The real shell (start-up, window, event loop, shutdown) with one addition for the
// window tests: every 50 ms it writes what the window shows to the file named by
// REFRAME_PROBE_REPORT, so a script driving the window from outside can check texts,
// ticks and the keyboard focus.
#include <QFile>
#include <QTimer>

#include <cstdlib>

#include "app/browse_actions.h"
#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "support/program_parameters.h"
#include "ui/linux/toolkit_state.h"
#include "ui/window_toolkit.h"

namespace {

void WriteReport(const QString& path) {
    QString report = QStringLiteral("focus %1\n").arg(FocusedControl());
    for (int32_t number = 0; number <= 17; ++number) {
        report += QStringLiteral("state %1 %2\n").arg(number).arg(GetControlState(number));
        report += QStringLiteral("text %1 %2\n")
                      .arg(number)
                      .arg(QString::fromStdU16String(GetControlText(number)));
    }
    // Written aside and renamed, so the reader never sees half a report.
    QFile file(path + QStringLiteral(".new"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    file.write(report.toUtf8());
    file.close();
    QFile::remove(path);
    QFile::rename(path + QStringLiteral(".new"), path);
}

}  // namespace

int main(int argc, char** argv) {
    SetProgramArguments(argc, argv);
    StartUpShell();
    if (BuildMainWindow() == nullptr) return 2;
    RefuseCommandLineNamesThatAreNotText();
    FillSizesFromCommandLineSource();
    const char* reportPath = std::getenv("REFRAME_PROBE_REPORT");
    QTimer timer;
    if (reportPath != nullptr) {
        const QString path = QString::fromLocal8Bit(reportPath);
        QObject::connect(&timer, &QTimer::timeout, [path] { WriteReport(path); });
        timer.start(50);
    }
    RunEventLoop();
    timer.stop();
    ShutDownShell();
    return 0;
}
