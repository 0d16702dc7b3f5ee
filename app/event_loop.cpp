#include "app/event_loop.h"

#include "app/browse_actions.h"
#include "app/conversion_job.h"
#include "app/shell_state.h"
#include "ui/window_toolkit.h"

void RunEventLoop() {
    while (Shell.QuitRequested == 0) {
        Shell.LastEvent = WaitEvent();
        Shell.LastEventControl = EventControl();
        if (Shell.LastEvent == EVENT_CLOSE_WINDOW) {
            Shell.QuitRequested = 1;
        } else if (Shell.LastEvent == EVENT_CONTROL) {
            // Every control reports; only the three buttons start something.
            switch (Shell.LastEventControl) {
                case SourceBrowseButton:
                    BrowseSource();
                    break;
                case DestinationBrowseButton:
                    BrowseDestination();
                    break;
                case StartButton:
                    RunConversionJob();
                    break;
                default:
                    break;
            }
        } else if (Shell.LastEvent == EVENT_DROP_FILES) {
            TakeDroppedFile();
        }
    }
}
