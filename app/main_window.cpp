#include "app/main_window.h"

#include "app/shell_state.h"
#include "support/program_parameters.h"

WindowHandleType BuildMainWindow() {
    if (NewWindow(MAIN_WINDOW, 5, 5, 400, 250, u"Reframe " REFRAME_VERSION, MAIN_WINDOW_FLAGS) ==
        nullptr) {
        return nullptr;
    }
    if (BeginControls(WindowHandle(MAIN_WINDOW)) == 0) {
        DisposeWindow(MAIN_WINDOW);
        return nullptr;
    }
    // Creation order is the Tab order, and later controls lie above earlier ones (the size
    // fields and boxes above the options frame).
    AddLabel(SourceLabel, 10, 10, 70, 20, u"Source:");
    AddLabel(DestinationLabel, 10, 40, 70, 18, u"Destination:");
    AddTextField(SourceField, 90, 10, 250, 18, NextParameter());
    AddTextField(DestinationField, 90, 40, 250, 20, NextParameter());
    AddButton(SourceBrowseButton, 350, 10, 40, 18, u"...");
    AddButton(DestinationBrowseButton, 350, 40, 40, 18, u"...");
    AddFrame(OptionsFrame, 10, 70, 380, 110, u"Options");
    AddLabel(WidthLabel, 20, 90, 70, 18, u"Width:");
    AddLabel(HeightLabel, 20, 120, 70, 18, u"Height:");
    AddTextField(WidthField, 100, 90, 130, 18, u"", ES_NUMBER);
    AddTextField(HeightField, 100, 120, 130, 18, u"", ES_NUMBER);
    AddCheckBox(AntiAliasingBox, 20, 150, 130, 20, u"Anti aliasing");
    AddCheckBox(NoVideoStreamsBox, 245, 90, 130, 20, u"Don't copy video streams");
    AddCheckBox(NoAudioStreamsBox, 245, 120, 130, 20, u"Don't copy audio streams");
    AddCheckBox(NoOtherStreamsBox, 245, 150, 130, 20, u"Don't copy other streams");
    AddButton(StartButton, 10, 190, 90, 50, u"Start", BS_DEFPUSHBUTTON);
    AddTextField(StatusLine, 110, 190, 280, 20, u"", ES_READONLY);
    AddProgressBar(ProgressBar, 110, 220, 280, 20, 0, 100);
    return WindowHandle(MAIN_WINDOW);
}
