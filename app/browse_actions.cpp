#include "app/browse_actions.h"

#include "app/shell_state.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

void BrowseSource() {
  Shell.SourcePath = AskOpenFile(u"Source", GetControlText(SourceField), FileTypePattern, 0);
  if (Shell.SourcePath.empty()) return;  // cancelled: the field keeps its text
  SetControlText(SourceField, Shell.SourcePath);
}

void BrowseDestination() {
  Shell.DestinationPath = AskSaveFile(u"Destination", GetControlText(DestinationField), FileTypePattern, 0);
  if (!Shell.DestinationPath.empty()) SetControlText(DestinationField, Shell.DestinationPath);
}
