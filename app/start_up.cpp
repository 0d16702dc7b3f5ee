#include "app/start_up.h"

#include "app/browse_actions.h"
#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/shell_state.h"
#include "avifile/avi_file.h"
#include "support/child_runner.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

ShellState Shell;

void StartUpShell() {
    Shell = ShellState{};
    InitWindows();
    SetProgramIdentity(u"" REFRAME_APP_ID, u":/reframe/icons");
    InitControls();
    InitProcessServices();
    InitRequesters();
    AVIFileInit();
}

void ShutDownShell() {
    AVIFileExit();
    FreeControls();
    CloseAllWindows();
}

int32_t RunShell() {
    StartUpShell();
    if (BuildMainWindow() != nullptr) {
        RefuseCommandLineNamesThatAreNotText();
        FillSizesFromCommandLineSource();
        RunEventLoop();
    }
    ShutDownShell();
    return 0;
}
